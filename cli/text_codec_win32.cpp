// Text conversion on Windows: UTF-16 to a code page and back, strictly, as the
// component converts its strings (the ANSI code page by default).
#include <windows.h>

#include <algorithm>
#include <cctype>

#include "cli/text_codec.h"

namespace corvane::cli {
namespace {

// UTF-8 and GB18030 take no default character; they report bad input themselves.
bool TakesNoDefault(UINT codePage) { return codePage == CP_UTF8 || codePage == 54936; }

class CodePageCodec final : public TextCodec {
 public:
  CodePageCodec(UINT codePage, std::string name) : codePage_(codePage), name_(std::move(name)) {}

  bool Encode(const UserText& text, SecureBytes* bytes) override {
    bytes->clear();
    if (text.empty()) return true;
    if (text.size() > 0x3FFFFFFF) return false;
    const int length = static_cast<int>(text.size());
    const bool noDefault = TakesNoDefault(codePage_);
    const DWORD flags = noDefault ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    const int needed = WideCharToMultiByte(codePage_, flags, text.data(), length, nullptr, 0, nullptr,
                                           noDefault ? nullptr : &usedDefault);
    if (needed <= 0 || usedDefault) return false;
    bytes->resize(static_cast<std::size_t>(needed));
    const int done = WideCharToMultiByte(codePage_, flags, text.data(), length, reinterpret_cast<char*>(bytes->data()),
                                         needed, nullptr, noDefault ? nullptr : &usedDefault);
    return done == needed && !usedDefault;
  }

  bool Decode(const unsigned char* bytes, std::size_t n, UserText* text) override {
    text->clear();
    if (n == 0) return true;
    if (n > 0x7FFFFFFF) return false;
    const char* p = reinterpret_cast<const char*>(bytes);
    const int needed = MultiByteToWideChar(codePage_, MB_ERR_INVALID_CHARS, p, static_cast<int>(n), nullptr, 0);
    if (needed <= 0) return false;
    text->resize(static_cast<std::size_t>(needed));
    return MultiByteToWideChar(codePage_, MB_ERR_INVALID_CHARS, p, static_cast<int>(n), text->data(), needed) ==
           needed;
  }

  std::string Name() const override { return name_; }

 private:
  UINT codePage_;
  std::string name_;
};

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The code page of an encoding name (case, '-' and '_' ignored); 0 when unknown.
UINT CodePageOf(const std::string& name) {
  std::string key;
  for (char c : name)
    if (c != '-' && c != '_' && c != ' ') key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  struct Alias {
    const char* name;
    UINT codePage;
  };
  static const Alias kAliases[] = {
      {"utf8", CP_UTF8},      {"shiftjis", 932},    {"sjis", 932},      {"windows31j", 932}, {"mskanji", 932},
      {"ascii", 20127},       {"usascii", 20127},   {"latin1", 28591},  {"eucjp", 20932},    {"euckr", 51949},
      {"gbk", 936},           {"gb2312", 936},      {"gb18030", 54936}, {"big5", 950},       {"koi8r", 20866},
      {"koi8u", 21866},       {"iso885913", 28603}, {"iso885915", 28605}, {"utf16", 1200},
      {"utf16le", 1200},      {"utf16be", 1201},    {"utf32", 12000},   {"utf32le", 12000},  {"utf32be", 12001},
  };
  for (const Alias& alias : kAliases)
    if (key == alias.name) return alias.codePage;
  for (const char* prefix : {"windows", "cp", "ibm"}) {
    const std::string p(prefix);
    if (key.compare(0, p.size(), p) == 0 && AllDigits(key.substr(p.size())))
      return static_cast<UINT>(std::stoul(key.substr(p.size())));
  }
  if (key.compare(0, 7, "iso8859") == 0 && key.size() == 8 && key[7] >= '1' && key[7] <= '9')
    return 28590 + static_cast<UINT>(key[7] - '0');
  if (AllDigits(key)) return static_cast<UINT>(std::stoul(key));
  return 0;
}

}  // namespace

std::unique_ptr<TextCodec> TextCodec::Open(const std::string& name, std::string* problem) {
  UINT codePage = GetACP();
  std::string shown = "code page " + std::to_string(codePage);
  if (!name.empty()) {
    codePage = CodePageOf(name);
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
  if (!codec->Encode(UserText{L'A'}, &sample) || sample.empty() ||
      std::find(sample.begin(), sample.end(), 0) != sample.end() ||
      !codec->Decode(sample.data(), sample.size(), &back) || back != UserText{L'A'}) {
    *problem = "encoding '" + name + "' cannot be used: it has no strict conversion or its characters hold zero bytes";
    return nullptr;
  }
  return codec;
}

}  // namespace corvane::cli
