// Encode and Decode run several blocks at a time (engine/blowfish_kernels.h, and the
// vector kernels of engine/blowfish_kernels_vector.h); the single-block Encipher and
// Decipher stay the reference they must match byte for byte, for every kernel set this
// build has. A set this CPU cannot run is skipped with a message naming it.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/blowfish_engine.h"
#include "engine/blowfish_init_tables.h"
#include "engine/blowfish_kernel_sets.h"
#include "tests/support/vector_files.h"

namespace corvane {
namespace {

using detail::BlowfishKernels;
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

std::string Name(const BlowfishKernels& set) {
  return std::string(set.layout) + " x" + std::to_string(set.width) + " (" + set.instructions + ")";
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

// The output of `run` between guard bytes, with the input alone in an allocation of
// exactly its size (a read past it shows under AddressSanitizer); both start `shift`
// bytes into their allocation, so the kernels see unaligned buffers too.
struct GuardedResult {
  Bytes output;
  bool guardsIntact = true;
};
constexpr std::size_t kGuard = 16;

template <class Run>
GuardedResult Guarded(const Bytes& input, std::size_t outputLength, std::size_t shift, Run run) {
  std::vector<unsigned char> in(shift + input.size());
  std::copy(input.begin(), input.end(), in.begin() + static_cast<std::ptrdiff_t>(shift));
  std::vector<unsigned char> out(shift + kGuard + outputLength + kGuard, 0xA5);
  unsigned char* body = out.data() + shift + kGuard;
  run(in.data() + shift, body);
  GuardedResult result;
  result.output.assign(body, body + outputLength);
  for (std::size_t i = 0; i < shift + kGuard; ++i) result.guardsIntact &= out[i] == 0xA5;
  for (std::size_t i = 0; i < kGuard; ++i) result.guardsIntact &= out[out.size() - 1 - i] == 0xA5;
  return result;
}

GuardedResult GuardedEngine(const BlowfishEngine& engine, const Bytes& input, bool encode, std::size_t shift) {
  const std::uint32_t n = static_cast<std::uint32_t>(input.size());
  return Guarded(input, BlowfishEngine::GetOutputLength(n), shift, [&](const unsigned char* in, unsigned char* out) {
    if (encode) {
      EXPECT_EQ(engine.Encode(in, out, n), BlowfishEngine::GetOutputLength(n));
    } else {
      engine.Decode(in, out, n);
    }
  });
}

// Every length from 0 to 300 bytes (0 to 37 whole blocks: every remainder of every
// group size up to 32 blocks), and some large ones.
std::vector<std::size_t> Lengths() {
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (std::size_t n : {1023u, 1024u, 4096u + 3u, 65536u + 8u * 7u, (1u << 20) + 5u}) lengths.push_back(n);
  return lengths;
}

Bytes RandomKey(std::mt19937& rng) {
  std::uniform_int_distribution<std::size_t> length(1, 80);  // beyond 72 too
  return RandomBytes(rng, length(rng));
}

// Calls f with the stack pointer moved down by `pad` bytes (0 or 16), so that a kernel
// called from f starts its frame at either 32-byte alignment. The Windows x64 ABI
// aligns the stack to 16 bytes only, and mingw-w64's GCC spills 32-byte vectors with
// aligned moves that fault at the wrong one unless the vector kernels are assembled
// with -muse-unaligned-vector-move (engine/CMakeLists.txt).
template <class F>
__attribute__((noinline)) void WithStackPad(std::size_t pad, F&& f) {
  volatile unsigned char* moved = static_cast<unsigned char*>(__builtin_alloca(pad + 16));
  moved[0] = 0;
  f();
  moved[0] = 1;
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

    const GuardedResult encoded = GuardedEngine(engine, plaintext, true, shift);
    EXPECT_TRUE(encoded.guardsIntact);
    ASSERT_EQ(encoded.output, OneBlockAtATime(engine, plaintext, true));

    const GuardedResult decoded = GuardedEngine(engine, encoded.output, false, 7 - shift);
    EXPECT_TRUE(decoded.guardsIntact);
    Bytes padded = plaintext;
    padded.resize(decoded.output.size(), 0);
    ASSERT_EQ(decoded.output, padded);

    // Decode of arbitrary bytes, a partial last block included.
    const Bytes noise = RandomBytes(rng, n);
    const GuardedResult deciphered = GuardedEngine(engine, noise, false, shift);
    EXPECT_TRUE(deciphered.guardsIntact);
    ASSERT_EQ(deciphered.output, OneBlockAtATime(engine, noise, false));
  }
}

// --- every kernel set of the build, one test instance each -------------------------

std::vector<const BlowfishKernels*> CompiledSets() {
  const BlowfishKernels* sets[detail::kMaxKernelSets];
  const std::size_t count = detail::CompiledBlowfishKernels(sets);
  return std::vector<const BlowfishKernels*>(sets, sets + count);
}

const char* FeatureName(detail::CpuFeature feature) {
  switch (feature) {
    case detail::CpuFeature::None: return "nothing";
    case detail::CpuFeature::Bmi1: return "BMI1";
    case detail::CpuFeature::Avx2: return "AVX2 with BMI1 and the operating system's YMM state";
    case detail::CpuFeature::Avx512: return "AVX-512F with AVX2, BMI1 and the operating system's ZMM state";
  }
  return "?";
}

class BlowfishKernelSet : public testing::TestWithParam<const BlowfishKernels*> {
 protected:
  void SetUp() override {
    const BlowfishKernels& set = *GetParam();
    if (!detail::CpuSupports(set.needs))
      GTEST_SKIP() << "kernel set " << Name(set) << " not run: this CPU lacks " << FeatureName(set.needs);
  }
};

// Its key schedule gives the tables of the baseline schedule, and its block functions
// the engine's single blocks at every length, from and to unaligned buffers between
// guard bytes, called at both 32-byte alignments of the stack.
TEST_P(BlowfishKernelSet, MatchesTheSingleBlockCipherAtEveryLength) {
  const BlowfishKernels& set = *GetParam();
  const BlowfishKernels& baseline = *CompiledSets().front();
  std::mt19937 rng(77);
  for (std::size_t n : Lengths()) {
    const std::size_t blocks = n / 8, shift = n % 8, pad = n / 8 % 2 * 16;
    SCOPED_TRACE(Name(set) + ", " + std::to_string(blocks) + " blocks, shift " + std::to_string(shift));
    const Bytes key = RandomKey(rng);
    BlowfishEngine engine;
    engine.Initialize(key.data(), static_cast<std::int32_t>(key.size()));

    std::vector<std::uint32_t> P(18), S(1024), baselineP(18), baselineS(1024);
    set.schedule(P.data(), S.data(), key.data(), static_cast<std::uint32_t>(key.size()));
    baseline.schedule(baselineP.data(), baselineS.data(), key.data(), static_cast<std::uint32_t>(key.size()));
    ASSERT_EQ(P, baselineP);
    ASSERT_EQ(S, baselineS);

    const Bytes data = RandomBytes(rng, 8 * blocks);
    const GuardedResult enciphered =
        Guarded(data, data.size(), shift, [&](const unsigned char* in, unsigned char* out) {
          WithStackPad(pad, [&] { set.encipher(P.data(), S.data(), in, out, blocks); });
        });
    EXPECT_TRUE(enciphered.guardsIntact);
    ASSERT_EQ(enciphered.output, OneBlockAtATime(engine, data, true));

    const GuardedResult deciphered =
        Guarded(data, data.size(), 7 - shift, [&](const unsigned char* in, unsigned char* out) {
          WithStackPad(16 - pad, [&] { set.decipher(P.data(), S.data(), in, out, blocks); });
        });
    EXPECT_TRUE(deciphered.guardsIntact);
    ASSERT_EQ(deciphered.output, OneBlockAtATime(engine, data, false));
  }
}

INSTANTIATE_TEST_SUITE_P(BlowfishKernels, BlowfishKernelSet, testing::ValuesIn(CompiledSets()),
                         [](const testing::TestParamInfo<const BlowfishKernels*>& info) {
                           return std::string(info.param->layout) + "_x" + std::to_string(info.param->width) + "_" +
                                  info.param->instructions;
                         });

// --- the choice -------------------------------------------------------------------

TEST(BlowfishKernelChoice, TheEngineRunsOneOfTheRunnableKernelSets) {
  const detail::BlowfishKernels* sets[detail::kMaxKernelSets];
  const std::size_t count = detail::RunnableBlowfishKernels(sets);
  ASSERT_GE(count, 2u) << "the packed and split layouts are always built";
  bool found = false;
  for (std::size_t i = 0; i < count; ++i) found |= sets[i] == &detail::ActiveBlowfishKernels();
  EXPECT_TRUE(found) << Name(detail::ActiveBlowfishKernels());
}

// The engine's choice is published with what it compared: a scalar reference first,
// then only sets this CPU runs, the chosen one among those that agreed.
TEST(BlowfishKernelChoice, TheEnginesChoiceIsPublishedWithItsCandidates) {
  const BlowfishKernels& active = detail::ActiveBlowfishKernels();
  const detail::KernelChoice* choice = detail::PublishedBlowfishKernelChoice();
  ASSERT_NE(choice, nullptr);
  EXPECT_EQ(choice->chosen, &active);
  ASSERT_GE(choice->count, 1u);
  ASSERT_LE(choice->count, detail::kMaxKernelSets);
  const detail::CpuFeature referenceNeeds = choice->candidates[0].set->needs;
  EXPECT_TRUE(referenceNeeds == detail::CpuFeature::None || referenceNeeds == detail::CpuFeature::Bmi1);
  bool chosenListed = false;
  for (std::size_t i = 0; i < choice->count; ++i) {
    const detail::KernelTiming& candidate = choice->candidates[i];
    SCOPED_TRACE(Name(*candidate.set));
    EXPECT_TRUE(detail::CpuSupports(candidate.set->needs));
    EXPECT_TRUE(candidate.agrees) << "a set of this build disagrees with the reference on this CPU";
    if (candidate.set == &active) chosenListed = true;
  }
  EXPECT_TRUE(chosenListed);
  if (choice->count == 1) {
    EXPECT_EQ(choice->reason, detail::ChoiceReason::OnlyCandidate);
  }
}

// Stand-ins for a kernel built wrong: the fastest possible "cipher" (a copy), and a set
// whose encipher is right but whose decipher is a copy.
void CopyBlocks(const std::uint32_t*, const std::uint32_t*, const unsigned char* in, unsigned char* out,
                std::size_t blocks) {
  std::memcpy(out, in, 8 * blocks);
}

TEST(BlowfishKernelChoice, ASetThatDisagreesWithTheReferenceIsNeverChosen) {
  detail::ActiveBlowfishKernels();  // the engine's choice, for its reference
  ASSERT_NE(detail::PublishedBlowfishKernelChoice(), nullptr);
  const BlowfishKernels& scalar = *detail::PublishedBlowfishKernelChoice()->candidates[0].set;
  BlowfishKernels copyingEncipher = scalar, copyingDecipher = scalar;
  copyingEncipher.layout = "copy-encipher";
  copyingEncipher.encipher = CopyBlocks;
  copyingDecipher.layout = "copy-decipher";
  copyingDecipher.decipher = CopyBlocks;

  // Alone beside the reference, and beside a correct candidate: the copies never win,
  // however fast, and are never even timed.
  const BlowfishKernels* alone[] = {&scalar, &copyingEncipher, &copyingDecipher};
  const BlowfishKernels* withCorrect[] = {&scalar, &copyingEncipher, &scalar, &copyingDecipher};
  for (int round = 0; round < 20; ++round) {
    detail::KernelChoice choice;
    detail::CalibrateBlowfishKernels(alone, 3, &choice);
    EXPECT_EQ(choice.chosen, &scalar);
    EXPECT_EQ(choice.reason, detail::ChoiceReason::ReferenceKept);
    EXPECT_FALSE(choice.candidates[1].agrees);
    EXPECT_FALSE(choice.candidates[2].agrees);
    EXPECT_EQ(choice.candidates[1].ticks, ~std::uint64_t{0});

    detail::CalibrateBlowfishKernels(withCorrect, 4, &choice);
    EXPECT_EQ(choice.chosen, &scalar);
    EXPECT_TRUE(choice.candidates[2].agrees);
    EXPECT_FALSE(choice.candidates[1].agrees);
    EXPECT_FALSE(choice.candidates[3].agrees);
  }
}

// The decision on measured timings: the reference stays unless an agreeing candidate
// takes at most 9/10 of its time; then the fastest agreeing one.
TEST(BlowfishKernelChoice, TheReferenceStaysUnlessACandidateIsClearlyFaster) {
  using detail::ChoiceReason;
  struct Case {
    const char* what;
    std::vector<std::uint64_t> ticks;
    std::vector<bool> agrees;
    std::size_t chosen;
    ChoiceReason reason;
  };
  const Case cases[] = {
      {"the reference alone", {100}, {true}, 0, ChoiceReason::OnlyCandidate},
      {"a candidate 5% faster: within the noise", {100, 95}, {true, true}, 0, ChoiceReason::ReferenceKept},
      {"a candidate 10% faster", {100, 90}, {true, true}, 1, ChoiceReason::Fastest},
      {"a candidate slower", {100, 130}, {true, true}, 0, ChoiceReason::ReferenceKept},
      {"a fast candidate that disagrees", {100, 10}, {true, false}, 0, ChoiceReason::ReferenceKept},
      {"the faster of two", {100, 80, 60}, {true, true, true}, 2, ChoiceReason::Fastest},
      {"the fastest disagrees", {100, 80, 60}, {true, true, false}, 1, ChoiceReason::Fastest},
      {"a clock that never moved", {0, 0}, {true, true}, 0, ChoiceReason::ReferenceKept},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<detail::KernelTiming> timings;
    for (std::size_t i = 0; i < c.ticks.size(); ++i) timings.push_back({nullptr, c.ticks[i], c.agrees[i]});
    ChoiceReason reason = ChoiceReason::OnlyCandidate;
    EXPECT_EQ(detail::PickBlowfishKernels(timings.data(), timings.size(), &reason), c.chosen);
    EXPECT_EQ(reason, c.reason);
  }
}

#if defined(__i386__) || defined(__x86_64__)
// The engine's own CPUID and XGETBV reading against the compiler runtime's.
TEST(BlowfishKernelChoice, CpuFeaturesAgreeWithTheCompilerRuntime) {
  __builtin_cpu_init();
  const bool bmi1 = __builtin_cpu_supports("bmi") != 0;
  const bool avx2 = bmi1 && __builtin_cpu_supports("avx2") != 0;
  const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") != 0;
  EXPECT_EQ(detail::CpuSupports(detail::CpuFeature::Bmi1), bmi1);
  EXPECT_EQ(detail::CpuSupports(detail::CpuFeature::Avx2), avx2);
  EXPECT_EQ(detail::CpuSupports(detail::CpuFeature::Avx512), avx512);
  std::printf("this CPU: BMI1 %s, AVX2 %s, AVX-512F %s\n", bmi1 ? "yes" : "no", avx2 ? "yes" : "no",
              avx512 ? "yes" : "no");
}
#endif

}  // namespace
}  // namespace corvane
