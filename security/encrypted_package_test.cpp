// Package decryption through the channel handler, on real files and the real
// bcrypt of the test's Wine prefix.
#include "security/encrypted_package.h"

#include <windows.h>
#include <gtest/gtest.h>
#include <psapi.h>

#include <optional>
#include <string>
#include <vector>

#include "security/security_channel_handler.h"
#include "security/testing/fake_crypto_provider.h"
#include "security/testing/package_fixture.h"
#include "testing/allocation_failure.h"
#include "util/hex.h"

namespace tw::security::test {
namespace {

constexpr char kAuthFailed[] = "Package authentication failed";
constexpr char kInvalidPackage[] = "Invalid encrypted package";

// The bytes of a hexadecimal literal of these tests (which are well-formed).
Bytes FromHex(std::string_view hex) { return tw::ParseHex(hex).value(); }

class PackageTest : public ::testing::Test {
 protected:
  std::wstring Package() const { return folder_ / L"package.vqe"; }
  std::wstring Destination() const { return folder_ / L"plain.bin"; }

  void WritePackage(const Bytes& bytes) { ASSERT_TRUE(WriteWholeFile(Package(), bytes)); }

  // Runs `run` once with no destination and once with an existing one, and
  // checks after each that the answer is the error and the destination and
  // the folder are as before.
  template <typename Run>
  void ExpectFailureLeavesDestination(const std::string& message, Run run) {
    const std::vector<std::wstring> before_absent = ListFolder(folder_.path());
    SCOPED_TRACE("destination absent");
    EXPECT_TRUE(IsError(run(), "decrypt_failed", message));
    EXPECT_FALSE(FileExists(Destination()));
    EXPECT_EQ(ListFolder(folder_.path()), before_absent);

    const Bytes existing = Text("the user's earlier file");
    ASSERT_TRUE(WriteWholeFile(Destination(), existing));
    const std::vector<std::wstring> before_existing = ListFolder(folder_.path());
    SCOPED_TRACE("destination existing");
    EXPECT_TRUE(IsError(run(), "decrypt_failed", message));
    EXPECT_EQ(ReadWholeFile(Destination()), existing);
    EXPECT_EQ(ListFolder(folder_.path()), before_existing);
    ::DeleteFileW(Destination().c_str());
  }

  ScratchFolder folder_;
};

TEST_F(PackageTest, DecryptsAPackageSealedElsewhere) {
  // Two records made with an independent AES-GCM implementation: key 00..1f,
  // additional data "VQEXE01".
  const Bytes package = Concat(
      {Header(), LengthField(15), FromHex("101112131415161718191a1b"),
       FromHex("8c07c96b08a7e2ff3e73ab60ef51ac0c"), FromHex("1290fd363aa45bdfa6556b757a1702"),
       LengthField(6), FromHex("a0a0a0a0a0a0a0a0a0a0a0a0"),
       FromHex("90f5355ff4f11df15b98ecb604c10757"), FromHex("254e4297c9ab")});
  WritePackage(package);
  const Answer answer = DecryptFiles(Package(), Destination());
  ASSERT_TRUE(IsSuccess(answer));
  EXPECT_EQ(answer.value, flutter::EncodableValue(true));
  EXPECT_EQ(ReadWholeFile(Destination()),
            Concat({Text("one small chunk"), Bytes{0x00, 0xFF}, Text(" two")}));
  EXPECT_EQ(ListFolder(folder_.path()), (std::vector<std::wstring>{L"package.vqe", L"plain.bin"}));

  // The sealer used by the other tests makes the same bytes.
  ChunkSealer sealer;
  std::string error;
  const Bytes key = TestKey();
  ASSERT_TRUE(sealer.Init(key.data(), key.size(), &error));
  Bytes record;
  const Bytes nonce = FromHex("101112131415161718191a1b");
  ASSERT_TRUE(sealer.Seal(Text("one small chunk").data(), 15, nonce.data(), &record));
  EXPECT_EQ(Concat({Header(), record}), Bytes(package.begin(), package.begin() + 8 + 32 + 15));
}

TEST_F(PackageTest, RoundTripsChunksOfManySizesIncludingTheLargest) {
  const std::vector<Bytes> chunks = {Pattern(1, 1),  Pattern(15, 2),    Pattern(16, 3),
                                     Pattern(17, 4), Pattern(65537, 5), Pattern(1048576, 6),
                                     Pattern(3, 7)};
  WritePackage(SealPackage(chunks));
  ASSERT_TRUE(IsSuccess(DecryptFiles(Package(), Destination())));
  EXPECT_EQ(ReadWholeFile(Destination()), Concat(chunks));
}

TEST_F(PackageTest, HeaderAloneGivesAnEmptyFile) {
  WritePackage(Header());
  ASSERT_TRUE(IsSuccess(DecryptFiles(Package(), Destination())));
  EXPECT_EQ(ReadWholeFile(Destination()), Bytes{});
  // An existing destination is replaced by the empty plain file.
  ASSERT_TRUE(WriteWholeFile(Destination(), Text("old")));
  ASSERT_TRUE(IsSuccess(DecryptFiles(Package(), Destination())));
  EXPECT_EQ(ReadWholeFile(Destination()), Bytes{});
}

TEST_F(PackageTest, SuccessReplacesAnExistingDestination) {
  ASSERT_TRUE(WriteWholeFile(Destination(), Pattern(5000, 9)));
  WritePackage(SealPackage({Text("new")}));
  ASSERT_TRUE(IsSuccess(DecryptFiles(Package(), Destination())));
  EXPECT_EQ(ReadWholeFile(Destination()), Text("new"));
  EXPECT_EQ(ListFolder(folder_.path()), (std::vector<std::wstring>{L"package.vqe", L"plain.bin"}));
}

TEST_F(PackageTest, BadPackagesLeaveTheDestinationAsItWas) {
  const Bytes good = SealPackage({Pattern(40, 1), Pattern(50, 2), Pattern(30, 3)});
  const std::size_t second_tag = 8 + (32 + 40) + 4 + 12;
  Bytes altered_tag = good;
  altered_tag[second_tag] ^= 0x01;
  Bytes cr_header = good;
  cr_header[7] = '\r';
  Bytes lower_header = good;
  lower_header[0] = 'v';
  const Bytes filler(64, 0);
  struct Case {
    const char* name;
    Bytes package;
    Bytes key;
    std::string message;
  };
  const Case cases[] = {
      {"empty file", {}, TestKey(), kInvalidPackage},
      {"seven bytes", Text("VQEXE01"), TestKey(), kInvalidPackage},
      {"carriage return ends the header", cr_header, TestKey(), kInvalidPackage},
      {"header in lower case", lower_header, TestKey(), kInvalidPackage},
      {"header and one byte", Concat({Header(), {0x00}}), TestKey(), kAuthFailed},
      {"header and three bytes", Concat({Header(), {0x00, 0x00, 0x01}}), TestKey(), kAuthFailed},
      {"length 0", Concat({Header(), LengthField(0), filler}), TestKey(), kAuthFailed},
      // Sealed correctly, so only the length bound can refuse it.
      {"length 1048577", Concat({Header(), SealRecordOfAnyLength(Pattern(1048577, 8), 1)}),
       TestKey(), kAuthFailed},
      {"length beyond the file", Concat({Header(), LengthField(100), filler}), TestKey(),
       kAuthFailed},
      {"second tag altered", altered_tag, TestKey(), kAuthFailed},
      {"wrong key", good, TestKey(1), kAuthFailed},
      {"last record cut short", Bytes(good.begin(), good.end() - 1), TestKey(), kAuthFailed},
      {"stray bytes after the last record", Concat({good, {0x00, 0x00}}), TestKey(), kAuthFailed},
      {"record header without ciphertext", Concat({good, LengthField(1), Bytes(28, 0)}), TestKey(),
       kAuthFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WritePackage(c.package);
    ExpectFailureLeavesDestination(c.message,
                                   [&] { return DecryptFiles(Package(), Destination(), c.key); });
  }
}

TEST_F(PackageTest, MissingSourceLeavesNoDestination) {
  ExpectFailureLeavesDestination(
      kInvalidPackage, [&] { return DecryptFiles(folder_ / L"absent.vqe", Destination()); });
}

TEST_F(PackageTest, ExchangedRecordsStillDecryptInTheirNewOrder) {
  const Bytes first = SealRecords({Text("first chunk")});
  Bytes second_only = SealRecords({Text("x"), Text("second")});
  const Bytes second(second_only.begin() + 33, second_only.end());
  WritePackage(Concat({Header(), second, first}));
  ASSERT_TRUE(IsSuccess(DecryptFiles(Package(), Destination())));
  EXPECT_EQ(ReadWholeFile(Destination()), Text("secondfirst chunk"));
}

TEST_F(PackageTest, ArgumentFailuresTouchNoFile) {
  WritePackage(SealPackage({Text("abc")}));
  const std::string source = ::tw::Utf16ToUtf8Lossy(Package());
  const std::string destination = ::tw::Utf16ToUtf8Lossy(Destination());
  auto with = [&](const char* key, flutter::EncodableValue value) {
    flutter::EncodableMap map = DecryptArguments(source, destination, TestKey());
    map[flutter::EncodableValue(key)] = std::move(value);
    return map;
  };
  auto without = [&](const char* key) {
    flutter::EncodableMap map = DecryptArguments(source, destination, TestKey());
    map.erase(flutter::EncodableValue(key));
    return map;
  };
  flutter::EncodableMap no_source_bad_key = without("source");
  no_source_bad_key[flutter::EncodableValue("key")] = flutter::EncodableValue("not bytes");
  flutter::EncodableMap bad_source_no_key = with("source", flutter::EncodableValue(int32_t{1}));
  bad_source_no_key.erase(flutter::EncodableValue("key"));
  flutter::EncodableMap short_key_bad_path = with("key", flutter::EncodableValue(Bytes(16, 1)));
  short_key_bad_path[flutter::EncodableValue("source")] = flutter::EncodableValue("\xC3");

  struct Case {
    const char* name;
    flutter::EncodableMap map;
    std::string message;
  };
  const Case cases[] = {
      {"no key", without("key"), "invalid map<K, T> key"},
      {"no source", without("source"), "invalid map<K, T> key"},
      {"no destination", without("destination"), "invalid map<K, T> key"},
      {"key as a string", with("key", flutter::EncodableValue("0123456789abcdef0123456789abcdef")),
       "bad variant access"},
      {"source as an int", with("source", flutter::EncodableValue(int32_t{1})),
       "bad variant access"},
      {"destination as bytes", with("destination", flutter::EncodableValue(Bytes{'a'})),
       "bad variant access"},
      {"missing source decides before a bad key", no_source_bad_key, "invalid map<K, T> key"},
      {"bad source decides before a missing key", bad_source_no_key, "bad variant access"},
      {"16-byte key", with("key", flutter::EncodableValue(Bytes(16, 1))), "Invalid AES key"},
      {"24-byte key", with("key", flutter::EncodableValue(Bytes(24, 1))), "Invalid AES key"},
      {"33-byte key", with("key", flutter::EncodableValue(Bytes(33, 1))), "Invalid AES key"},
      {"empty key", with("key", flutter::EncodableValue(Bytes{})), "Invalid AES key"},
      {"key decides before the path", short_key_bad_path, "Invalid AES key"},
      {"ill-formed source", with("source", flutter::EncodableValue(source + "\xFF")),
       "Invalid file path"},
      {"surrogate in destination",
       with("destination", flutter::EncodableValue(destination + "\xED\xA0\x80")),
       "Invalid file path"},
      {"NUL in destination",
       with("destination", flutter::EncodableValue(destination + std::string("\0.txt", 5))),
       "Invalid file path"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailureLeavesDestination(
        c.message, [&] { return Call("decryptPackage", flutter::EncodableValue(c.map)); });
  }
}

TEST_F(PackageTest, ExtraEntriesAreIgnored) {
  WritePackage(SealPackage({Text("abc")}));
  flutter::EncodableMap map = DecryptArguments(::tw::Utf16ToUtf8Lossy(Package()),
                                               ::tw::Utf16ToUtf8Lossy(Destination()), TestKey());
  map.emplace(flutter::EncodableValue("overwrite"), flutter::EncodableValue(false));
  map.emplace(flutter::EncodableValue(int32_t{3}), flutter::EncodableValue());
  ASSERT_TRUE(IsSuccess(Call("decryptPackage", flutter::EncodableValue(map))));
  EXPECT_EQ(ReadWholeFile(Destination()), Text("abc"));
}

TEST_F(PackageTest, DestinationNamingTheSourceIsReplacedOnlyOnSuccess) {
  Bytes bad = SealPackage({Text("first"), Text("second")});
  bad.back() ^= 0x40;
  WritePackage(bad);
  EXPECT_TRUE(IsError(DecryptFiles(Package(), Package()), "decrypt_failed", kAuthFailed));
  EXPECT_EQ(ReadWholeFile(Package()), bad);

  WritePackage(SealPackage({Text("first"), Text("second")}));
  ASSERT_TRUE(IsSuccess(DecryptFiles(Package(), Package())));
  EXPECT_EQ(ReadWholeFile(Package()), Text("firstsecond"));
  EXPECT_EQ(ListFolder(folder_.path()), std::vector<std::wstring>{L"package.vqe"});
}

TEST_F(PackageTest, DestinationThatCannotBeWrittenIsReported) {
  WritePackage(SealPackage({Text("abc")}));
  // No such folder: the temporary file cannot be made.
  EXPECT_TRUE(IsError(DecryptFiles(Package(), folder_ / L"no-such-folder\\plain.bin"),
                      "decrypt_failed", "Unable to create the destination file"));
  // A path that names a folder rather than a file.
  EXPECT_TRUE(IsError(DecryptFiles(Package(), folder_.path() + L"\\"), "decrypt_failed",
                      "Unable to create the destination file"));
  // An existing folder cannot be replaced by a file; it keeps its content.
  const std::wstring taken = folder_ / L"taken";
  ASSERT_TRUE(::CreateDirectoryW(taken.c_str(), nullptr));
  ASSERT_TRUE(WriteWholeFile(taken + L"\\inside.txt", Text("kept")));
  EXPECT_TRUE(IsError(DecryptFiles(Package(), taken), "decrypt_failed",
                      "Unable to replace the destination file"));
  EXPECT_EQ(ReadWholeFile(taken + L"\\inside.txt"), Text("kept"));
  EXPECT_EQ(ListFolder(folder_.path()), (std::vector<std::wstring>{L"package.vqe", L"taken"}));
  // The package's own failures come first.
  WritePackage(Text("not a package"));
  EXPECT_TRUE(IsError(DecryptFiles(Package(), folder_ / L"no-such-folder\\plain.bin"),
                      "decrypt_failed", kInvalidPackage));
}

TEST_F(PackageTest, NonAsciiPaths) {
  const std::wstring sub = folder_ / L"\u043f\u0430\u043a\u0435\u0442 \u00fc \u6587\u4ef6";
  ASSERT_TRUE(::CreateDirectoryW(sub.c_str(), nullptr));
  const std::wstring source = sub + L"\\\u0434\u0430\u043d\u043d\u044b\u0435.vqe";
  const std::wstring destination = sub + L"\\plain-\u00e9\U0001F600.bin";
  ASSERT_TRUE(WriteWholeFile(source, SealPackage({Text("unicode")})));
  ASSERT_TRUE(IsSuccess(DecryptFiles(source, destination)));
  EXPECT_EQ(ReadWholeFile(destination), Text("unicode"));
}

TEST_F(PackageTest, RelativePathsResolveAgainstTheCurrentDirectory) {
  WritePackage(SealPackage({Text("relative")}));
  wchar_t previous[MAX_PATH];
  ASSERT_NE(::GetCurrentDirectoryW(MAX_PATH, previous), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryW(folder_.path().c_str()));
  const Answer answer =
      Call("decryptPackage",
           flutter::EncodableValue(DecryptArguments("package.vqe", "out.bin", TestKey())));
  ::SetCurrentDirectoryW(previous);
  ASSERT_TRUE(IsSuccess(answer));
  EXPECT_EQ(ReadWholeFile(folder_ / L"out.bin"), Text("relative"));
}

TEST_F(PackageTest, ProviderFailures) {
  WritePackage(SealPackage({Text("abc")}));
  {
    FakeCryptoProvider provider;
    provider.FailToOpen();
    ExpectFailureLeavesDestination("AES unavailable",
                                   [&] { return DecryptFiles(Package(), Destination()); });
    EXPECT_EQ(provider.requested(), (std::vector<std::wstring>{L"AES", L"AES"}));
  }
  {
    // A hash provider takes no chaining mode: the key setup fails for real.
    FakeCryptoProvider provider;
    provider.OpenInstead(L"SHA256");
    ExpectFailureLeavesDestination("AES key setup failed",
                                   [&] { return DecryptFiles(Package(), Destination()); });
  }
  ASSERT_TRUE(IsSuccess(DecryptFiles(Package(), Destination())));
}

TEST_F(PackageTest, ReportsProgressPerChunk) {
  const Bytes package = SealPackage({Pattern(100, 1), Pattern(200, 2)});
  WritePackage(package);
  std::vector<std::uint64_t> done;
  const Bytes key = TestKey();
  const PackageStatus status = DecryptPackageFile(Package(), Destination(), key.data(), key.size(),
                                                  [&](std::uint64_t d, std::uint64_t total) {
                                                    done.push_back(d);
                                                    EXPECT_EQ(total, package.size());
                                                  });
  ASSERT_TRUE(status.ok) << status.message;
  EXPECT_EQ(done, (std::vector<std::uint64_t>{8 + 132, package.size()}));
}

// The folder's entries that the decryption made: neither the package nor the
// destination.
std::vector<std::wstring> TemporaryEntries(const std::wstring& folder) {
  std::vector<std::wstring> found;
  for (const std::wstring& name : ListFolder(folder)) {
    if (name != L"package.vqe" && name != L"plain.bin") found.push_back(name);
  }
  return found;
}

TEST_F(PackageTest, TemporaryFileIsClosedToOthersAndGoneAtTheEnd) {
  Bytes altered = SealPackage({Pattern(300, 1), Pattern(300, 2), Pattern(300, 3)});
  altered[8 + (32 + 300) + 16] ^= 0x01;  // the second record's tag
  struct Case {
    const char* name;
    Bytes package;
    bool succeeds;
    std::vector<std::wstring> after;
  };
  const Case cases[] = {
      {"success",
       SealPackage({Pattern(300, 1), Pattern(300, 2), Pattern(300, 3)}),
       true,
       {L"package.vqe", L"plain.bin"}},
      {"second tag altered", altered, false, {L"package.vqe"}},
  };
  std::vector<std::wstring> names_of_earlier_runs;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WritePackage(c.package);
    std::vector<std::wstring> seen;
    const Bytes key = TestKey();
    const PackageStatus status = DecryptPackageFile(
        Package(), Destination(), key.data(), key.size(), [&](std::uint64_t, std::uint64_t) {
          const std::vector<std::wstring> temporary = TemporaryEntries(folder_.path());
          ASSERT_EQ(temporary.size(), 1u);
          seen.push_back(temporary[0]);
          const std::wstring path = folder_ / temporary[0];
          // No reader (a scanner, an indexer, a sync client) and no writer
          // gets a handle to the plain bytes.
          for (DWORD access : {DWORD{GENERIC_READ}, DWORD{FILE_READ_DATA}, DWORD{GENERIC_WRITE}}) {
            UniqueFile other(::CreateFileW(path.c_str(), access,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
            const DWORD error = ::GetLastError();
            EXPECT_FALSE(other) << "access " << std::hex << access;
            EXPECT_TRUE(error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) << error;
          }
        });
    EXPECT_EQ(status.ok, c.succeeds) << status.message;
    ASSERT_FALSE(seen.empty());
    for (const std::wstring& name : seen) {
      EXPECT_EQ(name, seen[0]);
      EXPECT_TRUE(IsTemporaryName(name)) << ::tw::Utf16ToUtf8Lossy(name);
      EXPECT_EQ(name.find(L"plain"), std::wstring::npos);
    }
    for (const std::wstring& earlier : names_of_earlier_runs) EXPECT_NE(seen[0], earlier);
    names_of_earlier_runs.push_back(seen[0]);
    EXPECT_EQ(ListFolder(folder_.path()), c.after);
    ::DeleteFileW(Destination().c_str());
  }
}

TEST_F(PackageTest, DestinationNamesUpTo255CharactersDecrypt) {
  WritePackage(SealPackage({Text("long name")}));
  for (std::size_t length : {231u, 232u, 250u, 255u}) {
    SCOPED_TRACE(length);
    const std::wstring name = std::wstring(length - 4, L'd') + L".bin";
    const std::wstring destination = folder_ / name;
    ASSERT_TRUE(IsSuccess(DecryptFiles(Package(), destination)));
    // The "\\?\" form reads it back wherever the folder is.
    EXPECT_EQ(ReadWholeFile(L"\\\\?\\" + destination), Text("long name"));
    EXPECT_EQ(ListFolder(folder_.path()), (std::vector<std::wstring>{name, L"package.vqe"}));
    ::DeleteFileW((L"\\\\?\\" + destination).c_str());
  }
}

TEST_F(PackageTest, UnreadableHeaderIsNoPackageAndUnreadableRecordFailsAuthentication) {
  // Reads of the package fail after `served` bytes, as the reads of a
  // failing disk do, though the whole package is there. The record cases
  // read the header in full, so the file does deliver.
  const Bytes good = SealPackage({Pattern(100, 1), Pattern(100, 2)});
  WritePackage(good);
  struct Case {
    const char* name;
    std::size_t served;
    std::string message;
  };
  const Case cases[] = {
      {"nothing readable", 0, kInvalidPackage},
      {"header cut by a read error", 5, kInvalidPackage},
      {"first record cut by a read error", 8 + 20, kAuthFailed},
      {"second ciphertext cut by a read error", 8 + 132 + 32 + 50, kAuthFailed},
  };
  RecordingFileOperations files;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailureLeavesDestination(c.message, [&] {
      files.FailReadsAfter(c.served);
      return DecryptFiles(Package(), Destination());
    });
  }
}

TEST_F(PackageTest, SourceThatIsNoDiskFileIsRefusedAtOnce) {
  // A pipe whose server connects and then never writes: a read of it would
  // wait until the server goes (a minute here).
  ExpectFailureLeavesDestination(kInvalidPackage, [&] {
    PipeSource source(Bytes{}, /*hold_open=*/true);
    const ULONGLONG start = ::GetTickCount64();
    const Answer answer = DecryptFiles(source.path(), Destination());
    EXPECT_LT(::GetTickCount64() - start, 1000u);
    return answer;
  });
  // A console and a device are no packages either.
  for (const wchar_t* device : {L"CONIN$", L"NUL"}) {
    SCOPED_TRACE(::tw::Utf16ToUtf8Lossy(device));
    ExpectFailureLeavesDestination(kInvalidPackage,
                                   [&] { return DecryptFiles(device, Destination()); });
  }
}

TEST_F(PackageTest, RunningOutOfMemoryAnywhereAnswersOutOfMemory) {
  WritePackage(SealPackage({Pattern(70, 1), Pattern(70, 2)}));
  ASSERT_TRUE(WriteWholeFile(Destination(), Text("earlier")));
  const flutter::EncodableValue arguments(DecryptArguments(
      ::tw::Utf16ToUtf8Lossy(Package()), ::tw::Utf16ToUtf8Lossy(Destination()), TestKey()));
  // The n-th allocation of the call fails, for every n until the call makes
  // fewer than n.
  bool completed = false;
  for (long n = 1; n < 10000 && !completed; ++n) {
    SCOPED_TRACE(n);
    Answer answer;
    RecordingResult result(&answer);
    bool raised = false;
    bool failed = false;
    {
      const ::tw::test::FailAllocation fail(n);
      try {
        DecryptPackage(&arguments, result);
      } catch (...) {
        raised = true;
      }
      failed = fail.failed();
    }
    ASSERT_FALSE(raised);
    if (!failed) {
      completed = true;
      EXPECT_TRUE(IsSuccess(answer));
      EXPECT_GT(n, 5);  // the key copy, two paths, buffers: the loop did reach them
      continue;
    }
    EXPECT_TRUE(IsError(answer, "decrypt_failed", "Out of memory"));
    EXPECT_EQ(ReadWholeFile(Destination()), Text("earlier"));
    EXPECT_EQ(ListFolder(folder_.path()),
              (std::vector<std::wstring>{L"package.vqe", L"plain.bin"}));
  }
  EXPECT_TRUE(completed);
  EXPECT_EQ(ReadWholeFile(Destination()), Concat({Pattern(70, 1), Pattern(70, 2)}));
}

// Peak private bytes and peak working set of the process.
std::pair<SIZE_T, SIZE_T> PeakMemory() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  EXPECT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters));
  return {counters.PeakPagefileUsage, counters.PeakWorkingSetSize};
}

TEST_F(PackageTest, OversizedLengthIsRefusedBeforeAnyBufferIsMade) {
  // 40 bytes: the header and one record header claiming far more than the
  // file holds. Smaller claim first, so that a missing bound shows up before
  // the 4 GiB claim would zero-fill two buffers of that size.
  for (std::uint32_t claimed : {0x01000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(claimed);
    const Bytes package = Concat({Header(), LengthField(claimed), Pattern(28, 3)});
    ASSERT_EQ(package.size(), 40u);
    WritePackage(package);
    const auto before = PeakMemory();
    const Answer answer = DecryptFiles(Package(), Destination());
    const auto after = PeakMemory();
    EXPECT_TRUE(IsError(answer, "decrypt_failed", kAuthFailed));
    ASSERT_LT(after.first - before.first, SIZE_T{4} << 20) << "peak private bytes grew";
    ASSERT_LT(after.second - before.second, SIZE_T{4} << 20) << "peak working set grew";
  }
}

TEST_F(PackageTest, FileCallsInOrderAndEachFailureReported) {
  WritePackage(SealPackage({Text("first"), Text("second")}));
  RecordingFileOperations files;

  // The bytes are on disk before the file gets the destination's name, and it
  // keeps the delete-on-close mark until then. The POSIX rename comes first;
  // Wine refuses it, so the classic rename follows.
  ASSERT_TRUE(IsSuccess(DecryptFiles(Package(), Destination())));
  EXPECT_EQ(files.calls(), (std::vector<std::string>{"delete-on-close", "write", "write", "flush",
                                                     "keep", "rename-posix", "rename"}));
  EXPECT_EQ(ReadWholeFile(Destination()), Text("firstsecond"));
  ::DeleteFileW(Destination().c_str());

  struct Case {
    const char* failing;
    DWORD error;
    std::string message;
  };
  const Case cases[] = {
      {"delete-on-close", ERROR_ACCESS_DENIED, "Unable to create the destination file"},
      {"write", ERROR_DISK_FULL, "Unable to write the destination file"},
      {"flush", ERROR_IO_DEVICE, "Unable to write the destination file"},
      {"keep", ERROR_ACCESS_DENIED, "Unable to replace the destination file"},
      // Not a refusal of the class: the classic rename is not tried.
      {"rename-posix", ERROR_WRITE_PROTECT, "Unable to replace the destination file"},
      {"rename", ERROR_WRITE_PROTECT, "Unable to replace the destination file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    ExpectFailureLeavesDestination(c.message, [&] {
      files.Clear();
      files.Fail(c.failing, c.error);
      const Answer answer = DecryptFiles(Package(), Destination());
      files.Fail("", ERROR_SUCCESS);
      return answer;
    });
  }
}

TEST_F(PackageTest, RefusedRenameIsTriedAgainWithTheMarkSetWhileItWaits) {
  WritePackage(SealPackage({Text("new")}));
  ASSERT_TRUE(WriteWholeFile(Destination(), Text("old")));
  for (DWORD error : {DWORD{ERROR_SHARING_VIOLATION}, DWORD{ERROR_ACCESS_DENIED}}) {
    SCOPED_TRACE(error);
    RecordingFileOperations files;
    files.Fail("rename", error, /*times=*/2);
    ASSERT_TRUE(IsSuccess(DecryptFiles(Package(), Destination())));
    EXPECT_EQ(files.calls(),
              (std::vector<std::string>{"delete-on-close", "write", "flush", "keep", "rename-posix",
                                        "rename", "delete-on-close", "keep", "rename",
                                        "delete-on-close", "keep", "rename"}));
    EXPECT_EQ(ReadWholeFile(Destination()), Text("new"));
    ASSERT_TRUE(WriteWholeFile(Destination(), Text("old")));
  }
}

TEST_F(PackageTest, DestinationHeldOpenByAnotherProgram) {
  const Bytes plain = Concat({Pattern(5000, 1), Pattern(3000, 2)});
  WritePackage(SealPackage({Pattern(5000, 1), Pattern(3000, 2)}));
  const Bytes earlier = Text("the user's earlier file");
  {
    // Let go after a second: the replace waits for it and succeeds.
    ASSERT_TRUE(WriteWholeFile(Destination(), earlier));
    FileHolder holder(Destination(), 1000);
    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(IsSuccess(DecryptFiles(Package(), Destination())));
    EXPECT_GE(::GetTickCount64() - start, 900u);
  }
  EXPECT_EQ(ReadWholeFile(Destination()), plain);
  EXPECT_EQ(ListFolder(folder_.path()), (std::vector<std::wstring>{L"package.vqe", L"plain.bin"}));
  {
    // Held far longer than the bound: today's failure, once the bound has
    // passed and not much later.
    ASSERT_TRUE(WriteWholeFile(Destination(), earlier));
    FileHolder holder(Destination(), 20000);
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_TRUE(IsError(DecryptFiles(Package(), Destination()), "decrypt_failed",
                        "Unable to replace the destination file"));
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    EXPECT_GE(elapsed, 2900u);
    EXPECT_LE(elapsed, 4500u);
    EXPECT_EQ(ReadWholeFile(Destination()), earlier);
    EXPECT_EQ(ListFolder(folder_.path()),
              (std::vector<std::wstring>{L"package.vqe", L"plain.bin"}));
  }
}

TEST_F(PackageTest, EachPlainChunkIsWipedOnceWritten) {
  // Chunks of one size, then a smaller one: the plain buffer is made once,
  // so each write's bytes can still be looked at when the next call comes.
  const std::vector<Bytes> chunks = {Pattern(4096, 1), Pattern(4096, 2), Pattern(4096, 3),
                                     Pattern(100, 4)};
  WritePackage(SealPackage(chunks));
  RecordingFileOperations files;
  files.CheckWipeAfterEachWrite();
  ASSERT_TRUE(IsSuccess(DecryptFiles(Package(), Destination())));
  EXPECT_EQ(files.checked_writes(), 4);
  EXPECT_EQ(files.unwiped_writes(), std::vector<std::string>{});
  EXPECT_EQ(ReadWholeFile(Destination()), Concat(chunks));
}

}  // namespace
}  // namespace tw::security::test
