// The process's private memory and handle count, for leak checks over long runs.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>

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

}  // namespace corvane::test
