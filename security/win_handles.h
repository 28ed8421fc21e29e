// Owners for the Windows handle kinds used by the security services.
#ifndef SECURITY_WIN_HANDLES_H_
#define SECURITY_WIN_HANDLES_H_

#include <windows.h>
#include <bcrypt.h>

#include "util/unique_handle.h"
#include "util/win_handles.h"

namespace tw::security {

using tw::UniqueFile;
using tw::UniqueKernelHandle;

struct HKeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::RegCloseKey(h); }
};
using UniqueHKey = UniqueHandle<HKeyTraits>;

struct AlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::BCryptCloseAlgorithmProvider(h, /*dwFlags=*/0); }
};
using UniqueAlgorithm = UniqueHandle<AlgorithmTraits>;

struct CryptKeyTraits {
  using Type = BCRYPT_KEY_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::BCryptDestroyKey(h); }
};
using UniqueCryptKey = UniqueHandle<CryptKeyTraits>;

struct HashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::BCryptDestroyHash(h); }
};
using UniqueHash = UniqueHandle<HashTraits>;

}  // namespace tw::security

#endif  // SECURITY_WIN_HANDLES_H_
