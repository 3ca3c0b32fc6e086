// The Base64 ciphertext text, between the conversions from and to VARIANTs.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "crypt/status.h"
#include "crypt/string_cipher.h"
#include "tests/support/crypt_vectors.h"

namespace corvane {
namespace {

using test::Bytes;

const unsigned char* KeyBytes(const std::string& key) { return reinterpret_cast<const unsigned char*>(key.c_str()); }
std::int32_t KeyLength(const std::string& key) { return static_cast<std::int32_t>(key.size()); }

// Base64 text, or "<status N>".
std::string Encrypt(const std::string& key, const Bytes& plaintext) {
  CPemmet pemmet;
  unsigned char* text = nullptr;
  const std::int32_t status = EncryptToBase64(pemmet, plaintext.data(), static_cast<std::uint32_t>(plaintext.size()),
                                              KeyBytes(key), KeyLength(key), &text);
  if (status < 0) return "<status " + std::to_string(status) + ">";
  std::string out(reinterpret_cast<char*>(text));
  pemmet.Sfree(&text);
  return out;
}

std::string Decrypt(const std::string& key, const std::string& base64) {
  CPemmet pemmet;
  if (pemmet.SmemCpyChar(pemmet.GetMyMemInPP(), static_cast<std::uint32_t>(base64.size()),
                         reinterpret_cast<const unsigned char*>(base64.data())) < 0)
    return "<no memory>";
  unsigned char* text = nullptr;
  const std::int32_t status =
      DecryptFromBase64(pemmet, static_cast<std::uint32_t>(base64.size()), KeyBytes(key), KeyLength(key), &text);
  if (status < 0) return "<status " + std::to_string(status) + ">";
  std::string out(reinterpret_cast<char*>(text));
  pemmet.Sfree(&text);
  return out;
}

Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(StringCipher, MatchesTheBufferVectorsBothWays) {
  for (const auto& v : test::BlowfishBufferVectors()) {
    SCOPED_TRACE(v.key + " / " + test::ToHex(v.plaintext));
    EXPECT_EQ(Encrypt(v.key, v.plaintext), test::Base64(v.ciphertext));
    EXPECT_EQ(Decrypt(v.key, test::Base64(v.ciphertext)), test::AsText(v.plaintext));
  }
}

TEST(StringCipher, TextOfOneToEightBytesGivesTwelveCharacters) {
  const std::pair<std::size_t, std::size_t> sizes[] = {{0, 0}, {1, 12}, {7, 12}, {8, 12}, {9, 24}, {16, 24}, {17, 32}};
  for (const auto& [n, characters] : sizes) EXPECT_EQ(Encrypt("key", Bytes(n, 'x')).size(), characters) << n;
}

TEST(StringCipher, RoundTripsTexts) {
  std::mt19937 rng(17);
  std::string random(5000, ' ');
  for (auto& c : random) c = static_cast<char>(1 + rng() % 255);
  for (const std::string& text : {std::string(""), std::string("a"), std::string("exactly8"), std::string("nine chars"),
                                  std::string("\xE9t\xE9 \x80"), random}) {
    EXPECT_EQ(Decrypt("round trip", Encrypt("round trip", AsBytes(text))), text);
  }
}

TEST(StringCipher, DecryptionStopsAtTheFirstZeroByte) {
  EXPECT_EQ(Decrypt("k", Encrypt("k", Bytes{'a', 'b', 0, 'c', 'd'})), "ab");
}

TEST(StringCipher, EqualTextGivesEqualCiphertextAndEqualBlocksRepeat) {
  EXPECT_EQ(Encrypt("k", AsBytes("same")), Encrypt("k", AsBytes("same")));
  const std::string twice = Encrypt("k", AsBytes("blockOneblockOne"));
  EXPECT_EQ(twice.size(), 24u);
  // 16 bytes are 21⅓ Base64 characters: compare the decoded halves instead.
  CPemmet pemmet;
  pemmet.SmemCpyChar(pemmet.GetMyMemInPP(), 24, reinterpret_cast<const unsigned char*>(twice.data()));
  ASSERT_EQ(pemmet.SInBase64Main(CPemmet::kDecode, 24, 0), 16);
  EXPECT_EQ(std::memcmp(pemmet.GetMyMemOutP(), pemmet.GetMyMemOutP() + 8, 8), 0);
}

TEST(StringCipher, MalformedBase64IsAStatus) {
  for (const char* bad : {"abc", "ab!d", "Zg=", "====", "Zg==Zg=="}) EXPECT_EQ(Decrypt("k", bad), "<status -107>") << bad;
}

TEST(StringCipher, PartialBlocksAreCompletedWithZeros) {
  // 5 ciphertext bytes, as Base64 that the encryptor never writes: deciphered as the
  // block 5 bytes + 3 zero bytes, read only inside the buffers.
  const Bytes fiveBytes = {0x11, 0x22, 0x33, 0x44, 0x55};
  const Bytes completed = {0x11, 0x22, 0x33, 0x44, 0x55, 0, 0, 0};
  EXPECT_EQ(Decrypt("k", test::Base64(fiveBytes)), Decrypt("k", test::Base64(completed)));
  const Bytes nineBytes = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  Bytes nineCompleted = nineBytes;
  nineCompleted.resize(16, 0);
  EXPECT_EQ(Decrypt("k", test::Base64(nineBytes)), Decrypt("k", test::Base64(nineCompleted)));
}

TEST(StringCipher, EmptyBase64GivesEmptyText) {
  EXPECT_EQ(Encrypt("k", Bytes{}), "");
  EXPECT_EQ(Decrypt("k", ""), "");
  EXPECT_EQ(Decrypt("k", " \r\n"), "");
}

TEST(StringCipher, WithoutAKeyNothingIsEnciphered) {
  EXPECT_EQ(Encrypt("", Bytes{'p', 'l', 'a', 'i', 'n'}), "<status " + std::to_string(STATUS_NO_KEY) + ">");
  EXPECT_EQ(Decrypt("", "AAAAAAAAAAA="), "<status " + std::to_string(STATUS_NO_KEY) + ">");
}

}  // namespace
}  // namespace corvane
