// Text conversion on Windows: UTF-16 to a code page and back, strictly, as the
// component converts its strings (the ANSI code page by default).
#include <windows.h>

#include <algorithm>

#include "cli/text_codec.h"

namespace corvane::cli {
namespace {

// UTF-8 and GB18030 take no default character; they report bad input themselves.
bool TakesNoDefault(UINT codePage) { return codePage == CP_UTF8 || codePage == 54936; }

class CodePageCodec final : public TextCodec {
 public:
  CodePageCodec(UINT codePage, std::string name) : codePage_(codePage), name_(std::move(name)) {}

  Result Encode(const UserText& text, SecureBytes* bytes) override {
    bytes->clear();
    if (text.empty()) return Result::kOk;
    if (text.size() > 0x3FFFFFFF) return Result::kNotRepresentable;
    const int length = static_cast<int>(text.size());
    const bool noDefault = TakesNoDefault(codePage_);
    const DWORD flags = noDefault ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    const int needed = WideCharToMultiByte(codePage_, flags, text.data(), length, nullptr, 0, nullptr,
                                           noDefault ? nullptr : &usedDefault);
    if (needed <= 0 || usedDefault) return Result::kNotRepresentable;
    bytes->resize(static_cast<std::size_t>(needed));
    const int done = WideCharToMultiByte(codePage_, flags, text.data(), length, reinterpret_cast<char*>(bytes->data()),
                                         needed, nullptr, noDefault ? nullptr : &usedDefault);
    return done == needed && !usedDefault ? Result::kOk : Result::kNotRepresentable;
  }

  // Text arrives as UTF-16 here: every decoded character can be held.
  Result Decode(const unsigned char* bytes, std::size_t n, UserText* text) override {
    text->clear();
    if (n == 0) return Result::kOk;
    if (n > 0x7FFFFFFF) return Result::kNotValidText;
    const char* p = reinterpret_cast<const char*>(bytes);
    const int needed = MultiByteToWideChar(codePage_, MB_ERR_INVALID_CHARS, p, static_cast<int>(n), nullptr, 0);
    if (needed <= 0) return Result::kNotValidText;
    text->resize(static_cast<std::size_t>(needed));
    return MultiByteToWideChar(codePage_, MB_ERR_INVALID_CHARS, p, static_cast<int>(n), text->data(), needed) == needed
               ? Result::kOk
               : Result::kNotValidText;
  }

  // Through UTF-16, the form Windows holds strings in, as the component converts them.
  Result EncodeUnicode(const UnicodeText& text, SecureBytes* bytes) override {
    UserText utf16;
    for (char32_t c : text) {
      if (c >= 0x10000) {
        utf16.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
        utf16.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
      } else {
        utf16.push_back(static_cast<wchar_t>(c));
      }
    }
    return Encode(utf16, bytes);
  }

  Result DecodeUnicode(const unsigned char* bytes, std::size_t n, UnicodeText* text) override {
    text->clear();
    UserText utf16;
    const Result result = Decode(bytes, n, &utf16);
    if (result != Result::kOk) return result;
    for (std::size_t i = 0; i < utf16.size(); ++i) {
      const char32_t c = static_cast<char16_t>(utf16[i]);
      const char32_t next = i + 1 < utf16.size() ? static_cast<char16_t>(utf16[i + 1]) : 0;
      if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
        text->push_back(0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00));
        ++i;
      } else {
        text->push_back(c);
      }
    }
    return Result::kOk;
  }

  std::string Name() const override { return name_; }
  std::string LocalName() const override { return "UTF-16"; }

 private:
  UINT codePage_;
  std::string name_;
};

}  // namespace

std::unique_ptr<TextCodec> TextCodec::Open(const std::string& name, std::string* problem) {
  UINT codePage = GetACP();
  std::string shown = "code page " + std::to_string(codePage);
  if (!name.empty()) {
    codePage = static_cast<UINT>(CodePageOfName(name));
    shown = name;
    if (codePage == 1200 || codePage == 1201 || codePage == 12000 || codePage == 12001) {
      *problem = "encoding '" + name + "' cannot be used: its characters hold zero bytes (the component ends text at a zero byte)";
      return nullptr;
    }
    if (codePage == 0 || !IsValidCodePage(codePage)) {
      *problem = "unknown encoding '" + name + "'";
      return nullptr;
    }
  }
  auto codec = std::make_unique<CodePageCodec>(codePage, shown);
  // Strict conversion must work in both directions, and text is NUL-terminated inside
  // the component: code pages without strict conversion or with zero bytes in their
  // characters (UTF-16) cannot carry it.
  SecureBytes sample;
  UserText back;
  if (codec->Encode(UserText{L'A'}, &sample) != TextCodec::Result::kOk || sample.empty() ||
      std::find(sample.begin(), sample.end(), 0) != sample.end() ||
      codec->Decode(sample.data(), sample.size(), &back) != TextCodec::Result::kOk || back != UserText{L'A'}) {
    *problem = "encoding '" + name + "' cannot be used: it has no strict conversion or its characters hold zero bytes";
    return nullptr;
  }
  return codec;
}

}  // namespace corvane::cli
