// Throughput and peak memory of "decryptPackage".
//
//   package_benchmark.exe FOLDER [--size-mib N]
//
// Seals an N MiB package (default 1024) of 1 MiB chunks into FOLDER, then
// times, in the same run and in alternating rounds (best of each kept):
//   decrypt  "decryptPackage" through SecurityChannelHandler, file to file;
//   memory   bcrypt AES-256-GCM decryption of the same records, in memory only;
//   copy     a plain copy of the package file in 1 MiB blocks, flushed at the end
//            like the decrypted file (also shown without the flush).
// It prints MB/s for each and the ratio decrypt / (memory + copy). Then it
// runs itself as a child (--peak) for a 16 MiB and an N MiB package and
// prints each child's peak working set and peak private bytes. Every file it
// made is removed at the end.
#include <windows.h>
#include <psapi.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "channels/method_call.h"
#include "security/aes_gcm.h"
#include "security/file_byte_source.h"
#include "security/package_format.h"
#include "security/package_reader.h"
#include "security/package_writer.h"
#include "security/random_bytes.h"
#include "security/security_channel_handler.h"
#include "testing/recording_result.h"
#include "util/file_io.h"
#include "util/hex.h"
#include "util/utf.h"
#include "util/win_handles.h"

namespace {

using tw::UniqueFile;
using tw::UniqueKernelHandle;

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Runs "decryptPackage" once; empty on success, the error otherwise.
std::string DecryptThroughHandler(const std::wstring& package, const std::wstring& destination,
                                  const std::vector<std::uint8_t>& key) {
  flutter::EncodableMap map;
  map.emplace(flutter::EncodableValue("source"),
              flutter::EncodableValue(::tw::Utf16ToUtf8Lossy(package)));
  map.emplace(flutter::EncodableValue("destination"),
              flutter::EncodableValue(::tw::Utf16ToUtf8Lossy(destination)));
  map.emplace(flutter::EncodableValue("key"), flutter::EncodableValue(key));
  flutter::MethodCall<> call("decryptPackage", std::make_unique<flutter::EncodableValue>(map));
  tw::test::Answer answer;
  tw::security::SecurityChannelHandler(call, std::make_unique<tw::test::RecordingResult>(&answer));
  switch (answer.kind) {
    case tw::test::Answer::Kind::kSuccess:
      return std::string();
    case tw::test::Answer::Kind::kError:
      return answer.code + ": " + answer.message;
    case tw::test::Answer::Kind::kNotImplemented:
      return "not implemented";
    case tw::test::Answer::Kind::kNone:
      break;
  }
  return "no answer";
}

bool MakePackage(const std::wstring& path, std::uint64_t size,
                 const std::vector<std::uint8_t>& key) {
  tw::security::ChunkSealer sealer;
  std::string error;
  if (!sealer.Init(key.data(), key.size(), &error)) return false;
  UniqueFile out(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return false;
  DWORD written = 0;
  if (!::WriteFile(out.get(), tw::security::kPackageHeader, 8, &written, nullptr)) return false;
  std::vector<std::uint8_t> plain(tw::security::kMaxChunkSize);
  std::vector<std::uint8_t> record;
  std::uint64_t x = 0x9E3779B97F4A7C15ull;
  std::uint8_t nonce[12] = {};
  for (std::uint64_t done = 0; done < size;) {
    const std::uint32_t n =
        static_cast<std::uint32_t>(size - done < plain.size() ? size - done : plain.size());
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      std::memcpy(&plain[i], &x, 8);
    }
    if (!tw::security::RandomBytes(nonce, sizeof nonce)) return false;
    record.clear();
    if (!sealer.Seal(plain.data(), n, nonce, &record)) return false;
    if (!::WriteFile(out.get(), record.data(), static_cast<DWORD>(record.size()), &written,
                     nullptr) ||
        written != record.size()) {
      return false;
    }
    done += n;
  }
  return true;
}

// Seconds for a 1 MiB-block copy; `flush_seconds` gets the time of the
// final flush alone.
double TimeCopy(const std::wstring& from, const std::wstring& to, double* flush_seconds) {
  const double start = Now();
  UniqueFile in(::CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  UniqueFile out(::CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in || !out) return -1;
  std::vector<std::uint8_t> block(1 << 20);
  for (;;) {
    DWORD got = 0, written = 0;
    if (!::ReadFile(in.get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr))
      return -1;
    if (got == 0) break;
    if (!::WriteFile(out.get(), block.data(), got, &written, nullptr) || written != got) return -1;
  }
  const double before_flush = Now();
  ::FlushFileBuffers(out.get());
  out.reset();
  const double end = Now();
  *flush_seconds = end - before_flush;
  return end - start;
}

// Seconds spent opening every record of the package in memory; the reads
// are not counted.
double TimeInMemory(const std::wstring& package, const std::vector<std::uint8_t>& key) {
  tw::security::AesGcmKey aes;
  if (aes.Init(key.data()) != tw::security::AesGcmKey::Status::kOk) return -1;
  tw::security::FileByteSource in(package);
  tw::security::PackageReader reader(&in);
  if (!in.is_open() || !reader.ReadHeader()) return -1;
  tw::security::ChunkRecord record;
  std::vector<std::uint8_t> ciphertext;
  std::vector<std::uint8_t> plain(tw::security::kMaxChunkSize);
  double total = 0;
  while (reader.Next(&record, &ciphertext)) {
    const double start = Now();
    const bool opened =
        aes.Open(record.nonce, record.tag, ciphertext.data(), record.length, plain.data());
    total += Now() - start;
    if (!opened) return -1;
  }
  return reader.problem() == tw::security::PackageReader::Problem::kNone ? total : -1;
}

// Runs this program with --peak for one package; returns the child's line.
std::string PeakOfChild(const std::wstring& package, const std::wstring& destination,
                        const std::wstring& key_hex) {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --peak \"" + package + L"\" \"" +
                         destination + L"\" " + key_hex;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inherit, 0)) return "pipe failed";
  UniqueKernelHandle reader(read_end), writer(write_end);
  ::SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writer.get();
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return "child failed to start";
  }
  UniqueKernelHandle child(process.hProcess), thread(process.hThread);
  writer.reset();
  std::string output;
  // Until the child closes its end.
  tw::ReadToEnd(reader.get(), &output);
  ::WaitForSingleObject(child.get(), INFINITE);
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  return output;
}

int PeakMain(const wchar_t* package, const wchar_t* destination, const wchar_t* key_hex) {
  const std::vector<std::uint8_t> key =
      tw::ParseHex(std::wstring_view(key_hex)).value_or(std::vector<std::uint8_t>());
  const std::string error = DecryptThroughHandler(package, destination, key);
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
  std::printf("peak working set %.2f MiB, peak private %.2f MiB%s%s\n",
              static_cast<double>(counters.PeakWorkingSetSize) / 1048576.0,
              static_cast<double>(counters.PeakPagefileUsage) / 1048576.0,
              error.empty() ? "" : ", FAILED: ", error.c_str());
  return error.empty() ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 5 && std::wstring(argv[1]) == L"--peak") return PeakMain(argv[2], argv[3], argv[4]);
  if (argc != 2 && !(argc == 4 && std::wstring(argv[2]) == L"--size-mib")) {
    std::fprintf(stderr, "usage: package_benchmark FOLDER [--size-mib N]\n");
    return 2;
  }
  const std::wstring folder = argv[1];
  const std::uint64_t size_mib = argc == 4 ? std::wcstoull(argv[3], nullptr, 10) : 1024;
  const std::uint64_t size = size_mib << 20;
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring package = folder + L"\\bench.vqe";
  const std::wstring small_package = folder + L"\\bench-16.vqe";
  const std::wstring plain = folder + L"\\bench.plain";
  const std::wstring copy = folder + L"\\bench.copy";

  std::vector<std::uint8_t> key(32);
  if (!tw::security::RandomBytes(key.data(), key.size())) return 1;
  const std::string key_text = tw::ToLowerHex(key.data(), key.size());
  const std::wstring key_hex(key_text.begin(), key_text.end());

  std::printf("sealing a %" PRIu64 " MiB package of 1 MiB chunks...\n", size_mib);
  std::fflush(stdout);
  if (!MakePackage(package, size, key) || !MakePackage(small_package, 16u << 20, key)) {
    std::fprintf(stderr, "could not make the packages\n");
    return 1;
  }

  double best_decrypt = 1e30, best_memory = 1e30, best_copy = 1e30, best_copy_no_flush = 1e30;
  double best_decrypt_flush_free = 1e30;
  const int rounds = 3;
  for (int round = 0; round < rounds; ++round) {
    double flush = 0;
    const double c = TimeCopy(package, copy, &flush);
    ::DeleteFileW(copy.c_str());
    const double m = TimeInMemory(package, key);
    const double start = Now();
    const std::string error = DecryptThroughHandler(package, plain, key);
    const double d = Now() - start;
    ::DeleteFileW(plain.c_str());
    if (c < 0 || m < 0 || !error.empty()) {
      std::fprintf(stderr, "round %d failed: %s\n", round, error.c_str());
      return 1;
    }
    std::printf("round %d: decrypt %.3f s, memory %.3f s, copy %.3f s (flush %.3f s)\n", round, d,
                m, c, flush);
    std::fflush(stdout);
    if (d < best_decrypt) best_decrypt = d, best_decrypt_flush_free = d - flush;
    if (m < best_memory) best_memory = m;
    if (c < best_copy) best_copy = c;
    if (c - flush < best_copy_no_flush) best_copy_no_flush = c - flush;
  }
  (void)best_decrypt_flush_free;

  const double mb = static_cast<double>(size) / 1e6;
  std::printf("\nbest of %d rounds, %" PRIu64 " MiB package:\n", rounds, size_mib);
  std::printf("  decryptPackage          %8.1f MB/s  (%.3f s)\n", mb / best_decrypt, best_decrypt);
  std::printf("  (a) in-memory GCM       %8.1f MB/s  (%.3f s)\n", mb / best_memory, best_memory);
  std::printf("  (b) file copy, flushed  %8.1f MB/s  (%.3f s)\n", mb / best_copy, best_copy);
  std::printf("      file copy, no flush %8.1f MB/s  (%.3f s)\n", mb / best_copy_no_flush,
              best_copy_no_flush);
  std::printf("  ratio decrypt / (a + b)            %.3f  (aim <= 1.15)\n",
              best_decrypt / (best_memory + best_copy));
  std::printf("  ratio decrypt / (a + b without flush) %.3f\n",
              best_decrypt / (best_memory + best_copy_no_flush));

  std::printf("\npeak memory of one decryptPackage call, each in a fresh process:\n");
  std::printf("  16 MiB package:   %s\n", PeakOfChild(small_package, plain, key_hex).c_str());
  ::DeleteFileW(plain.c_str());
  std::printf("  %4" PRIu64 " MiB package: %s\n", size_mib,
              PeakOfChild(package, plain, key_hex).c_str());
  ::DeleteFileW(plain.c_str());

  ::DeleteFileW(package.c_str());
  ::DeleteFileW(small_package.c_str());
  return 0;
}
