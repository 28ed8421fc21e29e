// tidewarden-pack: makes, opens and inspects encrypted packages.
//
//   tidewarden-pack keygen KEYFILE
//   tidewarden-pack seal --key KEYFILE [--chunk-size N] PLAIN PACKAGE
//   tidewarden-pack open --key KEYFILE PACKAGE PLAIN
//   tidewarden-pack inspect PACKAGE
//   tidewarden-pack --help
//
// Exit status 0 on success (and for --help or -h, which print the usage on
// standard output); 1 with the reason on standard error when the work fails,
// including an output that is one of the files the command reads; 2 with the
// usage text when the command line is wrong. "open" runs the launcher's own
// decryption and reports its messages. Long runs draw a progress bar on
// standard error when that is a console.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "security/encrypted_package.h"
#include "security/file_byte_source.h"
#include "security/key_file.h"
#include "security/package_format.h"
#include "security/package_reader.h"
#include "security/package_writer.h"
#include "util/secure_buffer.h"
#include "util/win_handles.h"

namespace {

using tw::UniqueFile;
using tw::security::kMaxChunkSize;

constexpr char kUsage[] =
    "usage: tidewarden-pack keygen KEYFILE\n"
    "       tidewarden-pack seal --key KEYFILE [--chunk-size N] PLAIN PACKAGE\n"
    "       tidewarden-pack open --key KEYFILE PACKAGE PLAIN\n"
    "       tidewarden-pack inspect PACKAGE\n"
    "       tidewarden-pack --help\n"
    "KEYFILE holds exactly 32 raw key bytes; N is 1 to 1048576 in decimal digits\n"
    "(default 1048576). The output may not be a file the command reads.\n";

int Usage(const char* problem = nullptr) {
  if (problem != nullptr) std::fprintf(stderr, "tidewarden-pack: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

// A bar on standard error for runs of 64 MiB and more, only on a console:
// redirected output gets no carriage-return noise.
class ProgressBar {
 public:
  ProgressBar() {
    DWORD mode = 0;
    console_ = ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
  }
  ~ProgressBar() {
    if (drawn_) std::fputc('\n', stderr);
  }
  void Update(std::uint64_t done, std::uint64_t total) {
    if (!console_ || total < (64u << 20)) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == percent_) return;
    percent_ = percent;
    drawn_ = true;
    char bar[41];
    for (int i = 0; i < 40; ++i) bar[i] = i < percent * 40 / 100 ? '#' : ' ';
    bar[40] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    std::fflush(stderr);
  }
  tw::security::PackageProgress Callback() {
    return [this](std::uint64_t done, std::uint64_t total) { Update(done, total); };
  }

 private:
  bool console_ = false;
  bool drawn_ = false;
  int percent_ = -1;
};

int Keygen(const std::wstring& path) {
  const tw::security::PackageStatus status = tw::security::CreateKeyFile(path);
  return status.ok ? 0 : Fail(status.message);
}

// Whether `output` is the same file as one of `inputs`, by volume and file
// index, so that "a.bin", ".\a.bin", another spelling of the folder or a
// hard link are all caught. An output that does not exist yet is none of
// them; it is looked at first, so an input that can be opened only once (a
// pipe) is not opened for nothing.
bool IsOneOf(const std::wstring& output, const std::vector<std::wstring>& inputs) {
  auto identify = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION* info) {
    UniqueFile file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, /*hTemplateFile=*/nullptr));
    return file && ::GetFileInformationByHandle(file.get(), info) != FALSE;
  };
  BY_HANDLE_FILE_INFORMATION out = {};
  if (!identify(output, &out)) return false;
  for (const std::wstring& input : inputs) {
    BY_HANDLE_FILE_INFORMATION in = {};
    if (identify(input, &in) && in.dwVolumeSerialNumber == out.dwVolumeSerialNumber &&
        in.nFileIndexHigh == out.nFileIndexHigh && in.nFileIndexLow == out.nFileIndexLow) {
      return true;
    }
  }
  return false;
}

constexpr char kSameFile[] = "The output file is one of the files this command reads";

int Seal(const std::wstring& key_path, std::uint32_t chunk_size, const std::wstring& plain,
         const std::wstring& package) {
  if (IsOneOf(package, {plain, key_path})) return Fail(kSameFile);
  tw::SecureBuffer<std::uint8_t> key;
  const tw::security::PackageStatus read = tw::security::ReadKeyFile(key_path, &key);
  if (!read.ok) return Fail(read.message);
  ProgressBar bar;
  const tw::security::PackageStatus status = tw::security::SealPackageFile(
      plain, package, key.data(), key.size(), chunk_size, bar.Callback());
  return status.ok ? 0 : Fail(status.message);
}

int Open(const std::wstring& key_path, const std::wstring& package, const std::wstring& plain) {
  if (IsOneOf(plain, {package, key_path})) return Fail(kSameFile);
  tw::SecureBuffer<std::uint8_t> key;
  const tw::security::PackageStatus read = tw::security::ReadKeyFile(key_path, &key);
  if (!read.ok) return Fail(read.message);
  ProgressBar bar;
  const tw::security::PackageStatus status =
      tw::security::DecryptPackageFile(package, plain, key.data(), key.size(), bar.Callback());
  return status.ok ? 0 : Fail(status.message);
}

// Walks the records without a key: the header, then each record's length
// and its bytes, as the launcher reads them.
int Inspect(const std::wstring& path) {
  tw::security::FileByteSource file(path);
  tw::security::PackageReader reader(&file);
  if (!file.is_open() || !reader.ReadHeader()) return Fail("Invalid encrypted package");
  std::uint64_t chunks = 0, plain_bytes = 0;
  std::vector<std::pair<std::uint32_t, std::uint64_t>> runs;  // size, count
  tw::security::ChunkRecord record;
  while (reader.Next(&record, /*ciphertext=*/nullptr)) {
    ++chunks;
    plain_bytes += record.length;
    if (!runs.empty() && runs.back().first == record.length) {
      ++runs.back().second;
    } else {
      runs.emplace_back(record.length, 1);
    }
  }
  // The record that failed starts where the whole ones end.
  const std::string at = " at offset " + std::to_string(reader.consumed());
  switch (reader.problem()) {
    case tw::security::PackageReader::Problem::kNone:
      break;
    case tw::security::PackageReader::Problem::kInvalidLength:
      return Fail("Invalid chunk length " + std::to_string(reader.invalid_length()) + at);
    default:
      return Fail("Truncated chunk record" + at);
  }
  std::string sizes;
  for (const auto& [length, count] : runs) {
    if (!sizes.empty()) sizes += ", ";
    sizes += std::to_string(length);
    if (count > 1) sizes += " x " + std::to_string(count);
  }
  std::printf("header: VQEXE01\nchunks: %llu\nplain bytes: %llu\nchunk sizes: %s\n",
              static_cast<unsigned long long>(chunks), static_cast<unsigned long long>(plain_bytes),
              sizes.empty() ? "none" : sizes.c_str());
  return 0;
}

// Decimal digits only (no sign, no blanks), leading zeros allowed, value in
// 1..1048576: "0001024" is 1024.
std::optional<std::uint32_t> ParseChunkSize(const std::wstring& text) {
  if (text.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - L'0');
    if (value > kMaxChunkSize) return std::nullopt;  // before it can overflow
  }
  if (!tw::security::IsValidChunkLength(value)) return std::nullopt;
  return value;
}

bool IsHelp(const std::wstring& arg) { return arg == L"--help" || arg == L"-h"; }

// An argument that can only be meant as an option, never as a file name or
// a value.
bool IsOption(const std::wstring& arg) {
  return IsHelp(arg) || (arg.size() > 1 && arg[0] == L'-' && arg[1] == L'-');
}

int Run(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  for (int i = 1; i < argc; ++i) {
    if (IsHelp(argv[i])) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    // An option's value is not looked at as an option of its own.
    if (i > 1 &&
        (std::wcscmp(argv[i], L"--key") == 0 || std::wcscmp(argv[i], L"--chunk-size") == 0))
      ++i;
  }
  const std::wstring command = argv[1];
  std::vector<std::wstring> positional;
  std::optional<std::wstring> key_path;
  std::optional<std::wstring> chunk_text;
  for (int i = 2; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--key" || arg == L"--chunk-size") {
      if (i + 1 >= argc || IsOption(argv[i + 1])) return Usage("an option is missing its value");
      (arg == L"--key" ? key_path : chunk_text) = argv[++i];
    } else if (IsOption(arg)) {
      return Usage("unknown option");
    } else {
      positional.push_back(arg);
    }
  }
  if (command == L"keygen") {
    if (positional.size() != 1 || key_path || chunk_text) return Usage();
    return Keygen(positional[0]);
  }
  if (command == L"seal") {
    if (positional.size() != 2 || !key_path) return Usage();
    std::uint32_t chunk_size = kMaxChunkSize;
    if (chunk_text) {
      const auto parsed = ParseChunkSize(*chunk_text);
      if (!parsed) return Usage("the chunk size must be 1 to 1048576");
      chunk_size = *parsed;
    }
    return Seal(*key_path, chunk_size, positional[0], positional[1]);
  }
  if (command == L"open") {
    if (positional.size() != 2 || !key_path || chunk_text) return Usage();
    return Open(*key_path, positional[0], positional[1]);
  }
  if (command == L"inspect") {
    if (positional.size() != 1 || key_path || chunk_text) return Usage();
    return Inspect(positional[0]);
  }
  return Usage("unknown command");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    return Fail("Out of memory");
  }
}
