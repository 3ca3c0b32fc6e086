// Conversion between the user's text and the bytes that are encrypted, so that a text
// gives the ciphertext the component gives on a Windows machine of that code page.
#pragma once

#include <memory>
#include <string>

#include "cli/platform.h"
#include "cli/unicode_text.h"
#include "common/secure_buffer.h"

namespace corvane::cli {

class TextCodec {
 public:
  enum class Result {
    kOk,
    kNotValidText,      // the input is not valid text in its own encoding
    kNotRepresentable,  // a character has no form in the encoding it goes to
  };

  virtual ~TextCodec() = default;

  // name "" is the default: the bytes as given on POSIX systems, the ANSI code page on
  // Windows. Null, with *problem set, for an unknown or unusable encoding.
  static std::unique_ptr<TextCodec> Open(const std::string& name, std::string* problem);

  // The user's text as bytes of the encoding, never with a substitute character:
  // kNotValidText when the text is not valid in the local encoding (LocalName()),
  // kNotRepresentable when the encoding lacks one of its characters.
  virtual Result Encode(const UserText& text, SecureBytes* bytes) = 0;
  // Bytes of the encoding as the user's text: kNotValidText when they are not valid text
  // in the encoding, kNotRepresentable when the local encoding cannot hold a character.
  virtual Result Decode(const unsigned char* bytes, std::size_t n, UserText* text) = 0;
  // Unicode text (a JSON string, a key file with a byte-order mark) as bytes of the
  // encoding, and back; results as above, kNotRepresentable for a character the
  // encoding (or, decoding, Unicode text) cannot hold.
  virtual Result EncodeUnicode(const UnicodeText& text, SecureBytes* bytes) = 0;
  virtual Result DecodeUnicode(const unsigned char* bytes, std::size_t n, UnicodeText* text) = 0;
  // The encoding Unicode text becomes, for messages: Name(), but UTF-8 for the bytes as
  // given.
  virtual std::string UnicodeName() const { return Name(); }
  // The encoding's name, and the local one's, for messages.
  virtual std::string Name() const = 0;
  virtual std::string LocalName() const = 0;
};

// The Windows code page that an encoding name stands for (case, '-', '_' and spaces
// ignored: "windows-1252", "cp932", "shift_jis", "utf-8", "1252"); 0 when unknown. Both
// builds read names alike.
unsigned CodePageOfName(const std::string& name);

}  // namespace corvane::cli
