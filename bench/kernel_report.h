// How the benchmarks name the engine's kernel sets and report the engine's choice.
#pragma once

#include <cstdio>
#include <string>

#include "engine/blowfish_kernel_sets.h"

namespace corvane::bench {

inline std::string KernelName(const detail::BlowfishKernels& set) {
  return std::string(set.layout) + " x" + std::to_string(set.width) + " (" + set.instructions + ")";
}

// The engine's choice in this process and why, from what its calibration recorded.
inline std::string DescribeChoice() {
  const detail::BlowfishKernels& active = detail::ActiveBlowfishKernels();
  const detail::KernelChoice* choice = detail::PublishedBlowfishKernelChoice();
  if (choice == nullptr) return "engine kernel " + KernelName(active) + " (its calibration was not published)";
  std::string text = "engine kernel " + KernelName(active) + ": ";
  switch (choice->reason) {
    case detail::ChoiceReason::OnlyCandidate:
      return text + "the only candidate (the scalar set CPUID points to; no vector set of this build runs on this CPU)";
    case detail::ChoiceReason::Fastest:
      text += "the fastest candidate, taking at most " + std::to_string(100 * detail::kMarginNumerator /
                                                                      detail::kMarginDenominator) +
              "% of the scalar reference's time";
      break;
    case detail::ChoiceReason::ReferenceKept:
      text += "the scalar reference, as no candidate that agreed with it took at most " +
              std::to_string(100 * detail::kMarginNumerator / detail::kMarginDenominator) + "% of its time";
      break;
  }
  text += ". Calibration (" + std::to_string(8 * detail::kCalibrationBlocks) + " bytes, fastest of " +
          std::to_string(detail::kCalibrationPasses) + " passes, time-stamp counter ticks):";
  const std::uint64_t reference = choice->candidates[0].ticks;
  for (std::size_t i = 0; i < choice->count; ++i) {
    const detail::KernelTiming& c = choice->candidates[i];
    text += (i == 0 ? " " : "; ") + KernelName(*c.set) + " ";
    if (!c.agrees) {
      text += "disagreed with the reference, not timed";
      continue;
    }
    text += std::to_string(c.ticks);
    if (i == 0) {
      text += " (reference)";
    } else if (reference != 0) {
      char ratio[32];
      std::snprintf(ratio, sizeof ratio, " (%.2f of the reference's time)", static_cast<double>(c.ticks) / reference);
      text += ratio;
    }
  }
  return text + ".";
}

}  // namespace corvane::bench
