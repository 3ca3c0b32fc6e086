// The middle of enCrypt and deCrypt, between the conversions from and to VARIANTs:
// ciphertext text is the Base64 form of the zero-padded ECB ciphertext, nothing else.
#pragma once

#include <cstdint>

#include "pemmet.h"

namespace corvane {

// Enciphers r plaintext bytes into the Base64 object's input buffer and Base64-encodes
// them; *base64Text receives a new NUL-terminated buffer (release with Sfree).
// Returns 0 or a negative status.
std::int32_t EncryptToBase64(CPemmet& pemmet, const unsigned char* plaintext, std::uint32_t r,
                             const unsigned char* key, std::int32_t keyLength, unsigned char** base64Text);

// Decodes the r Base64 characters already in the Base64 object's input buffer and
// deciphers them; *text receives a new zero-filled buffer that holds at least one zero
// byte after the last deciphered block, so it always reads as NUL-terminated text
// (release with Sfree). A last partial block is completed with zero bytes.
// Returns 0 or a negative status.
std::int32_t DecryptFromBase64(CPemmet& pemmet, std::uint32_t r, const unsigned char* key, std::int32_t keyLength,
                               unsigned char** text);

}  // namespace corvane
