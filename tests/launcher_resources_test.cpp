// The launcher's resources and image headers, read from the built file.
#include <windows.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runner/resources/resource.h"
#include "util/win_handles.h"

namespace {

// The staged launcher: launcher\ beside this test's own folder.
std::wstring LauncherPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  folder.resize(folder.find_last_of(L'\\') + 1);
  return folder + L"launcher\\tidewarden_launcher.exe";
}

class LauncherResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = LauncherPath();
    const DWORD size = ::GetFileVersionInfoSizeW(path_.c_str(), nullptr);
    ASSERT_GT(size, 0u) << "no version block in the launcher";
    version_.resize(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path_.c_str(), 0, size, version_.data()));
    module_.reset(::LoadLibraryExW(path_.c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module_);
  }

  std::wstring VersionString(const wchar_t* name) {
    std::wstring key = std::wstring(L"\\StringFileInfo\\040904e4\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(version_.data(), key.c_str(), &value, &length) || length == 0) {
      return L"(missing)";
    }
    return std::wstring(static_cast<const wchar_t*>(value));
  }

  // The raw bytes of one resource.
  std::string Resource(LPCWSTR name, LPCWSTR type) {
    HRSRC found = ::FindResourceW(module_.get(), name, type);
    if (found == nullptr) return std::string();
    HGLOBAL loaded = ::LoadResource(module_.get(), found);
    const char* bytes = static_cast<const char*>(::LockResource(loaded));
    return std::string(bytes, ::SizeofResource(module_.get(), found));
  }

  std::wstring path_;
  std::vector<char> version_;
  tw::UniqueModule module_;
};

TEST_F(LauncherResourcesTest, FixedVersionIsThatOfAnApplication) {
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(version_.data(), L"\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  // 2.9.1.291
  EXPECT_EQ(fixed->dwFileVersionMS, (2u << 16) | 9u);
  EXPECT_EQ(fixed->dwFileVersionLS, (1u << 16) | 291u);
  EXPECT_EQ(fixed->dwProductVersionMS, (2u << 16) | 9u);
  EXPECT_EQ(fixed->dwProductVersionLS, (1u << 16) | 291u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug/pre-release flags";
}

TEST_F(LauncherResourcesTest, VersionStringsInUsEnglishAndWindowsLatin1) {
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(version_.data(), L"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  const auto* translation = static_cast<const WORD*>(value);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 1252);

  struct Case {
    const wchar_t* name;
    const wchar_t* want;
  };
  const Case cases[] = {
      {L"FileVersion", L"2.9.1+291"},
      {L"ProductVersion", L"2.9.1+291"},
      {L"FileDescription", L"Tidewarden Launcher"},
      {L"ProductName", L"Tidewarden Launcher"},
      {L"InternalName", L"tidewarden_launcher"},
      {L"OriginalFilename", L"tidewarden_launcher.exe"},
  };
  for (const Case& c : cases) EXPECT_EQ(VersionString(c.name), c.want) << c.name;
}

TEST_F(LauncherResourcesTest, ManifestAsksForInvokerLevelAndPerMonitorV2) {
  const std::string manifest = Resource(MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_FALSE(manifest.empty()) << "no manifest resource 1";
  using ::testing::HasSubstr;
  EXPECT_THAT(manifest,
              HasSubstr("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"));
  EXPECT_THAT(manifest, HasSubstr(">PerMonitorV2</dpiAwareness>"));
  EXPECT_THAT(manifest, HasSubstr("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"));
  // Exactly one supported-OS entry.
  EXPECT_EQ(manifest.find("<supportedOS"), manifest.rfind("<supportedOS"));
}

TEST_F(LauncherResourcesTest, AppIconGroupHoldsOneUsableImage) {
  // The id the window class loads its icon by.
  const std::string group = Resource(MAKEINTRESOURCEW(IDI_APP_ICON), RT_GROUP_ICON);
  // Icon directory: reserved (2), type (2) = 1, count (2); then 14-byte
  // entries whose last two bytes are the RT_ICON id.
  ASSERT_GE(group.size(), 6u + 14u) << "no icon group " << IDI_APP_ICON;
  auto word_at = [&](size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(group[at]) |
                                 (static_cast<unsigned char>(group[at + 1]) << 8));
  };
  EXPECT_EQ(word_at(2), 1u) << "type: icon";
  ASSERT_EQ(word_at(4), 1u) << "one image";
  const unsigned image_id = word_at(6 + 12);
  const std::string image = Resource(MAKEINTRESOURCEW(image_id), RT_ICON);
  ASSERT_FALSE(image.empty());
  HICON icon = ::CreateIconFromResourceEx(reinterpret_cast<PBYTE>(const_cast<char*>(image.data())),
                                          static_cast<DWORD>(image.size()),
                                          /*fIcon=*/TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR);
  ASSERT_NE(icon, nullptr) << "the image is not a valid icon";
  ::DestroyIcon(icon);
}

// Reads the PE headers from the file: GUI subsystem, and no DLL beyond the
// system's and the engine library (the runtime is linked in statically).
TEST_F(LauncherResourcesTest, GuiSubsystemImportingOnlySystemDllsAndTheEngine) {
  std::ifstream file(std::filesystem::path(path_), std::ios::binary);
  ASSERT_TRUE(file);
  const std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GE(image.size(), sizeof(IMAGE_DOS_HEADER));
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, image.data(), sizeof(dos));
  ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
  IMAGE_NT_HEADERS64 nt;
  ASSERT_LE(dos.e_lfanew + sizeof(nt), image.size());
  std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof(nt));
  ASSERT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

  // Import directory: map its RVAs through the section table.
  const size_t sections_at = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                             nt.FileHeader.SizeOfOptionalHeader;
  std::vector<IMAGE_SECTION_HEADER> sections(nt.FileHeader.NumberOfSections);
  ASSERT_LE(sections_at + sections.size() * sizeof(IMAGE_SECTION_HEADER), image.size());
  std::memcpy(sections.data(), image.data() + sections_at,
              sections.size() * sizeof(IMAGE_SECTION_HEADER));
  auto offset_of = [&](DWORD rva) -> size_t {
    for (const IMAGE_SECTION_HEADER& s : sections) {
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) {
        return rva - s.VirtualAddress + s.PointerToRawData;
      }
    }
    return std::string::npos;
  };
  const DWORD imports_rva =
      nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  size_t at = offset_of(imports_rva);
  ASSERT_NE(at, std::string::npos);
  std::vector<std::string> dlls;
  for (;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    IMAGE_IMPORT_DESCRIPTOR descriptor;
    ASSERT_LE(at + sizeof(descriptor), image.size());
    std::memcpy(&descriptor, image.data() + at, sizeof(descriptor));
    if (descriptor.Name == 0) break;
    const size_t name_at = offset_of(descriptor.Name);
    ASSERT_NE(name_at, std::string::npos);
    std::string name(image.c_str() + name_at);
    std::transform(name.begin(), name.end(), name.begin(), [](char c) {
      return static_cast<char>(::tolower(static_cast<unsigned char>(c)));
    });
    dlls.push_back(name);
  }
  EXPECT_THAT(dlls, ::testing::Contains("flutter_windows.dll"));
  wchar_t system_dir[MAX_PATH] = {};
  ::GetSystemDirectoryW(system_dir, MAX_PATH);
  for (const std::string& dll : dlls) {
    if (dll == "flutter_windows.dll") continue;
    const std::wstring in_system =
        std::wstring(system_dir) + L"\\" + std::wstring(dll.begin(), dll.end());
    EXPECT_NE(::GetFileAttributesW(in_system.c_str()), INVALID_FILE_ATTRIBUTES)
        << dll << " is neither a system DLL nor the engine library";
  }
}

}  // namespace
