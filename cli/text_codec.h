// Conversion between the user's text and the bytes that are encrypted, so that a text
// gives the ciphertext the component gives on a Windows machine of that code page.
#pragma once

#include <memory>
#include <string>

#include "cli/platform.h"
#include "common/secure_buffer.h"

namespace corvane::cli {

class TextCodec {
 public:
  virtual ~TextCodec() = default;

  // name "" is the default: the bytes as given on POSIX systems, the ANSI code page on
  // Windows. Null, with *problem set, for an unknown or unusable encoding.
  static std::unique_ptr<TextCodec> Open(const std::string& name, std::string* problem);

  // The user's text as bytes of the encoding; false when a character has no form in it
  // (never a substitute character).
  virtual bool Encode(const UserText& text, SecureBytes* bytes) = 0;
  // Bytes of the encoding as the user's text; false when they are not valid text in it.
  virtual bool Decode(const unsigned char* bytes, std::size_t n, UserText* text) = 0;
  // The encoding's name, for messages.
  virtual std::string Name() const = 0;
};

}  // namespace corvane::cli
