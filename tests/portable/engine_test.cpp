#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/blowfish_engine.h"
#include "tests/support/vector_files.h"

namespace corvane {
namespace {

using test::Bytes;
using test::ToHex;

std::uint32_t Load(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24; }
void Store(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void Key(BlowfishEngine& engine, const Bytes& key) { engine.Initialize(key.data(), static_cast<std::int32_t>(key.size())); }
void Key(BlowfishEngine& engine, const std::string& key) {
  engine.Initialize(reinterpret_cast<const unsigned char*>(key.data()), static_cast<std::int32_t>(key.size()));
}

Bytes EncodeAll(const BlowfishEngine& engine, const Bytes& in) {
  Bytes out(BlowfishEngine::GetOutputLength(static_cast<std::uint32_t>(in.size())));
  EXPECT_EQ(engine.Encode(in.data(), out.data(), static_cast<std::uint32_t>(in.size())), out.size());
  return out;
}

Bytes DecodeAll(const BlowfishEngine& engine, const Bytes& in) {
  Bytes out(BlowfishEngine::GetOutputLength(static_cast<std::uint32_t>(in.size())));
  engine.Decode(in.data(), out.data(), static_cast<std::uint32_t>(in.size()));
  return out;
}

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes b(n);
  for (auto& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

TEST(BlowfishEngine, AllocatesItsTables) {
  BlowfishEngine engine;
  EXPECT_TRUE(engine.IsAllocated());
}

TEST(BlowfishEngine, MatchesEverySingleBlockVector) {
  const auto vectors = test::BlowfishBlockVectors();
  ASSERT_GT(vectors.size(), 80u);
  for (const auto& v : vectors) {
    SCOPED_TRACE("key " + ToHex(v.key) + " plaintext " + ToHex(v.plaintext));
    BlowfishEngine engine;
    Key(engine, v.key);
    std::uint32_t L = Load(v.plaintext.data()), R = Load(v.plaintext.data() + 4);
    engine.Encipher(L, R);
    unsigned char block[8];
    Store(block, L);
    Store(block + 4, R);
    EXPECT_EQ(ToHex(block, 8), ToHex(v.ciphertext));
    engine.Decipher(L, R);
    Store(block, L);
    Store(block + 4, R);
    EXPECT_EQ(ToHex(block, 8), ToHex(v.plaintext));
    EXPECT_EQ(ToHex(EncodeAll(engine, v.plaintext)), ToHex(v.ciphertext));
  }
}

TEST(BlowfishEngine, ZeroKeyZeroBlockGivesThePublishedVectorInLittleEndianHalves) {
  BlowfishEngine engine;
  Key(engine, Bytes(8, 0));
  const Bytes out = EncodeAll(engine, Bytes(8, 0));
  EXPECT_EQ(ToHex(out), "4597F94E78DD9861");
}

TEST(BlowfishEngine, MatchesEveryBufferVectorBothWays) {
  const auto vectors = test::BlowfishBufferVectors();
  ASSERT_GT(vectors.size(), 10u);
  for (const auto& v : vectors) {
    SCOPED_TRACE("key '" + v.key + "' plaintext " + ToHex(v.plaintext));
    BlowfishEngine engine;
    Key(engine, v.key);
    EXPECT_EQ(ToHex(EncodeAll(engine, v.plaintext)), ToHex(v.ciphertext));
    Bytes padded = v.plaintext;
    padded.resize(v.ciphertext.size(), 0);
    EXPECT_EQ(ToHex(DecodeAll(engine, v.ciphertext)), ToHex(padded));
  }
}

TEST(BlowfishEngine, KeysActAsTheirFirst72BytesRepeated) {
  std::mt19937 rng(7);
  const Bytes block = RandomBytes(rng, 64);
  for (std::size_t length : {1u, 3u, 4u, 5u, 7u, 16u, 56u, 71u, 72u}) {
    SCOPED_TRACE(length);
    const Bytes key = RandomBytes(rng, length);
    Bytes repeated;
    while (repeated.size() < 72) repeated.push_back(key[repeated.size() % length]);
    Bytes longer = repeated;
    for (int i = 0; i < 30; ++i) longer.push_back(static_cast<unsigned char>(rng()));  // ignored bytes
    BlowfishEngine a, b, c;
    Key(a, key);
    Key(b, repeated);
    Key(c, longer);
    EXPECT_EQ(EncodeAll(a, block), EncodeAll(b, block));
    EXPECT_EQ(EncodeAll(a, block), EncodeAll(c, block));
  }
}

TEST(BlowfishEngine, DecipherInvertsEncipher) {
  std::mt19937 rng(11);
  BlowfishEngine engine;
  Key(engine, RandomBytes(rng, 13));
  for (int i = 0; i < 1000; ++i) {
    const std::uint32_t L0 = rng(), R0 = rng();
    std::uint32_t L = L0, R = R0;
    engine.Encipher(L, R);
    EXPECT_FALSE(L == L0 && R == R0);
    engine.Decipher(L, R);
    ASSERT_EQ(L, L0);
    ASSERT_EQ(R, R0);
  }
}

TEST(BlowfishEngine, OutputLengthIsWholeBlocks) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {0, 0}, {1, 8}, {7, 8}, {8, 8}, {9, 16}, {16, 16}, {17, 24}, {0x7FFFFFF8u, 0x7FFFFFF8u}, {0x7FFFFFF9u, 0x80000000u}};
  for (const auto& [n, expected] : cases) EXPECT_EQ(BlowfishEngine::GetOutputLength(n), expected) << n;
}

// Runs Encode or Decode between guard bytes, with the input at the very end of its
// allocation so that a read past n shows up under AddressSanitizer.
struct GuardedRun {
  Bytes output;
  static constexpr std::size_t kGuard = 16;

  GuardedRun(const BlowfishEngine& engine, const Bytes& input, bool encode) {
    const std::uint32_t n = static_cast<std::uint32_t>(input.size());
    std::vector<unsigned char> in(input);  // exactly n bytes on the heap
    output.assign(kGuard + BlowfishEngine::GetOutputLength(n) + kGuard, 0xA5);
    unsigned char* out = output.data() + kGuard;
    if (encode) {
      EXPECT_EQ(engine.Encode(in.data(), out, n), BlowfishEngine::GetOutputLength(n));
    } else {
      engine.Decode(in.data(), out, n);
    }
  }
  bool GuardsIntact() const {
    for (std::size_t i = 0; i < kGuard; ++i)
      if (output[i] != 0xA5 || output[output.size() - 1 - i] != 0xA5) return false;
    return true;
  }
  Bytes Body() const { return Bytes(output.begin() + kGuard, output.end() - kGuard); }
};

TEST(BlowfishEngine, EncodePadsWithZerosAndWritesOnlyWholeBlocks) {
  std::mt19937 rng(3);
  BlowfishEngine engine;
  Key(engine, std::string("padding"));
  for (std::uint32_t n = 0; n <= 33; ++n) {
    SCOPED_TRACE(n);
    const Bytes input = RandomBytes(rng, n);
    GuardedRun run(engine, input, true);
    EXPECT_TRUE(run.GuardsIntact());
    Bytes padded = input;
    padded.resize(BlowfishEngine::GetOutputLength(n), 0);
    EXPECT_EQ(run.Body(), EncodeAll(engine, padded));
    EXPECT_EQ(DecodeAll(engine, run.Body()), padded);
  }
}

TEST(BlowfishEngine, DecodeCompletesAPartialLastBlockWithZeros) {
  std::mt19937 rng(5);
  BlowfishEngine engine;
  Key(engine, std::string("partial"));
  for (std::uint32_t n = 0; n <= 25; ++n) {
    SCOPED_TRACE(n);
    const Bytes input = RandomBytes(rng, n);
    GuardedRun run(engine, input, false);
    EXPECT_TRUE(run.GuardsIntact());
    Bytes completed = input;
    completed.resize(BlowfishEngine::GetOutputLength(n), 0);
    EXPECT_EQ(run.Body(), DecodeAll(engine, completed));
  }
}

TEST(BlowfishEngine, EqualAlignedBlocksGiveEqualCiphertext) {
  BlowfishEngine engine;
  Key(engine, std::string("ecb"));
  const Bytes input = {'s', 'a', 'm', 'e', 'b', 'l', 'o', 'k', 's', 'a', 'm', 'e', 'b', 'l', 'o', 'k'};
  const Bytes out = EncodeAll(engine, input);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 8, out.begin() + 8));
}

TEST(BlowfishEngine, EnginesWithTheSameKeyAreIdenticalAndIndependent) {
  std::mt19937 rng(9);
  const Bytes data = RandomBytes(rng, 100);
  BlowfishEngine a, b, other;
  Key(a, std::string("same key"));
  Key(b, std::string("same key"));
  const Bytes before = EncodeAll(a, data);
  Key(other, std::string("another key"));
  EXPECT_EQ(before, EncodeAll(b, data));
  EXPECT_EQ(before, EncodeAll(a, data));
  EXPECT_NE(before, EncodeAll(other, data));
}

TEST(BlowfishEngine, InitializeStartsAgainFromThePiTables) {
  std::mt19937 rng(13);
  const Bytes data = RandomBytes(rng, 40);
  BlowfishEngine fresh, reused;
  Key(fresh, std::string("second"));
  Key(reused, std::string("first"));
  Key(reused, std::string("second"));
  EXPECT_EQ(EncodeAll(fresh, data), EncodeAll(reused, data));
}

// Tables that no key schedule filled must never encipher: a fresh engine, and one whose
// new key was refused, write nothing at all rather than output under an unknown key or
// under the key before.
TEST(BlowfishEngine, AnUnkeyedEngineWritesNothing) {
  const Bytes data(21, 'p');
  const std::string good = "good key";
  const struct {
    const char* name;
    const unsigned char* key;  // the last key given, after "good key"; null: no key at all
    std::int32_t length;
  } cases[] = {
      {"never keyed", nullptr, 0},
      {"a null key after a good one", nullptr, 5},
      {"an empty key after a good one", reinterpret_cast<const unsigned char*>("x"), 0},
      {"a negative length after a good one", reinterpret_cast<const unsigned char*>("x"), -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BlowfishEngine engine;
    if (std::strcmp(c.name, "never keyed") != 0) {
      Key(engine, good);
      engine.Initialize(c.key, c.length);
    }
    Bytes out(24, 0xEE);
    EXPECT_EQ(engine.Encode(data.data(), out.data(), static_cast<std::uint32_t>(data.size())), 0u);
    EXPECT_EQ(out, Bytes(24, 0xEE)) << "Encode wrote into the output";
    engine.Decode(data.data(), out.data(), static_cast<std::uint32_t>(data.size()));
    EXPECT_EQ(out, Bytes(24, 0xEE)) << "Decode wrote into the output";
    // A good key afterwards keys the engine again.
    Key(engine, good);
    EXPECT_EQ(engine.Encode(data.data(), out.data(), static_cast<std::uint32_t>(data.size())), 24u);
    EXPECT_NE(out, Bytes(24, 0xEE));
  }
}

}  // namespace
}  // namespace corvane
