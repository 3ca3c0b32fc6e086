// The process's private memory and handle count, and leak checks over long runs built on them.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>

#include <gtest/gtest.h>

namespace corvane::test {

// Committed private memory. Windows reports it as PrivateUsage and, equally, as
// PagefileUsage; Wine 8 leaves PrivateUsage at 0, so the larger of the two is taken.
inline std::int64_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof counters))
    return -1;
  return static_cast<std::int64_t>(std::max(counters.PrivateUsage, counters.PagefileUsage));
}

// Open handles of the process. Wine 8's GetProcessHandleCount answers 0; there the
// handle values are small, and the open ones are counted by asking each in turn.
inline std::int64_t HandleCount() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
  std::int64_t open = 0;
  for (std::uintptr_t value = 4; value < 0x4000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
  }
  return open;
}

struct Growth {
  std::int64_t bytes;
  std::int64_t handles;
  std::int64_t bytesBefore;  // private memory when the measured calls began
};

// Runs `call` calls/10 times to warm up, then `calls` times, and measures what grew.
// `tidy`, when given, runs before the measurement and after every 64th call: for
// bookkeeping of the test's own that would otherwise grow with the run.
inline Growth MeasureGrowth(int calls, const std::function<void(int)>& call,
                            const std::function<void()>& tidy = {}) {
  for (int i = 0; i < calls / 10; ++i) call(i);
  if (tidy) tidy();
  const std::int64_t bytes = PrivateBytes(), handles = HandleCount();
  for (int i = 0; i < calls; ++i) {
    call(i);
    if (tidy && i % 64 == 63) tidy();
  }
  return {PrivateBytes() - bytes, HandleCount() - handles, bytes};
}

// Half of what a 16-byte leak per call would add: below it, no call leaks.
inline void ExpectFlat(const char* what, int calls, const std::function<void(int)>& call,
                       const std::function<void()>& tidy = {}) {
  const Growth growth = MeasureGrowth(calls, call, tidy);
  std::printf("%-34s %7d calls: private memory %lld -> %lld bytes (%+lld), handles %+lld\n", what, calls,
              static_cast<long long>(growth.bytesBefore), static_cast<long long>(growth.bytesBefore + growth.bytes),
              static_cast<long long>(growth.bytes), static_cast<long long>(growth.handles));
  EXPECT_LT(growth.bytes, calls * 16LL / 2) << what;
  EXPECT_LE(growth.handles, 0) << what;
}

}  // namespace corvane::test
