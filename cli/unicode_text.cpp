#include "cli/unicode_text.h"

namespace corvane::cli {
namespace {

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void AppendUtf8(char32_t c, SecureBytes* out) {
  if (c < 0x80) {
    out->push_back(static_cast<unsigned char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<unsigned char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<unsigned char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<unsigned char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<unsigned char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<unsigned char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<unsigned char>(0x80 | (c & 0x3F)));
  }
}

// The code point of the UTF-8 sequence at bytes[*i], advancing *i; false when malformed.
bool NextUtf8(const unsigned char* bytes, std::size_t n, std::size_t* i, char32_t* c) {
  const unsigned lead = bytes[*i];
  std::size_t length = 0;
  char32_t value = 0, minimum = 0;
  if (lead < 0x80) {
    *c = lead;
    ++*i;
    return true;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return false;
  }
  if (n - *i < length) return false;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned next = bytes[*i + k];
    if ((next & 0xC0) != 0x80) return false;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || IsSurrogate(value)) return false;
  *c = value;
  *i += length;
  return true;
}

int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsJsonSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool DecodeUtf8(const unsigned char* bytes, std::size_t n, UnicodeText* text) {
  text->clear();
  for (std::size_t i = 0; i < n;) {
    char32_t c = 0;
    if (!NextUtf8(bytes, n, &i, &c)) return false;
    text->push_back(c);
  }
  return true;
}

bool EncodeUtf8(const UnicodeText& text, SecureBytes* bytes) {
  bytes->clear();
  for (char32_t c : text) {
    if (IsSurrogate(c) || c > 0x10FFFF) return false;
    AppendUtf8(c, bytes);
  }
  return true;
}

bool DecodeUtf16(const unsigned char* bytes, std::size_t n, bool bigEndian, UnicodeText* text) {
  text->clear();
  if (n % 2 != 0) return false;
  const auto unit = [&](std::size_t i) {
    return static_cast<char32_t>(bigEndian ? (bytes[i] << 8 | bytes[i + 1]) : (bytes[i + 1] << 8 | bytes[i]));
  };
  for (std::size_t i = 0; i < n; i += 2) {
    const char32_t c = unit(i);
    if (c >= 0xDC00 && c <= 0xDFFF) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 2 >= n) return false;
      const char32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      text->push_back(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
      i += 2;
    } else {
      text->push_back(c);
    }
  }
  return true;
}

bool ParseJsonString(const unsigned char* line, std::size_t n, UnicodeText* text) {
  text->clear();
  std::size_t i = 0;
  while (i < n && IsJsonSpace(line[i])) ++i;
  if (i == n || line[i] != '"') return false;
  ++i;
  for (;;) {
    if (i == n) return false;
    const unsigned char c = line[i];
    if (c == '"') {
      ++i;
      break;
    }
    if (c < 0x20) return false;
    if (c != '\\') {
      char32_t character = 0;
      if (!NextUtf8(line, n, &i, &character)) return false;
      text->push_back(character);
      continue;
    }
    if (++i == n) return false;
    const unsigned char escaped = line[i++];
    switch (escaped) {
      case '"':
      case '\\':
      case '/':
        text->push_back(escaped);
        break;
      case 'b':
        text->push_back(0x08);
        break;
      case 'f':
        text->push_back(0x0C);
        break;
      case 'n':
        text->push_back(0x0A);
        break;
      case 'r':
        text->push_back(0x0D);
        break;
      case 't':
        text->push_back(0x09);
        break;
      case 'u': {
        if (n - i < 4) return false;
        char32_t unit = 0;
        for (int k = 0; k < 4; ++k) {
          const int digit = HexDigit(line[i++]);
          if (digit < 0) return false;
          unit = unit << 4 | static_cast<char32_t>(digit);
        }
        // A high surrogate followed by an escaped low one is one character.
        if (unit >= 0xDC00 && unit <= 0xDFFF && !text->empty() && text->back() >= 0xD800 && text->back() <= 0xDBFF)
          text->back() = 0x10000 + ((text->back() - 0xD800) << 10) + (unit - 0xDC00);
        else
          text->push_back(unit);
        break;
      }
      default:
        return false;
    }
  }
  while (i < n && IsJsonSpace(line[i])) ++i;
  return i == n;
}

void AppendJsonString(const UnicodeText& text, SecureBytes* out) {
  static const char kHex[] = "0123456789abcdef";
  const auto escape = [&](char32_t c) {
    const char digits[6] = {'\\', 'u', kHex[(c >> 12) & 15], kHex[(c >> 8) & 15], kHex[(c >> 4) & 15], kHex[c & 15]};
    out->insert(out->end(), digits, digits + 6);
  };
  out->push_back('"');
  for (char32_t c : text) {
    switch (c) {
      case '"':
      case '\\':
        out->push_back('\\');
        out->push_back(static_cast<unsigned char>(c));
        break;
      case '\n':
        out->push_back('\\'), out->push_back('n');
        break;
      case '\r':
        out->push_back('\\'), out->push_back('r');
        break;
      case '\t':
        out->push_back('\\'), out->push_back('t');
        break;
      default:
        if (c < 0x20 || IsSurrogate(c))
          escape(c);
        else
          AppendUtf8(c, out);
    }
  }
  out->push_back('"');
}

}  // namespace corvane::cli
