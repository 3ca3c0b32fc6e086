// Any key and data: every kernel set this CPU runs gives, from and to unaligned buffers,
// the single-block cipher's bytes in both directions, and the engine's Encode and
// Decode (whichever set it chose) agree with them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/blowfish_engine.h"
#include "engine/blowfish_kernel_sets.h"
#include "fuzz/fuzz_input.h"

namespace {

std::uint32_t Load(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void Store(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  const fuzz::KeyAndData input = fuzz::SplitKey(data, size);
  const unsigned char* key = reinterpret_cast<const unsigned char*>(input.key.data());
  const std::uint32_t keyLength = static_cast<std::uint32_t>(input.key.size());
  // The data's first byte, if any, shifts the buffers off their alignment.
  const std::size_t shift = input.size != 0 ? input.data[0] % 32 : 0;
  const std::size_t blocks = input.size / 8, n = 8 * blocks;

  BlowfishEngine engine;
  engine.Initialize(key, static_cast<std::int32_t>(keyLength));
  std::vector<unsigned char> enciphered(input.data, input.data + n), deciphered(enciphered);
  for (std::size_t off = 0; off < n; off += 8) {
    std::uint32_t L = Load(&enciphered[off]), R = Load(&enciphered[off + 4]);
    engine.Encipher(L, R);
    Store(&enciphered[off], L);
    Store(&enciphered[off + 4], R);
    L = Load(&deciphered[off]);
    R = Load(&deciphered[off + 4]);
    engine.Decipher(L, R);
    Store(&deciphered[off], L);
    Store(&deciphered[off + 4], R);
  }

  // Input in an allocation of exactly its size, so that a read past it is reported.
  std::vector<unsigned char> in(shift + n), out(shift + n);
  if (n != 0) std::memcpy(in.data() + shift, input.data, n);
  const detail::BlowfishKernels* sets[detail::kMaxKernelSets];
  const std::size_t count = detail::RunnableBlowfishKernels(sets);
  std::vector<std::uint32_t> P(18), S(1024);
  for (std::size_t i = 0; i < count; ++i) {
    sets[i]->schedule(P.data(), S.data(), key, keyLength);
    sets[i]->encipher(P.data(), S.data(), in.data() + shift, out.data() + shift, blocks);
    if (n != 0 && std::memcmp(out.data() + shift, enciphered.data(), n) != 0) std::abort();
    sets[i]->decipher(P.data(), S.data(), in.data() + shift, out.data() + shift, blocks);
    if (n != 0 && std::memcmp(out.data() + shift, deciphered.data(), n) != 0) std::abort();
  }

  engine.Encode(in.data() + shift, out.data() + shift, static_cast<std::uint32_t>(n));
  if (n != 0 && std::memcmp(out.data() + shift, enciphered.data(), n) != 0) std::abort();
  engine.Decode(in.data() + shift, out.data() + shift, static_cast<std::uint32_t>(n));
  if (n != 0 && std::memcmp(out.data() + shift, deciphered.data(), n) != 0) std::abort();
  return 0;
}
