// The first requests of several apartment threads racing on a freshly loaded Corvane.dll,
// load after load, as a classic ASP host starts many threads at once. A thread that got
// hold of the class object before the class table held its reference would free it
// under the table (a crash on a later request, or a module unlocked while clients still
// hold the class object).
//
// That needs the creating thread to lose the processor between the two steps, which
// rarely happens by itself. The test makes it likely: every EnterCriticalSection the DLL
// calls (the class object's AddRef starts with one) first gives up the thread's time
// slice, as a thread preempted at that point would. Only the timing changes; the DLL and
// the platform code run as they are.
//
// Runs in a process of its own: the DLL must be unloaded between rounds, so nothing else
// in the process may keep it loaded.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "common/com_holders.h"
#include "crypt/status.h"
#include "tests/hardening/dispatch_call.h"
#include "tests/support/import_redirect.h"
#include "tests/server/corvane_module.h"
#include "tests/support/variants.h"

namespace corvane {
namespace {

using GetClassObjectFunction = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(WINAPI*)();

constexpr int kThreads = 6;
// Every round creates objects and calls them; the late-bound calls load the type
// library. Kept below what the DLL's statically linked runtime survives: under Wine 8 a
// process aborts after about a thousand fresh loads that ran such calls.
constexpr int kLoads = 600;

using EnterFunction = void(WINAPI*)(CRITICAL_SECTION*);
std::atomic<EnterFunction> g_realEnter{nullptr};

void WINAPI EnterAfterYielding(CRITICAL_SECTION* section) {
  SwitchToThread();
  g_realEnter.load()(section);
}

// One round: every thread waits at the start line, then makes its first request.
struct Round {
  std::atomic<int> generation{0};
  std::atomic<int> arrived{0};
  std::atomic<int> finished{0};
  std::atomic<bool> stop{false};
  std::atomic<GetClassObjectFunction> getClassObject{nullptr};
  std::atomic<int> failures{0};
};

void Fail(Round& round, int thread, int load, const char* what, HRESULT hr) {
  if (round.failures++ < 20) std::printf("load %d, thread %d: %s (0x%08lX)\n", load, thread, what, static_cast<unsigned long>(hr));
}

// Even threads call through the vtable, odd ones late-bound, as script hosts do. Each
// first asks for the class object and lets it go at once: the shortest use, the one
// that could finish inside another thread's creation of the class object.
void FirstRequests(Round& round, int thread, int load) {
  const GetClassObjectFunction getClassObject = round.getClassObject.load();
  {
    ComPtr<IClassFactory> factory;
    const HRESULT hr = getClassObject(CLSID_Crypt, IID_IClassFactory, factory.ReceiveVoid());
    if (FAILED(hr)) Fail(round, thread, load, "first DllGetClassObject", hr);
  }
  ComPtr<IClassFactory> factory;
  HRESULT hr = getClassObject(CLSID_Crypt, IID_IClassFactory, factory.ReceiveVoid());
  if (FAILED(hr)) return Fail(round, thread, load, "second DllGetClassObject", hr);
  ComPtr<ICrypt> crypt;
  hr = factory->CreateInstance(nullptr, IID_ICrypt, crypt.ReceiveVoid());
  if (FAILED(hr)) return Fail(round, thread, load, "CreateInstance", hr);
  test::BstrVariant key(L"race key"), text(L"first request");
  UniqueVariant cipher;
  LONG status = 1;
  if (thread % 2 == 0) {
    crypt->SetKey(*key);
    crypt->enCrypt(*text, cipher.Receive());
  } else {
    test::InvokeWith(crypt.Get(), 1, DISPATCH_METHOD, {*key}, nullptr);
    test::InvokeWith(crypt.Get(), 3, DISPATCH_METHOD, {*text}, cipher.Receive());
  }
  crypt->IsError(&status);
  if (status != STATUS_OK || V_VT(cipher.Get()) != VT_BSTR) Fail(round, thread, load, "enCrypt", status);
}

void Racer(Round& round, int thread) {
  test::ComApartment apartment;
  for (int seen = 0;;) {
    while (round.generation.load() == seen && !round.stop.load()) std::this_thread::yield();
    if (round.stop.load()) return;
    seen = round.generation.load();
    // Spin together to the start line so that the requests overlap.
    ++round.arrived;
    while (round.arrived.load() < kThreads) {
    }
    FirstRequests(round, thread, seen);
    ++round.finished;
  }
}

TEST(ClassObjectRace, ThreadsRacingTheirFirstRequestOnEveryFreshLoad) {
  ASSERT_EQ(GetModuleHandleW(CORVANE_DLL_PATH), nullptr) << "nothing else in this process may hold the DLL";
  // Keeps the module services loaded: each round then loads Corvane.dll alone.
  const HMODULE atl = LoadLibraryW(L"atl.dll");
  ASSERT_NE(atl, nullptr);
  Round round;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(Racer, std::ref(round), t);

  const auto started = std::chrono::steady_clock::now();
  int loads = 0;
  for (; loads < kLoads && round.failures.load() == 0; ++loads) {
    const HMODULE dll = LoadLibraryW(CORVANE_DLL_PATH);
    ASSERT_NE(dll, nullptr);
    const auto getClassObject =
        reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    const auto canUnloadNow =
        reinterpret_cast<CanUnloadNowFunction>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
    void** enter = test::ImportSlot(dll, "kernel32.dll", "EnterCriticalSection");
    ASSERT_NE(enter, nullptr);
    {
      test::ImportRedirect yielding(enter, reinterpret_cast<void*>(&EnterAfterYielding));
      g_realEnter = reinterpret_cast<EnterFunction>(yielding.Previous());
      round.getClassObject = getClassObject;
      round.arrived = 0;
      round.finished = 0;
      ++round.generation;
      while (round.finished.load() < kThreads) std::this_thread::yield();
    }  // the DLL's own import again before it goes

    // Every reference is gone: the module is free to go, and goes.
    if (canUnloadNow() != S_OK) Fail(round, -1, loads, "DllCanUnloadNow after the round", S_FALSE);
    FreeLibrary(dll);
    if (GetModuleHandleW(CORVANE_DLL_PATH) != nullptr) Fail(round, -1, loads, "the DLL stayed loaded", S_FALSE);
    if ((loads + 1) % 100 == 0) {
      // A crash ends the process without a word from the test: the progress shows how far it came.
      std::printf("%d loads\n", loads + 1);
      std::fflush(stdout);
    }
  }
  round.stop = true;
  for (auto& t : threads) t.join();
  FreeLibrary(atl);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%d fresh loads with %d racing threads in %.1f s\n", loads, kThreads, seconds);
  EXPECT_EQ(round.failures.load(), 0);
}

}  // namespace
}  // namespace corvane
