// Text conversion on POSIX systems: the bytes as given by default, iconv otherwise.
#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <clocale>

#include "cli/text_codec.h"

namespace corvane::cli {
namespace {

class IdentityCodec final : public TextCodec {
 public:
  bool Encode(const UserText& text, SecureBytes* bytes) override {
    bytes->assign(text.begin(), text.end());
    return true;
  }
  bool Decode(const unsigned char* bytes, std::size_t n, UserText* text) override {
    text->assign(bytes, bytes + n);
    return true;
  }
  std::string Name() const override { return "the bytes as given"; }
};

// Converts strictly: a character without a form in the target, or input that is not
// valid in the source, fails; nothing is transliterated or dropped.
bool Convert(iconv_t cd, const unsigned char* in, std::size_t n, SecureBytes* out) {
  ::iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial shift state
  out->assign(n * 4 + 16, 0);
  char* input = const_cast<char*>(reinterpret_cast<const char*>(in));
  std::size_t inputLeft = n;
  std::size_t used = 0;
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

class IconvCodec final : public TextCodec {
 public:
  IconvCodec(std::string name, iconv_t toTarget, iconv_t fromTarget)
      : name_(std::move(name)), toTarget_(toTarget), fromTarget_(fromTarget) {}
  ~IconvCodec() override {
    ::iconv_close(toTarget_);
    ::iconv_close(fromTarget_);
  }
  IconvCodec(const IconvCodec&) = delete;
  IconvCodec& operator=(const IconvCodec&) = delete;

  bool Encode(const UserText& text, SecureBytes* bytes) override {
    return Convert(toTarget_, reinterpret_cast<const unsigned char*>(text.data()), text.size(), bytes);
  }
  bool Decode(const unsigned char* bytes, std::size_t n, UserText* text) override {
    SecureBytes local;
    if (!Convert(fromTarget_, bytes, n, &local)) return false;
    text->assign(local.begin(), local.end());
    return true;
  }
  std::string Name() const override { return name_; }

 private:
  std::string name_;
  iconv_t toTarget_;
  iconv_t fromTarget_;
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
  const std::string local = LocaleCharset();
  const iconv_t toTarget = ::iconv_open(name.c_str(), local.c_str());
  if (toTarget == reinterpret_cast<iconv_t>(-1)) {
    *problem = "unknown encoding '" + name + "'";
    return nullptr;
  }
  const iconv_t fromTarget = ::iconv_open(local.c_str(), name.c_str());
  if (fromTarget == reinterpret_cast<iconv_t>(-1)) {
    ::iconv_close(toTarget);
    *problem = "unknown encoding '" + name + "'";
    return nullptr;
  }
  auto codec = std::make_unique<IconvCodec>(name, toTarget, fromTarget);
  // Text is NUL-terminated inside the component: an encoding with zero bytes in its
  // ordinary characters (UTF-16, UTF-32) cannot carry it.
  SecureBytes sample;
  if (!codec->Encode(UserText{'A'}, &sample) || sample.empty() ||
      std::find(sample.begin(), sample.end(), 0) != sample.end()) {
    *problem = "encoding '" + name + "' cannot be used: its characters hold zero bytes (the component ends text at a zero byte)";
    return nullptr;
  }
  return codec;
}

}  // namespace corvane::cli
