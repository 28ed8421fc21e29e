#include "security/encrypted_package.h"

#include <cstring>
#include <new>
#include <vector>

#include "security/aes_gcm.h"
#include "security/file_byte_source.h"
#include "security/package_format.h"
#include "security/package_reader.h"
#include "security/replacement_file.h"
#include "util/secure_buffer.h"

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

constexpr const char* kInvalidKey = kInvalidKeyMessage;
constexpr char kInvalidPackage[] = "Invalid encrypted package";
constexpr char kAesUnavailable[] = "AES unavailable";
constexpr char kKeySetupFailed[] = "AES key setup failed";
constexpr char kAuthenticationFailed[] = "Package authentication failed";
constexpr char kCannotCreate[] = "Unable to create the destination file";
constexpr char kCannotWrite[] = "Unable to write the destination file";
constexpr char kCannotReplace[] = "Unable to replace the destination file";
constexpr const char* kOutOfMemory = kOutOfMemoryMessage;

[[noreturn]] void ThrowWriteFailure(const ReplacementFile& out) {
  throw PackageError(out.failure() == ReplacementFile::Failure::kReplace ? kCannotReplace
                                                                         : kCannotWrite);
}

// The key from a working copy that is wiped as soon as bcrypt holds its own.
void SetUpKey(const std::uint8_t* key, AesGcmKey* aes) {
  SecureBuffer<std::uint8_t> key_copy(kKeySize);
  std::memcpy(key_copy.data(), key, kKeySize);
  switch (aes->Init(key_copy.data())) {
    case AesGcmKey::Status::kOk:
      return;
    case AesGcmKey::Status::kUnavailable:
      throw PackageError(kAesUnavailable);
    case AesGcmKey::Status::kSetupFailed:
      throw PackageError(kKeySetupFailed);
  }
}

// One record's plain bytes, appended to `out`. The plain buffer grows to
// the largest chunk and is reused; it is wiped after every chunk, and on
// every exit by its destructor.
void DecryptChunk(const AesGcmKey& aes, const ChunkRecord& record,
                  const std::vector<std::uint8_t>& ciphertext,
                  SecureBuffer<std::uint8_t>* plaintext, ReplacementFile* out) {
  if (plaintext->size() < record.length) *plaintext = SecureBuffer<std::uint8_t>(record.length);
  if (!aes.Open(record.nonce, record.tag, ciphertext.data(), record.length, plaintext->data())) {
    throw PackageError(kAuthenticationFailed);
  }
  const bool stored = out->Write(plaintext->data(), record.length);
  SecureWipe(plaintext->data(), record.length);
  if (!stored) ThrowWriteFailure(*out);
}

void Decrypt(const std::wstring& source, const std::wstring& destination, const std::uint8_t* key,
             std::size_t key_size, const PackageProgress& progress) {
  if (key_size != kKeySize) throw PackageError(kInvalidKey);
  FileByteSource package(source);
  PackageReader reader(&package);
  if (!package.is_open() || !reader.ReadHeader()) throw PackageError(kInvalidPackage);
  const std::uint64_t package_size = package.size();
  AesGcmKey aes;
  SetUpKey(key, &aes);

  ReplacementFile out;
  if (!out.Create(destination)) throw PackageError(kCannotCreate);
  ChunkRecord record;
  std::vector<std::uint8_t> ciphertext;
  SecureBuffer<std::uint8_t> plaintext;
  while (reader.Next(&record, &ciphertext)) {
    DecryptChunk(aes, record, ciphertext, &plaintext, &out);
    if (progress) progress(reader.consumed(), package_size);
  }
  if (reader.problem() != PackageReader::Problem::kNone) throw PackageError(kAuthenticationFailed);

  // Release the key and the package before the move: when the destination
  // names the package, the package must be closed to be replaced.
  aes.Reset();
  package.Close();
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

}  // namespace tw::security
