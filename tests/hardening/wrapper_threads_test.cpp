// Several apartment-threaded threads use their own Wrapper objects (and through them
// the stand-in components) while others churn the wrapper's class object and type
// information. Runs in a process of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/hardening/dispatch_call.h"
#include "tests/wrapper/wrapper_test_support.h"

namespace tamsel_test {
namespace {

using corvane::test::InvokeWith;

struct WrapperModule {
  HMODULE module = LoadLibraryW(WrapperDllPath().c_str());
  HRESULT(WINAPI* canUnloadNow)() = reinterpret_cast<HRESULT(WINAPI*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  HRESULT(WINAPI* getClassObject)(REFCLSID, REFIID, void**) = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
};

struct Shared {
  std::atomic<int> waiting;
  std::atomic<int> failures{0};
  std::atomic<bool> workersDone{false};
  std::atomic<int> checkedCalls{0};
};

void Fail(Shared& shared, const char* what, int thread) {
  if (shared.failures++ < 20) std::printf("thread %d: %s\n", thread, what);
}

void Arrive(Shared& shared) {
  --shared.waiting;
  while (shared.waiting.load() > 0) std::this_thread::yield();
}

void Worker(Shared& shared, int thread) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return Fail(shared, "CoInitializeEx", thread);
  {
    Arrive(shared);
    ComPtr<_Wrapper> wrapper = NewWrapper();
    if (!wrapper) return Fail(shared, "CreateObject", thread);
    for (int i = 0; i < 300; ++i) {
      const std::wstring text = L"thread " + std::to_wstring(thread) + L" text " + std::to_wstring(i);
      const std::wstring key = L"key" + std::to_wstring(i % 5);
      UniqueVariant t, k, cipher, plain;
      SetText(t, text);
      SetText(k, key);
      HRESULT hr;
      if (i % 2 == 0) {
        hr = wrapper->TwofishEncrypt(t.Get(), k.Get(), cipher.Receive());
        if (SUCCEEDED(hr)) hr = wrapper->TwofishDecrypt(cipher.Get(), k.Get(), plain.Receive());
      } else {  // late-bound, with the variables by reference as VBScript passes them
        hr = InvokeWith(wrapper.Get(), 0x60030001, DISPATCH_METHOD, {MakeVariantRef(t.Get()), MakeVariantRef(k.Get())},
                        cipher.Receive()).hr;
        if (SUCCEEDED(hr))
          hr = InvokeWith(wrapper.Get(), 0x60030002, DISPATCH_METHOD, {*cipher.Get(), *k.Get()}, plain.Receive()).hr;
      }
      if (FAILED(hr) || V_VT(plain.Get()) != VT_BSTR || TextOf(*plain.Get()) != text) Fail(shared, "round trip", thread);
      const std::string expected = ExpectedCiphertext(text, key);
      if (SUCCEEDED(hr) && TextOf(*cipher.Get()) != std::wstring(expected.begin(), expected.end()))
        Fail(shared, "ciphertext differs from the stand-in cipher's own", thread);
      ++shared.checkedCalls;
    }
  }
  CoUninitialize();
}

void Churner(Shared& shared, const WrapperModule& dll, int thread) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return Fail(shared, "CoInitializeEx", thread);
  {
    Arrive(shared);
    for (int i = 0; !shared.workersDone.load() || i < 200; ++i) {
      ComPtr<IClassFactory> factory;
      if (FAILED(dll.getClassObject(CLSID_Wrapper, IID_IClassFactory, factory.ReceiveVoid()))) {
        Fail(shared, "DllGetClassObject", thread);
        break;
      }
      factory->LockServer(TRUE);
      ComPtr<_Wrapper> wrapper;
      if (FAILED(factory->CreateInstance(nullptr, IID__Wrapper, wrapper.ReceiveVoid()))) Fail(shared, "CreateInstance", thread);
      factory->LockServer(FALSE);
      ComPtr<ITypeInfo> info;
      if (!wrapper || FAILED(wrapper->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Receive()))) Fail(shared, "GetTypeInfo", thread);
      if (wrapper && corvane::test::DispidOf(wrapper.Get(), i % 2 ? L"TwofishDecrypt" : L"twofishdecrypt") != 0x60030002)
        Fail(shared, "GetIDsOfNames", thread);
    }
  }
  CoUninitialize();
}

TEST(WrapperThreads, ObjectsInManyApartmentsAndSharedStateUnderLoad) {
  const WrapperModule dll;
  ASSERT_NE(dll.module, nullptr);
  Fixtures::Get().Reset();
  constexpr int kWorkers = 4, kChurners = 2;
  Shared shared;
  shared.waiting = kWorkers + kChurners;
  std::vector<std::thread> workers, churners;
  for (int t = 0; t < kWorkers; ++t) workers.emplace_back(Worker, std::ref(shared), t);
  for (int t = 0; t < kChurners; ++t) churners.emplace_back(Churner, std::ref(shared), std::cref(dll), kWorkers + t);
  for (auto& t : workers) t.join();
  shared.workersDone = true;
  for (auto& t : churners) t.join();

  EXPECT_EQ(shared.failures.load(), 0);
  EXPECT_EQ(shared.checkedCalls.load(), kWorkers * 300);
  EXPECT_EQ(Fixtures::Get().Live(), 0) << "every stand-in object was released";
  EXPECT_EQ(Fixtures::Get().Created(), kWorkers * 300 * 4) << "two objects a call, two calls a round trip";
  EXPECT_EQ(dll.canUnloadNow(), S_OK) << "every wrapper, class object reference and lock is released";
}

}  // namespace
}  // namespace tamsel_test
