#include "security/key_file.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "security/file_operations_seam.h"
#include "security/package_format.h"
#include "security/random_bytes.h"
#include "security/replacement_file.h"
#include "util/file_io.h"
#include "util/win_handles.h"

namespace tw::security {

namespace {

// An absolute security descriptor whose DACL grants the current user full
// access and nobody else any; protected, so the folder's inheritable entries
// are not added.
class OwnerOnlySecurity {
 public:
  bool Init() {
    UniqueKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return false;
    user_.resize((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    if (!::GetTokenInformation(token.get(), TokenUser, user_.data(), size, &size)) return false;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    const DWORD acl_size = static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) -
                                              sizeof(DWORD) + ::GetLengthSid(sid));
    acl_.resize((acl_size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    auto* acl = reinterpret_cast<PACL>(acl_.data());
    return ::InitializeAcl(acl, acl_size, ACL_REVISION) &&
           ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
           ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
           ::SetSecurityDescriptorDacl(&descriptor_, /*bDaclPresent=*/TRUE, acl,
                                       /*bDaclDefaulted=*/FALSE) &&
           ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  }
  SECURITY_ATTRIBUTES* attributes() {
    attributes_ = {sizeof attributes_, &descriptor_, /*bInheritHandle=*/FALSE};
    return &attributes_;
  }

 private:
  std::vector<std::uint64_t> user_;
  std::vector<std::uint64_t> acl_;
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
};

}  // namespace

PackageStatus CreateKeyFile(const std::wstring& path) {
  SecureBuffer<std::uint8_t> key(kKeySize);
  if (!RandomBytes(key.data(), key.size())) return {false, "Unable to generate a key"};
  OwnerOnlySecurity security;
  if (!security.Init()) return {false, "Unable to create the key file"};
  // Never replace a key: whatever it sealed would be lost with it. Nobody
  // else opens the file while it is written.
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                                security.attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                /*hTemplateFile=*/nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    return {false, error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                       ? "The key file already exists"
                       : "Unable to create the key file"};
  }
  if (!SetDeleteOnClose(file.get(), true)) {
    ::DeleteFileW(path.c_str());
    return {false, "Unable to write the key file"};
  }
  // Any failure from here closes the handle with the mark still set.
  if (!WriteAll(file.get(), key.data(), key.size(), CurrentFileOperations().write) ||
      !CurrentFileOperations().flush(file.get()) || !SetDeleteOnClose(file.get(), false)) {
    return {false, "Unable to write the key file"};
  }
  return {true, std::string()};
}

PackageStatus ReadKeyFile(const std::wstring& path, SecureBuffer<std::uint8_t>* key) {
  const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
  // One byte more than a key, to tell a longer file from a key.
  SecureBuffer<std::uint8_t> bytes(kKeySize + 1);
  std::size_t got = 0;
  if (!file || !ReadUpTo(file.get(), bytes.data(), bytes.size(), &got)) {
    return {false, "Unable to read the key file"};
  }
  if (got != kKeySize) return {false, "Invalid AES key"};
  *key = SecureBuffer<std::uint8_t>(kKeySize);
  std::memcpy(key->data(), bytes.data(), kKeySize);
  return {true, std::string()};
}

}  // namespace tw::security
