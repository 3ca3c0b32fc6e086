// The little of the C++ runtime that Corvane.dll and TamselWrapper.dll need, written
// against the system heap. The DLLs link no C++ runtime library: no exceptions, no
// run-time type information, no thread-safe statics, no allocations at load time and no
// thread-local storage, so that a host can load and unload them any number of times and
// sees memory exhaustion answered with a failure code instead of a termination.
//
// Only the non-throwing forms of operator new exist here: a plain `new` in DLL code fails
// to link, so every allocation has its explicit null check.
#include <windows.h>

#include <cstddef>
#include <new>

// The tag of the non-throwing operator new, which the C++ runtime would define.
const std::nothrow_t std::nothrow{};

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1);
}

void operator delete(void* p) noexcept {
  if (p != nullptr) HeapFree(GetProcessHeap(), 0, p);
}

void operator delete[](void* p) noexcept {
  if (p != nullptr) HeapFree(GetProcessHeap(), 0, p);
}

void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete[](p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { operator delete[](p); }

// Called only through the vtable slot of a pure virtual function, which no complete
// object of this code has: a call here is a bug, stopped where it happens.
extern "C" void __cxa_pure_virtual() { __builtin_trap(); }
