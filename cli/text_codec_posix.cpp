// Text conversion on POSIX systems: the bytes as given by default; with --encoding, the
// locale's text converted to the encoding through iconv. For the code pages whose
// tables in glibc differ from Windows' (1252, 932 and 936), the differences are made good
// here, so that the bytes are those the component takes on Windows (conformance/check.py
// holds them to Windows' tables in conformance/).
#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <clocale>

#include "cli/text_codec.h"

namespace corvane::cli {
namespace {

class IdentityCodec final : public TextCodec {
 public:
  Result Encode(const UserText& text, SecureBytes* bytes) override {
    bytes->assign(text.begin(), text.end());
    return Result::kOk;
  }
  Result Decode(const unsigned char* bytes, std::size_t n, UserText* text) override {
    text->assign(bytes, bytes + n);
    return Result::kOk;
  }
  // Without an encoding, Unicode text is taken in UTF-8, the form Linux uses for it.
  Result EncodeUnicode(const UnicodeText& text, SecureBytes* bytes) override {
    return EncodeUtf8(text, bytes) ? Result::kOk : Result::kNotRepresentable;
  }
  Result DecodeUnicode(const unsigned char* bytes, std::size_t n, UnicodeText* text) override {
    return DecodeUtf8(bytes, n, text) ? Result::kOk : Result::kNotValidText;
  }
  std::string Name() const override { return "the bytes as given"; }
  std::string UnicodeName() const override { return "UTF-8"; }
  std::string LocalName() const override { return "the bytes as given"; }
};

// Where Windows' table of a code page differs from glibc's (found by converting every
// byte sequence and every BMP character both ways with MultiByteToWideChar(...,
// MB_ERR_INVALID_CHARS) and WideCharToMultiByte(..., WC_NO_BEST_FIT_CHARS), as the
// component converts, and with iconv).
struct SingleByte {
  unsigned char byte;
  char32_t character;
};
// Runs of double-byte characters: `count` byte pairs from `first` (lead byte * 256 + trail
// byte, the trail byte going up) read as, and written for, `count` characters from `character`.
struct DoubleByteRun {
  std::uint16_t first;
  char32_t character;
  std::uint16_t count;
};
struct CodePageAmendments {
  // Bytes Windows reads as these characters, and writes for them, where glibc has none.
  const SingleByte* bothWays;
  std::size_t bothWaysCount;
  // Characters Windows writes as these bytes but never reads back from them.
  const SingleByte* writtenOnly;
  std::size_t writtenOnlyCount;
  // Characters glibc writes by a best fit (U+00A5 YEN SIGN as '\', say) that Windows
  // refuses when best fits are off.
  const char32_t* refused;
  std::size_t refusedCount;
  // Lead bytes of double-byte characters, whose second byte is never one of the above.
  bool (*isLeadByte)(unsigned char byte);
  // Double-byte characters Windows reads and writes where glibc has none.
  const DoubleByteRun* pairs = nullptr;
  std::size_t pairsCount = 0;

  // The pair's character, or 0.
  char32_t CharacterOfPair(std::uint16_t pair) const {
    for (std::size_t k = 0; k < pairsCount; ++k)
      if (pair >= pairs[k].first && pair - pairs[k].first < pairs[k].count) return pairs[k].character + (pair - pairs[k].first);
    return 0;
  }
  // The character's pair, or 0.
  std::uint16_t PairOfCharacter(char32_t c) const {
    for (std::size_t k = 0; k < pairsCount; ++k)
      if (c >= pairs[k].character && c - pairs[k].character < pairs[k].count)
        return static_cast<std::uint16_t>(pairs[k].first + (c - pairs[k].character));
    return 0;
  }
};

constexpr SingleByte k1252BothWays[] = {{0x81, 0x81}, {0x8D, 0x8D}, {0x8F, 0x8F}, {0x90, 0x90}, {0x9D, 0x9D}};
constexpr SingleByte k932BothWays[] = {{0x80, 0x80}};
constexpr SingleByte k932WrittenOnly[] = {{0xA0, 0xF8F0}, {0xFD, 0xF8F1}, {0xFE, 0xF8F2}, {0xFF, 0xF8F3}};
constexpr char32_t k932Refused[] = {0x00A2, 0x00A3, 0x00A5, 0x00AC, 0x2014, 0x2016, 0x203E, 0x2212, 0x301C};

// Code page 936: the user-defined areas (AAA1-AFFE, F8A1-FEFE, A140-A7A0) and a few more
// pairs, which Windows reads as private-use characters, and U+F8F5 written as 0xFF.
constexpr SingleByte k936WrittenOnly[] = {{0xFF, 0xF8F5}};
constexpr DoubleByteRun k936Pairs[] = {
    {0xAAA1, 0xE000, 94}, {0xABA1, 0xE05E, 94}, {0xACA1, 0xE0BC, 94}, {0xADA1, 0xE11A, 94}, {0xAEA1, 0xE178, 94},
    {0xAFA1, 0xE1D6, 94}, {0xF8A1, 0xE234, 94}, {0xF9A1, 0xE292, 94}, {0xFAA1, 0xE2F0, 94}, {0xFBA1, 0xE34E, 94},
    {0xFCA1, 0xE3AC, 94}, {0xFDA1, 0xE40A, 94}, {0xFEA1, 0xE468, 94}, {0xA140, 0xE4C6, 63}, {0xA180, 0xE505, 33},
    {0xA240, 0xE526, 63}, {0xA280, 0xE565, 33}, {0xA340, 0xE586, 63}, {0xA380, 0xE5C5, 33}, {0xA440, 0xE5E6, 63},
    {0xA480, 0xE625, 33}, {0xA540, 0xE646, 63}, {0xA580, 0xE685, 33}, {0xA640, 0xE6A6, 63}, {0xA680, 0xE6E5, 33},
    {0xA740, 0xE706, 63}, {0xA780, 0xE745, 33}, {0xA2AB, 0xE766, 6}, {0xA2E3, 0xE76C, 2}, {0xA2EF, 0xE76E, 2},
    {0xA2FD, 0xE770, 2}, {0xA4F4, 0xE772, 11}, {0xA5F7, 0xE77D, 8}, {0xA6B9, 0xE785, 8}, {0xA6D9, 0xE78D, 7},
    {0xA6EC, 0xE794, 2}, {0xA6F3, 0xE796, 1}, {0xA6F6, 0xE797, 9}, {0xA7C2, 0xE7A0, 15}, {0xA7F2, 0xE7AF, 13},
    {0xA896, 0xE7BC, 11}, {0xA8BC, 0xE7C7, 1}, {0xA8BF, 0xE7C8, 1}, {0xA8C1, 0xE7C9, 4}, {0xA8EA, 0xE7CD, 21},
    {0xA958, 0xE7E2, 1}, {0xA95B, 0xE7E3, 1}, {0xA95D, 0xE7E4, 3}, {0xA989, 0xE7E7, 13}, {0xA997, 0xE7F4, 13},
    {0xA9F0, 0xE801, 15}, {0xD7FA, 0xE810, 5}, {0xFE50, 0xE815, 47}, {0xFE80, 0xE844, 33},
};

bool NoLeadBytes(unsigned char) { return false; }
bool Is932LeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool Is936LeadByte(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

constexpr CodePageAmendments k1252 = {k1252BothWays, std::size(k1252BothWays), nullptr, 0, nullptr, 0, NoLeadBytes};
constexpr CodePageAmendments k932 = {k932BothWays, std::size(k932BothWays), k932WrittenOnly, std::size(k932WrittenOnly),
                                     k932Refused,  std::size(k932Refused),  Is932LeadByte};
constexpr CodePageAmendments k936 = {nullptr, 0, k936WrittenOnly, std::size(k936WrittenOnly), nullptr, 0, Is936LeadByte,
                                     k936Pairs, std::size(k936Pairs)};

// Converts strictly: a character without a form in the target, or input that is not
// valid in the source, fails; nothing is transliterated or dropped. Appends to *out.
bool Convert(iconv_t cd, const unsigned char* in, std::size_t n, SecureBytes* out) {
  ::iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial shift state
  const std::size_t start = out->size();
  out->resize(start + n * 4 + 16);
  char* input = const_cast<char*>(reinterpret_cast<const char*>(in));
  std::size_t inputLeft = n;
  std::size_t used = start;
  bool flushing = false;
  for (;;) {
    char* output = reinterpret_cast<char*>(out->data()) + used;
    std::size_t outputLeft = out->size() - used;
    const std::size_t result = flushing ? ::iconv(cd, nullptr, nullptr, &output, &outputLeft)
                                        : ::iconv(cd, &input, &inputLeft, &output, &outputLeft);
    used = out->size() - outputLeft;
    if (result == static_cast<std::size_t>(-1)) {
      if (errno != E2BIG) return false;
      out->resize(out->size() * 2);
      continue;
    }
    if (result != 0) return false;  // an irreversible (substituted) conversion
    if (flushing) break;
    flushing = true;
  }
  out->resize(used);
  return true;
}

void AppendCharacter(char32_t c, SecureBytes* utf32) {
  for (int i = 0; i < 4; ++i) utf32->push_back(static_cast<unsigned char>(c >> (8 * i)));
}

char32_t CharacterAt(const SecureBytes& utf32, std::size_t index) {
  char32_t c = 0;
  for (int i = 0; i < 4; ++i) c |= static_cast<char32_t>(utf32[index * 4 + static_cast<std::size_t>(i)]) << (8 * i);
  return c;
}

const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

// The locale's text to and from the encoding, through UTF-32.
class IconvCodec final : public TextCodec {
 public:
  IconvCodec(std::string name, std::string local, const CodePageAmendments* amendments)
      : name_(std::move(name)), local_(std::move(local)), amendments_(amendments) {}
  ~IconvCodec() override {
    for (iconv_t cd : {fromLocal_, toLocal_, toTarget_, fromTarget_})
      if (cd != kNone) ::iconv_close(cd);
  }
  IconvCodec(const IconvCodec&) = delete;
  IconvCodec& operator=(const IconvCodec&) = delete;

  bool Open(const std::string& iconvName) {
    fromLocal_ = ::iconv_open("UTF-32LE", local_.c_str());
    toLocal_ = ::iconv_open(local_.c_str(), "UTF-32LE");
    toTarget_ = ::iconv_open(iconvName.c_str(), "UTF-32LE");
    fromTarget_ = ::iconv_open("UTF-32LE", iconvName.c_str());
    return fromLocal_ != kNone && toLocal_ != kNone && toTarget_ != kNone && fromTarget_ != kNone;
  }

  Result Encode(const UserText& text, SecureBytes* bytes) override {
    bytes->clear();
    SecureBytes utf32;
    if (!Convert(fromLocal_, reinterpret_cast<const unsigned char*>(text.data()), text.size(), &utf32))
      return Result::kNotValidText;
    return FromUtf32(utf32, bytes) ? Result::kOk : Result::kNotRepresentable;
  }

  Result Decode(const unsigned char* bytes, std::size_t n, UserText* text) override {
    text->clear();
    SecureBytes utf32;
    if (!ToUtf32(bytes, n, &utf32)) return Result::kNotValidText;
    SecureBytes local;
    if (!Convert(toLocal_, utf32.data(), utf32.size(), &local)) return Result::kNotRepresentable;
    text->assign(local.begin(), local.end());
    return Result::kOk;
  }

  Result EncodeUnicode(const UnicodeText& text, SecureBytes* bytes) override {
    bytes->clear();
    SecureBytes utf32;
    for (char32_t c : text) {
      if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return Result::kNotRepresentable;
      AppendCharacter(c, &utf32);
    }
    return FromUtf32(utf32, bytes) ? Result::kOk : Result::kNotRepresentable;
  }

  Result DecodeUnicode(const unsigned char* bytes, std::size_t n, UnicodeText* text) override {
    text->clear();
    SecureBytes utf32;
    if (!ToUtf32(bytes, n, &utf32)) return Result::kNotValidText;
    for (std::size_t i = 0; i < utf32.size() / 4; ++i) text->push_back(CharacterAt(utf32, i));
    return Result::kOk;
  }

  std::string Name() const override { return name_; }
  std::string LocalName() const override { return local_ + ", the locale's character set"; }

 private:
  bool FromUtf32(const SecureBytes& utf32, SecureBytes* bytes) {
    if (amendments_ == nullptr) return Convert(toTarget_, utf32.data(), utf32.size(), bytes);
    const CodePageAmendments& a = *amendments_;
    const std::size_t count = utf32.size() / 4;
    std::size_t run = 0;  // the first character not yet converted
    for (std::size_t i = 0; i < count; ++i) {
      const char32_t c = CharacterAt(utf32, i);
      if (std::find(a.refused, a.refused + a.refusedCount, c) != a.refused + a.refusedCount) return false;
      if (const std::uint16_t pair = a.PairOfCharacter(c); pair != 0) {
        if (i > run && !Convert(toTarget_, utf32.data() + run * 4, (i - run) * 4, bytes)) return false;
        bytes->push_back(static_cast<unsigned char>(pair >> 8));
        bytes->push_back(static_cast<unsigned char>(pair));
        run = i + 1;
        continue;
      }
      const SingleByte* own = nullptr;
      for (std::size_t k = 0; own == nullptr && k < a.bothWaysCount; ++k)
        if (a.bothWays[k].character == c) own = &a.bothWays[k];
      for (std::size_t k = 0; own == nullptr && k < a.writtenOnlyCount; ++k)
        if (a.writtenOnly[k].character == c) own = &a.writtenOnly[k];
      if (own == nullptr) continue;
      if (i > run && !Convert(toTarget_, utf32.data() + run * 4, (i - run) * 4, bytes)) return false;
      bytes->push_back(own->byte);
      run = i + 1;
    }
    return count == run || Convert(toTarget_, utf32.data() + run * 4, (count - run) * 4, bytes);
  }

  bool ToUtf32(const unsigned char* bytes, std::size_t n, SecureBytes* utf32) {
    if (amendments_ == nullptr) return Convert(fromTarget_, bytes, n, utf32);
    const CodePageAmendments& a = *amendments_;
    std::size_t run = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (a.isLeadByte(bytes[i])) {
        const char32_t c = i + 1 < n ? a.CharacterOfPair(static_cast<std::uint16_t>(bytes[i] << 8 | bytes[i + 1])) : 0;
        if (c != 0) {
          if (i > run && !Convert(fromTarget_, bytes + run, i - run, utf32)) return false;
          AppendCharacter(c, utf32);
          run = i + 2;
        }
        ++i;  // its second byte belongs to it
        continue;
      }
      const SingleByte* own = nullptr;
      for (std::size_t k = 0; own == nullptr && k < a.bothWaysCount; ++k)
        if (a.bothWays[k].byte == bytes[i]) own = &a.bothWays[k];
      if (own == nullptr) continue;
      if (i > run && !Convert(fromTarget_, bytes + run, i - run, utf32)) return false;
      AppendCharacter(own->character, utf32);
      run = i + 1;
    }
    return n <= run || Convert(fromTarget_, bytes + run, n - run, utf32);
  }

  std::string name_, local_;
  const CodePageAmendments* amendments_;
  iconv_t fromLocal_ = kNone, toLocal_ = kNone, toTarget_ = kNone, fromTarget_ = kNone;
};

// The character set of the user's locale; UTF-8 in the C locale, which names none.
std::string LocaleCharset() {
  std::setlocale(LC_CTYPE, "");
  const char* codeset = ::nl_langinfo(CODESET);
  const std::string name = codeset != nullptr ? codeset : "";
  if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII") return "UTF-8";
  return name;
}

}  // namespace

std::unique_ptr<TextCodec> TextCodec::Open(const std::string& name, std::string* problem) {
  if (name.empty()) return std::make_unique<IdentityCodec>();
  // The code pages whose Windows tables are kept here, under every name Windows gives them.
  const unsigned codePage = CodePageOfName(name);
  const CodePageAmendments* amendments =
      codePage == 1252 ? &k1252 : codePage == 932 ? &k932 : codePage == 936 ? &k936 : nullptr;
  const std::string iconvName = codePage == 1252 ? "CP1252" : codePage == 932 ? "CP932" : codePage == 936 ? "CP936" : name;
  auto codec = std::make_unique<IconvCodec>(name, LocaleCharset(), amendments);
  if (!codec->Open(iconvName)) {
    *problem = "unknown encoding '" + name + "'";
    return nullptr;
  }
  // Text is NUL-terminated inside the component: an encoding with zero bytes in its
  // ordinary characters (UTF-16, UTF-32) cannot carry it.
  SecureBytes sample;
  if (codec->Encode(UserText{'A'}, &sample) != Result::kOk || sample.empty() ||
      std::find(sample.begin(), sample.end(), 0) != sample.end()) {
    *problem = "encoding '" + name + "' cannot be used: its characters hold zero bytes (the component ends text at a zero byte)";
    return nullptr;
  }
  return codec;
}

}  // namespace corvane::cli
