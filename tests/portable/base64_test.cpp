#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "crypt/base64.h"

namespace corvane {
namespace {

std::string Encode(const std::string& in) {
  std::string out(base64::EncodedLength(in.size()), '?');
  base64::Encode(reinterpret_cast<const unsigned char*>(in.data()), in.size(), out.data());
  return out;
}

// Decoded bytes, or "<invalid>".
std::string Decode(const std::string& text) {
  std::vector<unsigned char> out(base64::MaxDecodedLength(text.size()) + 1);
  std::size_t n = 99;
  if (!base64::Decode(text.data(), text.size(), out.data(), &n)) {
    EXPECT_EQ(n, 0u);
    return "<invalid>";
  }
  return std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST(Base64, Rfc4648Vectors) {
  const std::pair<std::string, std::string> cases[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                                       {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                                       {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, text] : cases) {
    EXPECT_EQ(Encode(plain), text);
    EXPECT_EQ(Decode(text), plain);
  }
}

TEST(Base64, UsesTheStandardAlphabetIncludingPlusAndSlash) {
  EXPECT_EQ(Encode(std::string("\xFB\xFF\xBF", 3)), "+/+/");
  EXPECT_EQ(Decode("+/+/"), std::string("\xFB\xFF\xBF", 3));
}

TEST(Base64, SkipsAsciiWhiteSpaceAnywhere) {
  EXPECT_EQ(Decode(" Zm9v\r\nYmFy\t"), "foobar");
  EXPECT_EQ(Decode("Zm9v\r\nYg=\r\n=\r\n"), "foob");
  EXPECT_EQ(Decode(" \r\n "), "");
}

TEST(Base64, RejectsMalformedText) {
  for (const char* bad : {"Z", "Zg", "Zg=", "Zm9", "Zm9vY", "Zg===", "=Zg=", "Z===", "Zm9=v", "Zg==Zg==", "Zm9v!", "Zm-_",
                          "Zm9v\x80"}) {
    EXPECT_EQ(Decode(bad), "<invalid>") << bad;
  }
  EXPECT_EQ(Decode(std::string("Zm\0v", 4)), "<invalid>");
}

TEST(Base64, RoundTripsEveryLengthAndByte) {
  std::mt19937 rng(1);
  for (std::size_t n = 0; n < 200; ++n) {
    std::string plain(n, '\0');
    for (auto& c : plain) c = static_cast<char>(rng());
    const std::string text = Encode(plain);
    EXPECT_EQ(text.size() % 4, 0u);
    EXPECT_EQ(Decode(text), plain);
  }
}

}  // namespace
}  // namespace corvane
