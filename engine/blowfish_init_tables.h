// Blowfish's initial state: the fractional hexadecimal digits of pi.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

constexpr std::size_t kBlowfishPWords = 18;
constexpr std::size_t kBlowfishSWords = 4 * 256;

extern const std::uint32_t kInitialPArray[kBlowfishPWords];
extern const std::uint32_t kInitialSBoxes[kBlowfishSWords];

}  // namespace corvane
