#include "security/encrypted_package.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "security/crypto_provider.h"
#include "security/file_operations_seam.h"
#include "security/package_format.h"
#include "security/replacement_file.h"
#include "util/secure_buffer.h"
#include "util/utf.h"
#include "util/win_handles.h"

namespace tw::security {
namespace {

// Raised inside the decryption and caught once at its boundary; carries the
// message the caller receives. Every message is a literal, so raising one
// allocates nothing.
class PackageError {
 public:
  explicit PackageError(const char* message) noexcept : message_(message) {}
  const char* what() const noexcept { return message_; }

 private:
  const char* message_;
};

constexpr char kInvalidKey[] = "Invalid AES key";
constexpr char kInvalidPackage[] = "Invalid encrypted package";
constexpr char kAesUnavailable[] = "AES unavailable";
constexpr char kKeySetupFailed[] = "AES key setup failed";
constexpr char kAuthenticationFailed[] = "Package authentication failed";
constexpr char kCannotCreate[] = "Unable to create the destination file";
constexpr char kCannotWrite[] = "Unable to write the destination file";
constexpr char kCannotReplace[] = "Unable to replace the destination file";
constexpr char kInvalidPath[] = "Invalid file path";
constexpr char kOutOfMemory[] = "Out of memory";

// Reads up to `size` bytes; returns how many arrived before the end of the
// file. A read error is a failure of the package, never a clean end: it
// raises `failure`.
std::size_t ReadUpTo(HANDLE file, void* data, std::size_t size,
                     const char* failure = kAuthenticationFailed) {
  auto* p = static_cast<std::uint8_t*>(data);
  std::size_t total = 0;
  while (total < size) {
    DWORD got = 0;
    if (!CurrentFileOperations().read(file, p + total, static_cast<DWORD>(size - total), &got,
                                      /*lpOverlapped=*/nullptr)) {
      throw PackageError(failure);
    }
    if (got == 0) break;
    total += got;
  }
  return total;
}

void ReadRecordPart(HANDLE file, void* data, std::size_t size) {
  if (ReadUpTo(file, data, size) != size) throw PackageError(kAuthenticationFailed);
}

[[noreturn]] void ThrowWriteFailure(const ReplacementFile& out) {
  throw PackageError(out.failure() == ReplacementFile::Failure::kReplace ? kCannotReplace
                                                                         : kCannotWrite);
}

void Decrypt(const std::wstring& source, const std::wstring& destination, const std::uint8_t* key,
             std::size_t key_size, const PackageProgress& progress) {
  if (key_size != kKeySize) throw PackageError(kInvalidKey);
  SecureBuffer<std::uint8_t> key_copy(kKeySize);
  std::memcpy(key_copy.data(), key, kKeySize);

  // Sequential scan: the package is read once, front to back.
  UniqueFile package(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, /*hTemplateFile=*/nullptr));
  // Only a disk file is read: a pipe, a console or a device would block the
  // window thread for as long as its other end likes. A header that cannot
  // be read is no package at all; only a record that cannot be read counts
  // against the package's authenticity.
  std::uint8_t header[kPackageHeaderSize] = {};
  if (!package || ::GetFileType(package.get()) != FILE_TYPE_DISK ||
      ReadUpTo(package.get(), header, sizeof header, kInvalidPackage) != sizeof header ||
      std::memcmp(header, kPackageHeader, sizeof header) != 0) {
    throw PackageError(kInvalidPackage);
  }
  LARGE_INTEGER package_size = {};
  if (!::GetFileSizeEx(package.get(), &package_size)) package_size.QuadPart = 0;

  UniqueAlgorithm aes;
  if (OpenAlgorithmProvider(aes.put(), BCRYPT_AES_ALGORITHM) < 0)
    throw PackageError(kAesUnavailable);
  UniqueCryptKey aes_key;
  if (::BCryptSetProperty(aes.get(), BCRYPT_CHAINING_MODE,
                          reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_GCM)),
                          sizeof(BCRYPT_CHAIN_MODE_GCM), /*dwFlags=*/0) < 0 ||
      ::BCryptGenerateSymmetricKey(aes.get(), aes_key.put(), /*pbKeyObject=*/nullptr,
                                   /*cbKeyObject=*/0, key_copy.data(), kKeySize,
                                   /*dwFlags=*/0) < 0) {
    throw PackageError(kKeySetupFailed);
  }
  key_copy.Wipe();

  ReplacementFile out;
  if (!out.Create(destination)) throw PackageError(kCannotCreate);

  // Buffers grow to the largest chunk seen and are reused, so a package of
  // 1 MiB chunks allocates them once; the plain buffer is wiped after every
  // chunk and on every exit.
  std::vector<std::uint8_t> ciphertext;
  SecureBuffer<std::uint8_t> plaintext;
  std::uint8_t aad[kChunkAadSize];
  std::memcpy(aad, kChunkAad, kChunkAadSize);
  std::uint64_t consumed = kPackageHeaderSize;
  for (;;) {
    std::uint8_t length_field[kLengthSize];
    const std::size_t got = ReadUpTo(package.get(), length_field, kLengthSize);
    if (got == 0) break;  // the end of the file falls on a record boundary
    if (got != kLengthSize) throw PackageError(kAuthenticationFailed);
    const std::uint32_t length = DecodeChunkLength(length_field);
    if (!IsValidChunkLength(length)) throw PackageError(kAuthenticationFailed);

    std::uint8_t nonce[kNonceSize] = {};
    std::uint8_t tag[kTagSize] = {};
    ReadRecordPart(package.get(), nonce, kNonceSize);
    ReadRecordPart(package.get(), tag, kTagSize);
    if (ciphertext.size() < length) {
      ciphertext.assign(length, 0);
      plaintext = SecureBuffer<std::uint8_t>(length);
    }
    ReadRecordPart(package.get(), ciphertext.data(), length);

    // Each chunk is one complete GCM message: no chaining, no MAC context.
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    BCRYPT_INIT_AUTH_MODE_INFO(info);
    info.pbNonce = nonce;
    info.cbNonce = kNonceSize;
    info.pbAuthData = aad;
    info.cbAuthData = kChunkAadSize;
    info.pbTag = tag;
    info.cbTag = kTagSize;
    ULONG written = 0;
    if (::BCryptDecrypt(aes_key.get(), ciphertext.data(), length, &info, /*pbIV=*/nullptr,
                        /*cbIV=*/0, plaintext.data(), length, &written, /*dwFlags=*/0) < 0 ||
        written != length) {
      throw PackageError(kAuthenticationFailed);
    }
    const bool stored = out.Write(plaintext.data(), length);
    SecureWipe(plaintext.data(), length);
    if (!stored) ThrowWriteFailure(out);

    consumed += kRecordHeaderSize + length;
    if (progress) progress(consumed, static_cast<std::uint64_t>(package_size.QuadPart));
  }

  // Release the crypto objects and the package before the move: when the
  // destination names the package, the package must be closed to be replaced.
  aes_key.reset();
  aes.reset();
  package.reset();
  if (!out.Commit()) ThrowWriteFailure(out);
}

}  // namespace

PackageStatus DecryptPackageFile(const std::wstring& source, const std::wstring& destination,
                                 const std::uint8_t* key, std::size_t key_size,
                                 const PackageProgress& progress) {
  try {
    Decrypt(source, destination, key, key_size, progress);
    return {true, std::string()};
  } catch (const PackageError& e) {
    return {false, e.what()};
  } catch (const std::bad_alloc&) {
    return {false, kOutOfMemory};
  }
}

namespace {

std::wstring WidePath(const std::string& utf8) {
  std::wstring wide;
  if (!tw::Utf8ToUtf16(utf8, &wide) || wide.find(L'\0') != std::wstring::npos) {
    throw PackageError(kInvalidPath);
  }
  return wide;
}

// Everything from the map to the failure's text; may raise std::bad_alloc.
PackageStatus DecryptFromArguments(const flutter::EncodableMap& map) {
  try {
    // Entry by entry, each looked up and then read as its type, so that the
    // first entry that is missing or of the wrong type decides the message.
    const std::string& source = map.at(flutter::EncodableValue("source")).Get<std::string>();
    const std::string& destination =
        map.at(flutter::EncodableValue("destination")).Get<std::string>();
    const auto& key_bytes = map.at(flutter::EncodableValue("key")).Get<std::vector<std::uint8_t>>();
    SecureBuffer<std::uint8_t> key(key_bytes.size());
    if (!key.empty()) std::memcpy(key.data(), key_bytes.data(), key.size());
    if (key.size() != kKeySize) throw PackageError(kInvalidKey);
    const std::wstring source_path = WidePath(source);
    const std::wstring destination_path = WidePath(destination);
    return DecryptPackageFile(source_path, destination_path, key.data(), key.size());
  } catch (const flutter::InvalidMapKey& e) {
    return {false, e.what()};  // "invalid map<K, T> key"
  } catch (const flutter::BadVariantAccess& e) {
    return {false, e.what()};  // "bad variant access"
  } catch (const PackageError& e) {
    return {false, e.what()};
  }
}

}  // namespace

void DecryptPackage(const flutter::EncodableValue* arguments, flutter::MethodResult<>& result) {
  // The one boundary for running out of memory: the key copy, the paths,
  // the buffers and the answer's texts are all made inside it. The answer
  // is given after it, once. Both texts of the out-of-memory answer fit in
  // a string's inline storage, so setting them allocates nothing.
  bool ok = false;
  std::string code;
  std::string message;
  try {
    const auto* map = arguments != nullptr ? arguments->GetIf<flutter::EncodableMap>() : nullptr;
    if (map == nullptr) {
      code = "invalid";
      message = "Missing arguments";
    } else {
      PackageStatus status = DecryptFromArguments(*map);
      ok = status.ok;
      code = "decrypt_failed";
      message = std::move(status.message);
    }
  } catch (const std::bad_alloc&) {
    ok = false;
    code = "decrypt_failed";
    message = kOutOfMemory;
  }
  if (ok) {
    result.Success(flutter::EncodableValue(true));
  } else {
    result.Error(code, message);
  }
}

}  // namespace tw::security
