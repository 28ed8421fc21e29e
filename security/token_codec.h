// Portable encodings used by the security services: the credential blob of
// the session token and lower-case hexadecimal into a self-wiping string.
#ifndef SECURITY_TOKEN_CODEC_H_
#define SECURITY_TOKEN_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/secure_buffer.h"

namespace tw::security {

// The credential blob of a token: each byte becomes one 16-bit little-endian
// unit holding the byte sign-extended (0x41 -> 41 00, 0xC3 -> C3 FF). This is
// a widening, not a UTF-8 decoding, so any byte string survives the round
// trip, and an ASCII token is stored as its plain UTF-16LE text. No
// terminator. The result is twice as long as `token`.
SecureBuffer<std::uint8_t> WidenToken(std::string_view token);

// Inverse of WidenToken: the low byte of every whole unit, in order; a last
// odd byte is ignored. Replaces the content of the guarded string: what it
// held is wiped first and its room is reserved before the first byte, so no
// copy of the secret is left in a released buffer. The guard wipes the token
// when it goes.
void NarrowToken(const std::uint8_t* blob, std::size_t size, WipeOnDestroy<std::string>& token);

// Two lower-case hexadecimal digits per byte, high nibble first, replacing
// the content of the guarded string (wiped and reserved first, like
// NarrowToken).
void LowerHex(const std::uint8_t* data, std::size_t size, WipeOnDestroy<std::string>& hex);

}  // namespace tw::security

#endif  // SECURITY_TOKEN_CODEC_H_
