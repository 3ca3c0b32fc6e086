// Encode and Decode run several blocks at a time (engine/blowfish_kernels.h); the
// single-block Encipher and Decipher stay the reference they must match byte for byte,
// for every kernel set this build has and this CPU can run.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/blowfish_engine.h"
#include "engine/blowfish_kernel_sets.h"
#include "tests/support/vector_files.h"

namespace corvane {
namespace {

using test::Bytes;

std::uint32_t Load(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void Store(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes b(n);
  for (auto& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

// What Encode (encipher) or Decode (decipher) must give: the input completed with zero
// bytes to whole blocks, each block through the single-block operation.
Bytes OneBlockAtATime(const BlowfishEngine& engine, const Bytes& input, bool encipher) {
  Bytes out = input;
  out.resize(BlowfishEngine::GetOutputLength(static_cast<std::uint32_t>(input.size())), 0);
  for (std::size_t off = 0; off < out.size(); off += 8) {
    std::uint32_t L = Load(&out[off]), R = Load(&out[off + 4]);
    encipher ? engine.Encipher(L, R) : engine.Decipher(L, R);
    Store(&out[off], L);
    Store(&out[off + 4], R);
  }
  return out;
}

// Encode or Decode with the input alone in an allocation of exactly n bytes (a read
// past it shows under AddressSanitizer) and the output between guard bytes; both start
// `shift` bytes into their allocation, so the kernels see unaligned buffers too.
struct GuardedResult {
  Bytes output;
  bool guardsIntact = true;
};
constexpr std::size_t kGuard = 16;

GuardedResult Guarded(const BlowfishEngine& engine, const Bytes& input, bool encode, std::size_t shift) {
  const std::uint32_t n = static_cast<std::uint32_t>(input.size());
  std::vector<unsigned char> in(shift + input.size());
  std::copy(input.begin(), input.end(), in.begin() + static_cast<std::ptrdiff_t>(shift));
  const std::size_t length = BlowfishEngine::GetOutputLength(n);
  std::vector<unsigned char> out(shift + kGuard + length + kGuard, 0xA5);
  unsigned char* body = out.data() + shift + kGuard;
  if (encode) {
    EXPECT_EQ(engine.Encode(in.data() + shift, body, n), length);
  } else {
    engine.Decode(in.data() + shift, body, n);
  }
  GuardedResult run;
  run.output.assign(body, body + length);
  for (std::size_t i = 0; i < shift + kGuard; ++i) run.guardsIntact &= out[i] == 0xA5;
  for (std::size_t i = 0; i < kGuard; ++i) run.guardsIntact &= out[out.size() - 1 - i] == 0xA5;
  return run;
}

// Every length from 0 to 200 bytes (0 to 25 blocks: every remainder of every width),
// and some large ones.
std::vector<std::size_t> Lengths() {
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 200; ++n) lengths.push_back(n);
  for (std::size_t n : {1023u, 1024u, 4096u + 3u, 65536u + 8u * 7u, (1u << 20) + 5u}) lengths.push_back(n);
  return lengths;
}

Bytes RandomKey(std::mt19937& rng) {
  std::uniform_int_distribution<std::size_t> length(1, 80);  // beyond 72 too
  return RandomBytes(rng, length(rng));
}

TEST(BlowfishInterleaved, EncodeAndDecodeMatchTheSingleBlockCipherAtEveryLength) {
  std::mt19937 rng(2024);
  for (std::size_t n : Lengths()) {
    SCOPED_TRACE("length " + std::to_string(n));
    const Bytes key = RandomKey(rng);
    BlowfishEngine engine;
    engine.Initialize(key.data(), static_cast<std::int32_t>(key.size()));
    const Bytes plaintext = RandomBytes(rng, n);
    const std::size_t shift = n % 8;

    const GuardedResult encoded = Guarded(engine, plaintext, true, shift);
    EXPECT_TRUE(encoded.guardsIntact);
    ASSERT_EQ(encoded.output, OneBlockAtATime(engine, plaintext, true));

    const GuardedResult decoded = Guarded(engine, encoded.output, false, 7 - shift);
    EXPECT_TRUE(decoded.guardsIntact);
    Bytes padded = plaintext;
    padded.resize(decoded.output.size(), 0);
    ASSERT_EQ(decoded.output, padded);

    // Decode of arbitrary bytes, a partial last block included.
    const Bytes noise = RandomBytes(rng, n);
    const GuardedResult deciphered = Guarded(engine, noise, false, shift);
    EXPECT_TRUE(deciphered.guardsIntact);
    ASSERT_EQ(deciphered.output, OneBlockAtATime(engine, noise, false));
  }
}

TEST(BlowfishInterleaved, TheEngineRunsOneOfTheRunnableKernelSets) {
  const detail::BlowfishKernels* sets[detail::kMaxKernelSets];
  const std::size_t count = detail::RunnableBlowfishKernels(sets);
  ASSERT_GE(count, 2u) << "the packed and split layouts are always built";
  bool found = false;
  for (std::size_t i = 0; i < count; ++i) found |= sets[i] == &detail::ActiveBlowfishKernels();
  EXPECT_TRUE(found);
}

// Each kernel set, whether the engine uses it on this machine or not (the split layout
// of the x86 build, the baseline next to BMI1), against the single-block cipher of an
// engine with the same key: its key schedule must give the engine's tables, its block
// functions the engine's single blocks.
TEST(BlowfishInterleaved, EveryKernelSetMatchesTheSingleBlockCipher) {
  const detail::BlowfishKernels* sets[detail::kMaxKernelSets];
  const std::size_t count = detail::RunnableBlowfishKernels(sets);
  std::mt19937 rng(77);
  for (std::size_t blocks : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 23u, 24u, 25u, 31u, 33u, 1000u}) {
    const Bytes key = RandomKey(rng);
    BlowfishEngine engine;
    engine.Initialize(key.data(), static_cast<std::int32_t>(key.size()));
    const Bytes data = RandomBytes(rng, 8 * blocks);
    const Bytes enciphered = OneBlockAtATime(engine, data, true);
    const Bytes deciphered = OneBlockAtATime(engine, data, false);
    for (std::size_t i = 0; i < count; ++i) {
      const detail::BlowfishKernels& set = *sets[i];
      SCOPED_TRACE(std::string(set.layout) + " x" + std::to_string(set.width) + " " + set.instructions + ", " +
                   std::to_string(blocks) + " blocks");
      std::vector<std::uint32_t> P(18), S(1024);
      set.schedule(P.data(), S.data(), key.data(), static_cast<std::uint32_t>(key.size()));
      std::vector<unsigned char> in(data.begin(), data.end()), out(data.size() + 1, 0xA5);
      set.encipher(P.data(), S.data(), in.data(), out.data(), blocks);
      EXPECT_EQ(Bytes(out.begin(), out.end() - 1), enciphered);
      set.decipher(P.data(), S.data(), in.data(), out.data(), blocks);
      EXPECT_EQ(Bytes(out.begin(), out.end() - 1), deciphered);
      EXPECT_EQ(out.back(), 0xA5);
    }
  }
}

}  // namespace
}  // namespace corvane
