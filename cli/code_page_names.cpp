#include <algorithm>
#include <cctype>

#include "cli/text_codec.h"

namespace corvane::cli {
namespace {

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

unsigned CodePageOfName(const std::string& name) {
  std::string key;
  for (char c : name)
    if (c != '-' && c != '_' && c != ' ') key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  struct Alias {
    const char* name;
    unsigned codePage;
  };
  static const Alias kAliases[] = {
      {"utf8", 65001},        {"shiftjis", 932},    {"sjis", 932},      {"windows31j", 932}, {"mskanji", 932},
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
      return static_cast<unsigned>(std::stoul(key.substr(p.size())));
  }
  if (key.compare(0, 7, "iso8859") == 0 && key.size() == 8 && key[7] >= '1' && key[7] <= '9')
    return 28590 + static_cast<unsigned>(key[7] - '0');
  if (AllDigits(key)) return static_cast<unsigned>(std::stoul(key));
  return 0;
}

}  // namespace corvane::cli
