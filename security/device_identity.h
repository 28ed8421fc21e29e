// The machine's stable identifier: SHA-256, in lower-case hexadecimal, of
//
//   <MachineGuid as stored> "|" <serial of volume C:, decimal> "|Fernbrook-HWID-v1"
//
// hashed as UTF-16LE without terminator. Derived anew on every call; nothing
// is cached. A missing volume C: counts as serial 0.
#ifndef SECURITY_DEVICE_IDENTITY_H_
#define SECURITY_DEVICE_IDENTITY_H_

#include "channels/method_call.h"

namespace tw::security {

// "getHardwareId": answers the 64-digit identifier, or the error "hwid" with
// "Unable to read device identity", "SHA-256 unavailable" or
// "Unable to hash device identity".
void GetHardwareId(flutter::MethodResult<>& result);

}  // namespace tw::security

#endif  // SECURITY_DEVICE_IDENTITY_H_
