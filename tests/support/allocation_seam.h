// Allocation-failure seams for DLLs as they ship, so that a test can make the Nth
// allocation of a call fail and can see whether every block was given back:
//  - HeapSeam: a DLL's imports of HeapAlloc and HeapFree are redirected to counting
//    stand-ins. Our DLLs allocate only through these two (a static check makes sure they
//    import no other allocator), so nothing of their own escapes the count.
//  - MallocSpy: COM's task allocator, which oleaut32 uses for every BSTR and SAFEARRAY
//    and COM for its own bookkeeping, watched through IMallocSpy (PreAlloc returning 0
//    makes an allocation fail). oleaut32's cache of freed strings is switched off, so
//    that every string is a real allocation.
// Both count down one shared countdown: the Nth allocation from either source fails.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <mutex>
#include <unordered_set>

#include "tests/support/import_redirect.h"

extern "C" void SetOaNoCache(void);  // oleaut32; undecorated in the x86 import library too

namespace corvane::test {

// Where the allocations that the countdown counts come from.
enum class Allocations {
  OfTheDll,         // the DLL's own, from the process heap
  OfTheDllAndCom,   // those and COM's task allocator (strings, arrays, COM's bookkeeping)
};

// The shared countdown: the nth allocation from now fails (n >= 1); 0 lets every one through.
class AllocationCountdown {
 public:
  static void FailAllocation(long n, Allocations counted = Allocations::OfTheDllAndCom) {
    failed_ = false;
    counted_ = counted;
    countdown_ = n;
  }
  static void Disarm() { countdown_ = 0; }
  // Whether the armed allocation was reached (and refused) since FailAllocation.
  static bool Failed() { return failed_; }
  // True for the allocation that is to fail.
  static bool Take(Allocations source) {
    if (source == Allocations::OfTheDllAndCom && counted_ != Allocations::OfTheDllAndCom) return false;
    if (countdown_ > 0 && --countdown_ == 0) {
      failed_ = true;
      return true;
    }
    return false;
  }

 private:
  static inline std::atomic<long> countdown_{0};
  static inline std::atomic<bool> failed_{false};
  static inline std::atomic<Allocations> counted_{Allocations::OfTheDllAndCom};
};

class HeapSeam {
 public:
  // Patches `module`'s import address table. Returns false when the module does not
  // import both functions from kernel32.dll. Patching a module twice keeps the originals.
  static bool Attach(HMODULE module) {
    void* alloc = Patch(module, "HeapAlloc", reinterpret_cast<void*>(&Alloc));
    void* free = Patch(module, "HeapFree", reinterpret_cast<void*>(&Free));
    if (alloc != nullptr && alloc != reinterpret_cast<void*>(&Alloc)) realAlloc_ = reinterpret_cast<AllocFunction*>(alloc);
    if (free != nullptr && free != reinterpret_cast<void*>(&Free)) realFree_ = reinterpret_cast<FreeFunction*>(free);
    return alloc != nullptr && free != nullptr;
  }
  // Blocks the patched DLLs hold: allocated through the seam and not yet freed.
  static long Live() { return live_; }

 private:
  using AllocFunction = LPVOID WINAPI(HANDLE, DWORD, SIZE_T);
  using FreeFunction = BOOL WINAPI(HANDLE, DWORD, LPVOID);

  static LPVOID WINAPI Alloc(HANDLE heap, DWORD flags, SIZE_T size) {
    if (AllocationCountdown::Take(Allocations::OfTheDll)) return nullptr;
    LPVOID block = realAlloc_(heap, flags, size);
    if (block != nullptr) ++live_;
    return block;
  }
  static BOOL WINAPI Free(HANDLE heap, DWORD flags, LPVOID block) {
    if (block != nullptr) --live_;
    return realFree_(heap, flags, block);
  }

  // Replaces the module's imported address of kernel32!name for good (the module is
  // patched until it is unloaded); returns the previous one.
  static void* Patch(HMODULE module, const char* name, void* replacement) {
    void** slot = ImportSlot(module, "kernel32.dll", name);
    if (slot == nullptr) return nullptr;
    DWORD protection = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
    void* previous = *slot;
    *slot = replacement;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
    return previous;
  }

  static inline AllocFunction* realAlloc_ = nullptr;
  static inline FreeFunction* realFree_ = nullptr;
  static inline std::atomic<long> live_{0};
};

// Installed(): registered once for the process and never revoked (COM refuses to revoke a
// spy while blocks it saw are still allocated). A test may also register an instance of
// its own for a scope; the countdown refuses nothing until it is armed.
class MallocSpy final : public IMallocSpy {
 public:
  static MallocSpy& Installed() {
    static MallocSpy* spy = [] {
      SetOaNoCache();
      auto* s = new MallocSpy;
      CoRegisterMallocSpy(s);
      return s;
    }();
    return *spy;
  }
  // Blocks allocated while the spy watched and not yet freed.
  long Live() const { return live_; }
  // Blocks freed again after they were freed while the spy watched (and not allocated
  // anew meanwhile): a double free, which Wine's heap absorbs silently and Windows' does not.
  long DoubleFrees() const { return doubleFrees_; }
  void ResetCount() {
    live_ = 0;
    doubleFrees_ = 0;
    const std::lock_guard<std::mutex> lock(freedMutex_);
    freed_.clear();
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
      *object = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T request) override {
    return request != 0 && AllocationCountdown::Take(Allocations::OfTheDllAndCom) ? 0 : request;
  }
  STDMETHODIMP_(void*) PostAlloc(void* actual) override {
    if (actual != nullptr) {
      ++live_;
      const std::lock_guard<std::mutex> lock(freedMutex_);
      freed_.erase(actual);
    }
    return actual;
  }
  STDMETHODIMP_(void*) PreFree(void* request, BOOL spied) override {
    if (request == nullptr) return request;
    const std::lock_guard<std::mutex> lock(freedMutex_);
    if (spied) {
      --live_;
      freed_.insert(request);
    } else if (freed_.count(request) != 0) {
      ++doubleFrees_;
    }
    return request;
  }
  STDMETHODIMP_(void) PostFree(BOOL) override {}
  STDMETHODIMP_(SIZE_T) PreRealloc(void* request, SIZE_T size, void** actual, BOOL spied) override {
    *actual = request;
    if (request != nullptr && spied) --live_;
    return size;
  }
  STDMETHODIMP_(void*) PostRealloc(void* actual, BOOL) override {
    if (actual != nullptr) ++live_;
    return actual;
  }
  STDMETHODIMP_(void*) PreGetSize(void* request, BOOL) override { return request; }
  STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T actual, BOOL) override { return actual; }
  STDMETHODIMP_(void*) PreDidAlloc(void* request, BOOL) override { return request; }
  STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  STDMETHODIMP_(void) PreHeapMinimize() override {}
  STDMETHODIMP_(void) PostHeapMinimize() override {}

 private:
  std::atomic<long> live_{0};
  std::atomic<long> doubleFrees_{0};
  std::mutex freedMutex_;
  std::unordered_set<void*> freed_;
};

}  // namespace corvane::test
