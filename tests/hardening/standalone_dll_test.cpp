// Corvane.dll and TamselWrapper.dll as a long-running host (IIS, a service) meets them:
// memory that runs out at any allocation of a call, the module loaded and unloaded
// thousands of times (as CoFreeUnusedLibraries does with an idle server), and threads
// that the DLLs never hear about.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "common/com_holders.h"
#include "corvane.h"
#include "crypt/status.h"
#include "tamsel.h"
#include "tests/hardening/dispatch_call.h"
#include "tests/hardening/process_usage.h"
#include "tests/server/corvane_module.h"
#include "tests/support/allocation_seam.h"
#include "tests/support/temp_dir.h"
#include "tests/support/variants.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::AllocationCountdown;
using test::BstrVariant;
using test::HeapSeam;
using test::MallocSpy;

std::wstring Widen(const char* text) { return std::wstring(text, text + std::strlen(text)); }

struct DllUnderTest {
  const char* name;
  std::wstring path;
  CLSID clsid;
  IID iid;
};

DllUnderTest Corvane() { return {"Corvane.dll", CORVANE_DLL_PATH, CLSID_Crypt, IID_ICrypt}; }
DllUnderTest Wrapper() { return {"TamselWrapper.dll", Widen(TAMSEL_WRAPPER_DLL), CLSID_Wrapper, IID__Wrapper}; }

// One load of a DLL by path, with the exports COM calls; FreeLibrary at the end.
class LoadedDll {
 public:
  explicit LoadedDll(const DllUnderTest& dll) : module_(LoadLibraryW(dll.path.c_str())), clsid_(dll.clsid) {
    if (module_ == nullptr) return;
    getClassObject_ = reinterpret_cast<GetClassObjectExport*>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ =
        reinterpret_cast<CanUnloadNowExport*>(reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
  }
  ~LoadedDll() { Unload(); }
  LoadedDll(const LoadedDll&) = delete;
  LoadedDll& operator=(const LoadedDll&) = delete;

  HMODULE Module() const { return module_; }
  HRESULT GetClassObject(REFIID iid, void** object) const { return getClassObject_(clsid_, iid, object); }
  HRESULT CanUnloadNow() const { return canUnloadNow_(); }
  ComPtr<IClassFactory> Factory() const {
    ComPtr<IClassFactory> factory;
    GetClassObject(IID_IClassFactory, factory.ReceiveVoid());
    return factory;
  }
  void Unload() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }

 private:
  using GetClassObjectExport = HRESULT WINAPI(REFCLSID, REFIID, void**);
  using CanUnloadNowExport = HRESULT WINAPI();
  HMODULE module_;
  CLSID clsid_;
  GetClassObjectExport* getClassObject_ = nullptr;
  CanUnloadNowExport* canUnloadNow_ = nullptr;
};

// A late-bound call by name with text arguments, as a script host makes it.
HRESULT CallByName(IDispatch* object, const wchar_t* name, std::vector<std::wstring> texts, VARIANT* result) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID dispid = DISPID_UNKNOWN;
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
  if (FAILED(hr)) return hr;
  std::vector<UniqueBstr> held;
  std::vector<VARIANT> arguments;
  for (const std::wstring& text : texts) {
    held.emplace_back(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    VARIANT v = test::MakeEmpty();
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = held.back().Get();
    arguments.push_back(v);
  }
  return test::InvokeWith(object, dispid, DISPATCH_METHOD, arguments, result).hr;
}

// The work one cycle or one check does with an object of each DLL: Corvane encrypts a
// text, the wrapper encrypts one through its outside components.
HRESULT UseObject(const DllUnderTest& dll, IUnknown* object) {
  ComPtr<IDispatch> dispatch;
  HRESULT hr = object->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid());
  if (FAILED(hr)) return hr;
  UniqueVariant result;
  if (dll.clsid == CLSID_Crypt) {
    hr = CallByName(dispatch.Get(), L"SetKey", {L"key"}, result.Receive());
    if (SUCCEEDED(hr)) hr = CallByName(dispatch.Get(), L"enCrypt", {L"sixteen bytes!!!"}, result.Receive());
    if (SUCCEEDED(hr) && V_VT(result.Get()) != VT_BSTR) hr = E_FAIL;
    return hr;
  }
  hr = CallByName(dispatch.Get(), L"TwofishEncrypt", {L"hello", L"key"}, result.Receive());
  if (SUCCEEDED(hr) && V_VT(result.Get()) != VT_BSTR) hr = E_FAIL;
  return hr;
}

class StandaloneDll : public ::testing::TestWithParam<DllUnderTest> {
 protected:
  test::ComApartment apartment_;
};

// A host that unloads idle servers and loads them again on the next creation: each
// cycle loads the DLL, creates an object, calls it late-bound (which loads the type
// information), releases it and unloads the DLL. Half of what a 512-byte leak a cycle
// would add is the limit; the control below shows that such a leak is seen.
constexpr int kCycles = 2000;
constexpr long long kLimitPerCycle = 256;

// The test stand-ins keep a journal of every call, which the tests empty now and then.
void EmptyTheStandInsJournal() {
  static const HMODULE fixtures = LoadLibraryW(Widen(TAMSEL_FIXTURES_DLL).c_str());
  static const auto reset =
      reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(fixtures, "FixtureReset")));
  if (reset != nullptr) reset();
}

TEST_P(StandaloneDll, NothingIsLeftBehindByLoadsAndUnloads) {
  const DllUnderTest dll = GetParam();
  int failures = 0;
  const test::Growth growth = test::MeasureGrowth(kCycles, [&](int) {
    LoadedDll loaded(dll);
    ComPtr<IClassFactory> factory = loaded.Factory();
    ComPtr<IUnknown> object;
    if (!factory || FAILED(factory->CreateInstance(nullptr, IID_IUnknown, object.ReceiveVoid())) ||
        FAILED(UseObject(dll, object.Get())))
      ++failures;
    object.Reset();
    factory.Reset();
    if (loaded.CanUnloadNow() != S_OK) ++failures;
    loaded.Unload();
    if (GetModuleHandleW(dll.path.c_str()) != nullptr) ++failures;  // really unloaded
  }, EmptyTheStandInsJournal);
  std::printf("%s: %d load/unload cycles, private memory %lld -> %lld bytes (%+lld, %+.1f a cycle), handles %+lld\n",
              dll.name, kCycles, static_cast<long long>(growth.bytesBefore),
              static_cast<long long>(growth.bytesBefore + growth.bytes), static_cast<long long>(growth.bytes),
              static_cast<double>(growth.bytes) / kCycles, static_cast<long long>(growth.handles));
  EXPECT_EQ(failures, 0);
  EXPECT_LT(growth.bytes, kCycles * kLimitPerCycle);
  EXPECT_LE(growth.handles, 0);
}

TEST(StandaloneDllControl, TheMeasurementSeesA512ByteLeakPerCycle) {
  test::ComApartment apartment;
  const DllUnderTest dll = Corvane();
  std::vector<void*> leaked;
  leaked.reserve(kCycles * 2);
  const test::Growth growth = test::MeasureGrowth(kCycles, [&](int) {
    LoadedDll loaded(dll);
    leaked.push_back(std::malloc(512));
  });
  for (void* p : leaked) std::free(p);
  EXPECT_GE(growth.bytes, kCycles * kLimitPerCycle);
}

// The loader's record of a module, as far as both Windows and Wine lay it out alike.
struct LoaderEntry {
  LIST_ENTRY inLoadOrder;
  LIST_ENTRY inMemoryOrder;
  LIST_ENTRY inInitializationOrder;
  void* base;
  void* entryPoint;
  ULONG imageSize;
  UNICODE_STRING fullName;
  UNICODE_STRING baseName;
  ULONG flags;
};
// The loader calls the entry routine for thread attach and detach unless this is set,
// which DisableThreadLibraryCalls does (and refuses to do for a module with a TLS
// directory).
constexpr ULONG kNoThreadCalls = 0x00040000;

ULONG LoaderFlags(HMODULE module) {
  LIST_ENTRY* list = &NtCurrentTeb()->ProcessEnvironmentBlock->Ldr->InMemoryOrderModuleList;
  for (LIST_ENTRY* link = list->Flink; link != list; link = link->Flink) {
    const LoaderEntry* entry = CONTAINING_RECORD(link, LoaderEntry, inMemoryOrder);
    if (entry->base == module) return entry->flags;
  }
  ADD_FAILURE() << "no loader entry for the module";
  return 0;
}

TEST_P(StandaloneDll, ThreadNotificationsAreSwitchedOffAtLoad) {
  LoadedDll loaded(GetParam());
  ASSERT_NE(loaded.Module(), nullptr);
  EXPECT_NE(LoaderFlags(loaded.Module()) & kNoThreadCalls, 0u) << "the entry routine would see every thread";
}

// The control: a DLL built with the C++ runtime (the test stand-ins) carries a TLS
// directory, and DisableThreadLibraryCalls is refused for it, which the flag shows.
TEST(StandaloneDllControl, ARuntimeDllKeepsItsThreadNotifications) {
  const HMODULE fixtures = LoadLibraryW(Widen(TAMSEL_FIXTURES_DLL).c_str());
  ASSERT_NE(fixtures, nullptr);
  EXPECT_FALSE(DisableThreadLibraryCalls(fixtures));
  EXPECT_EQ(LoaderFlags(fixtures) & kNoThreadCalls, 0u);
  FreeLibrary(fixtures);
}

// Allocation failures: runs `attempt` for n = 1, 2, ... until a run reaches no armed
// allocation: then every allocation of the operation has failed once. `attempt` sets up
// what it needs, arms the countdown with n (AllocationCountdown::FailAllocation) just
// before the operation and disarms it right after; it returns whether the operation
// succeeded. A run whose armed allocation was refused may fail, one that never reached
// it must succeed. Returns how many allocations the operation makes.
long ForEveryAllocation(const std::function<bool(long n)>& attempt) {
  for (long n = 1; n < 10000; ++n) {
    AllocationCountdown::FailAllocation(0);
    const bool succeeded = attempt(n);
    const bool reached = AllocationCountdown::Failed();
    AllocationCountdown::Disarm();
    if (!reached) {
      EXPECT_TRUE(succeeded) << "with no allocation refused, run " << n;
      return n - 1;
    }
  }
  ADD_FAILURE() << "the operation never ran out of allocations to refuse";
  return -1;
}

// What every refused allocation must leave: the blocks of the DLL and of COM as before.
struct LiveBlocks {
  long heap = HeapSeam::Live();
  long malloc = MallocSpy::Installed().Live();
};
void ExpectNoneLeft(const LiveBlocks& before, long n) {
  EXPECT_EQ(HeapSeam::Live(), before.heap) << "blocks of the DLL left after run " << n;
  EXPECT_EQ(MallocSpy::Installed().Live(), before.malloc) << "COM blocks left after run " << n;
}

// The outer object of an aggregate: holds the inner non-delegating unknown.
class Outer final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown)) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return inner_ ? inner_->QueryInterface(iid, object) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++count_; }
  STDMETHODIMP_(ULONG) Release() override { return --count_; }
  ComPtr<IUnknown> inner_;

 private:
  ULONG count_ = 1;
};

class StandaloneDllOutOfMemory : public StandaloneDll {
 protected:
  void SetUp() override { MallocSpy::Installed(); }
};

TEST_P(StandaloneDllOutOfMemory, MakingTheClassObject) {
  const DllUnderTest dll = GetParam();
  const long allocations = ForEveryAllocation([&](long n) {
    LoadedDll loaded(dll);
    EXPECT_TRUE(HeapSeam::Attach(loaded.Module()));
    const LiveBlocks before;
    void* factory = reinterpret_cast<void*>(1);
    AllocationCountdown::FailAllocation(n, test::Allocations::OfTheDll);
    const HRESULT hr = loaded.GetClassObject(IID_IClassFactory, &factory);
    AllocationCountdown::Disarm();
    if (FAILED(hr)) {
      EXPECT_EQ(hr, E_OUTOFMEMORY) << "run " << n;
      EXPECT_EQ(factory, nullptr) << "run " << n;
    } else {
      static_cast<IClassFactory*>(factory)->Release();
    }
    EXPECT_EQ(loaded.CanUnloadNow(), S_OK) << "run " << n;
    // Usable afterwards, with nothing of the failure kept in the class table.
    ComPtr<IClassFactory> again = loaded.Factory();
    ComPtr<IUnknown> object;
    EXPECT_TRUE(again && SUCCEEDED(again->CreateInstance(nullptr, IID_IUnknown, object.ReceiveVoid())) &&
                SUCCEEDED(UseObject(dll, object.Get())))
        << "run " << n;
    object.Reset();
    again.Reset();
    loaded.Unload();
    ExpectNoneLeft(before, n);
    return SUCCEEDED(hr);
  });
  std::printf("%s: class object made with %ld allocations\n", dll.name, allocations);
}

TEST_P(StandaloneDllOutOfMemory, MakingPlainAndAggregatedInstances) {
  const DllUnderTest dll = GetParam();
  LoadedDll loaded(dll);
  ASSERT_TRUE(HeapSeam::Attach(loaded.Module()));
  ComPtr<IClassFactory> factory = loaded.Factory();
  ASSERT_TRUE(factory);
  {
    // The wrapper loads the type information it shares between its objects with the
    // first one: that is kept, not a block left by a failure.
    ComPtr<IUnknown> first;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, first.ReceiveVoid()), S_OK);
  }
  for (bool aggregated : {false, true}) {
    SCOPED_TRACE(aggregated ? "aggregated" : "plain");
    const long allocations = ForEveryAllocation([&](long n) {
      const LiveBlocks before;
      Outer outer;
      void* object = reinterpret_cast<void*>(1);
      AllocationCountdown::FailAllocation(n, test::Allocations::OfTheDll);
      const HRESULT hr = factory->CreateInstance(aggregated ? &outer : nullptr, IID_IUnknown, &object);
      AllocationCountdown::Disarm();
      if (aggregated && dll.clsid == CLSID_Wrapper) {
        EXPECT_EQ(hr, CLASS_E_NOAGGREGATION);  // the wrapper does not aggregate
        return true;
      }
      if (FAILED(hr)) {
        EXPECT_EQ(hr, E_OUTOFMEMORY) << "run " << n;
        EXPECT_EQ(object, nullptr) << "run " << n;
      } else {
        static_cast<IUnknown*>(object)->Release();
      }
      ExpectNoneLeft(before, n);
      return SUCCEEDED(hr);
    });
    std::printf("%s: an instance made with %ld allocations\n", dll.name, allocations);
  }
  factory.Reset();
  EXPECT_EQ(loaded.CanUnloadNow(), S_OK) << "the lock count is back where it was";
}

TEST_P(StandaloneDllOutOfMemory, LoadingTheTypeInformation) {
  const DllUnderTest dll = GetParam();
  const long allocations = ForEveryAllocation([&](long n) {
    LoadedDll loaded(dll);
    EXPECT_TRUE(HeapSeam::Attach(loaded.Module()));
    const LiveBlocks before;
    ComPtr<IDispatch> object;
    {
      ComPtr<IClassFactory> factory = loaded.Factory();
      EXPECT_TRUE(factory && SUCCEEDED(factory->CreateInstance(nullptr, IID_IDispatch, object.ReceiveVoid())));
    }
    if (!object) return false;
    // The first use of the type information.
    AllocationCountdown::FailAllocation(n, test::Allocations::OfTheDll);
    LPOLESTR names[] = {const_cast<LPOLESTR>(dll.clsid == CLSID_Crypt ? L"enCrypt" : L"TwofishEncrypt")};
    DISPID dispid = DISPID_UNKNOWN;
    const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
    AllocationCountdown::Disarm();
    if (FAILED(hr)) {
      EXPECT_EQ(hr, E_OUTOFMEMORY) << "run " << n;
    } else {
      EXPECT_EQ(dispid, dll.clsid == CLSID_Crypt ? 3 : 0x60030001) << "run " << n;
    }
    EXPECT_EQ(UseObject(dll, object.Get()), S_OK) << "usable afterwards, run " << n;
    object.Reset();
    EXPECT_EQ(loaded.CanUnloadNow(), S_OK) << "run " << n;
    loaded.Unload();
    ExpectNoneLeft(before, n);
    return SUCCEEDED(hr);
  });
  std::printf("%s: type information loaded with %ld allocations\n", dll.name, allocations);
}

// Each method of ICrypt and _Wrapper, through the vtable, with every allocation of the
// call refused in turn.
class CryptOutOfMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    MallocSpy::Installed();
    loaded_ = std::make_unique<LoadedDll>(Corvane());
    ASSERT_TRUE(HeapSeam::Attach(loaded_->Module()));
    ComPtr<IClassFactory> factory = loaded_->Factory();
    ASSERT_TRUE(factory);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ICrypt, crypt_.ReceiveVoid()), S_OK);
    ASSERT_EQ(crypt_->SetKey(*key_), S_OK);
  }
  void TearDown() override {
    crypt_.Reset();
    if (loaded_) {
      EXPECT_EQ(loaded_->CanUnloadNow(), S_OK);
    }
  }
  LONG Status() {
    LONG status = 1;
    crypt_->IsError(&status);
    return status;
  }
  // The object still does its work afterwards.
  void ExpectUsable(long n) {
    UniqueVariant cipher, plain;
    ASSERT_EQ(crypt_->SetKey(*key_), S_OK);
    ASSERT_EQ(crypt_->enCrypt(*text_, cipher.Receive()), S_OK);
    ASSERT_EQ(Status(), STATUS_OK) << "run " << n;
    ASSERT_EQ(crypt_->deCrypt(*cipher.Get(), plain.Receive()), S_OK);
    EXPECT_EQ(Status(), STATUS_OK) << "run " << n;
    EXPECT_EQ(test::FromBstr(V_BSTR(plain.Get())), L"sixteen bytes!!!") << "run " << n;
  }
  // Runs `call` over every allocation; a refused one gives `refused` as the status.
  void ExpectStatusOnEveryFailure(const char* what, const std::function<void(VARIANT* out)>& call,
                                  LONG refused = STATUS_OUT_OF_MEMORY,
                                  const std::function<void(bool succeeded, long n)>& after = {}) {
    const long allocations = ForEveryAllocation([&](long n) {
      const LiveBlocks before;
      UniqueVariant out;
      AllocationCountdown::FailAllocation(n);
      call(out.Receive());
      AllocationCountdown::Disarm();
      const LONG status = Status();
      const bool succeeded = status == STATUS_OK;
      if (!succeeded) {
        EXPECT_EQ(status, refused) << what << ", run " << n;
        EXPECT_EQ(V_VT(out.Get()), VT_EMPTY) << what << ": no result on failure, run " << n;
      }
      out.Receive();
      if (after) after(succeeded, n);
      // After the next round trip, which sets the key again: a SetKey that ran out of
      // memory has released the key it replaced.
      ExpectUsable(n);
      ExpectNoneLeft(before, n);
      return succeeded;
    });
    std::printf("%s: %ld allocations\n", what, allocations);
  }

  test::ComApartment apartment_;
  std::unique_ptr<LoadedDll> loaded_;
  ComPtr<ICrypt> crypt_;
  BstrVariant key_{L"TESTKEY"};
  BstrVariant text_{L"sixteen bytes!!!"};
};

TEST_F(CryptOutOfMemory, StringMethods) {
  ExpectStatusOnEveryFailure("enCrypt", [&](VARIANT* out) { crypt_->enCrypt(*text_, out); });
  BstrVariant cipher(L"BabcR7BJSc/uwpdNtHZBAg==");
  ExpectStatusOnEveryFailure("deCrypt", [&](VARIANT* out) { crypt_->deCrypt(*cipher, out); });
  // A SetKey whose argument cannot be converted leaves the object without a key.
  ExpectStatusOnEveryFailure("SetKey", [&](VARIANT*) { crypt_->SetKey(*key_); }, STATUS_NO_KEY);
  ExpectStatusOnEveryFailure("IsError", [&](VARIANT*) {
    LONG status = 0;
    crypt_->IsError(&status);
  });
}

TEST_F(CryptOutOfMemory, FileMethods) {
  test::TempDir dir;
  test::WriteFileBytes(dir.Path() / "plain.txt", {'s', 'i', 'x', 't', 'e', 'e', 'n'});
  BstrVariant plain((dir.Path() / "plain.txt").wstring());
  BstrVariant encrypted((dir.Path() / "plain.txt.bf").wstring());
  // A refused allocation writes nothing, not even a temporary file; the file a successful
  // run writes is removed for the next run.
  const auto expectOnly = [&](std::vector<std::string> names, const char* written) {
    return [&dir, names, written](bool succeeded, long n) {
      std::vector<std::string> found = dir.Names();
      std::sort(found.begin(), found.end());
      if (!succeeded) {
        EXPECT_EQ(found, names) << "run " << n;
      }
      std::error_code ignored;
      fs::remove(dir.Path() / written, ignored);
    };
  };
  ExpectStatusOnEveryFailure("FileEnCrypt", [&](VARIANT*) { crypt_->FileEnCrypt(*plain); }, STATUS_OUT_OF_MEMORY,
                             expectOnly({"plain.txt"}, "plain.txt.bf"));
  ASSERT_EQ(crypt_->FileEnCrypt(*plain), S_OK);
  ASSERT_EQ(Status(), STATUS_OK);
  ExpectStatusOnEveryFailure("FileDeCrypt", [&](VARIANT*) { crypt_->FileDeCrypt(*encrypted); }, STATUS_OUT_OF_MEMORY,
                             expectOnly({"plain.txt", "plain.txt.bf"}, "plain.txt.bf.bf"));
}

class WrapperOutOfMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    MallocSpy::Installed();
    loaded_ = std::make_unique<LoadedDll>(Wrapper());
    ASSERT_TRUE(HeapSeam::Attach(loaded_->Module()));
    ComPtr<IClassFactory> factory = loaded_->Factory();
    ASSERT_TRUE(factory);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID__Wrapper, wrapper_.ReceiveVoid()), S_OK);
    // The outside components' DLL and COM's caches for them are loaded once before the
    // counting starts.
    UniqueVariant warm;
    ASSERT_EQ(wrapper_->TwofishEncrypt(text_.Get(), key_.Get(), warm.Receive()), S_OK);
  }
  void TearDown() override {
    wrapper_.Reset();
    if (loaded_) {
      EXPECT_EQ(loaded_->CanUnloadNow(), S_OK);
    }
  }

  test::ComApartment apartment_;
  std::unique_ptr<LoadedDll> loaded_;
  ComPtr<_Wrapper> wrapper_;
  BstrVariant text_{L"attack at dawn"};
  BstrVariant key_{L"my key"};
};

TEST_F(WrapperOutOfMemory, BothMethods) {
  UniqueVariant cipher;
  ASSERT_EQ(wrapper_->TwofishEncrypt(text_.Get(), key_.Get(), cipher.Receive()), S_OK);
  for (bool encrypt : {true, false}) {
    SCOPED_TRACE(encrypt ? "TwofishEncrypt" : "TwofishDecrypt");
    const long allocations = ForEveryAllocation([&](long n) {
      const LiveBlocks before;
      UniqueVariant result;
      AllocationCountdown::FailAllocation(n);
      const HRESULT hr = encrypt ? wrapper_->TwofishEncrypt(text_.Get(), key_.Get(), result.Receive())
                                 : wrapper_->TwofishDecrypt(cipher.Get(), key_.Get(), result.Receive());
      AllocationCountdown::Disarm();
      if (FAILED(hr)) {
        // Memory ran out in the wrapper, in oleaut32 or in an outside component; the
        // components report it in their own words, which the wrapper passes on.
        EXPECT_EQ(V_VT(result.Get()), VT_EMPTY) << "run " << n;
        ComPtr<IErrorInfo> info;
        GetErrorInfo(0, info.Receive());
      } else {
        EXPECT_EQ(V_VT(result.Get()), VT_BSTR) << "run " << n;
      }
      result.Receive();
      ExpectNoneLeft(before, n);
      // Usable afterwards.
      UniqueVariant again;
      EXPECT_EQ(wrapper_->TwofishDecrypt(cipher.Get(), key_.Get(), again.Receive()), S_OK) << "run " << n;
      return SUCCEEDED(hr);
    });
    std::printf("%s: %ld allocations\n", encrypt ? "TwofishEncrypt" : "TwofishDecrypt", allocations);
  }
}

// atl.dll keeps the module's termination list in entries it allocates itself, outside
// the DLL's heap, so the countdown above never refuses them. When that allocation fails,
// the type information and name cache that the DLL loaded must still be given back when
// the DLL is unloaded.
HRESULT WINAPI RefuseTerminationEntry(void*, void*, DWORD_PTR) { return E_OUTOFMEMORY; }

TEST(CorvaneOutOfMemoryOutsideTheDll, TheTerminationListRefusesItsEntry) {
  test::ComApartment apartment;
  MallocSpy::Installed();
  const DllUnderTest dll = Corvane();
  for (long cycle = 1; cycle <= 3; ++cycle) {
    LoadedDll loaded(dll);
    ASSERT_TRUE(HeapSeam::Attach(loaded.Module()));
    const LiveBlocks before;
    {
      void** slot = test::ImportSlot(loaded.Module(), "atl.dll", "AtlModuleAddTermFunc");
      ASSERT_NE(slot, nullptr);
      test::ImportRedirect refuse(slot, reinterpret_cast<void*>(&RefuseTerminationEntry));
      ComPtr<IClassFactory> factory = loaded.Factory();
      ComPtr<IUnknown> object;
      ASSERT_TRUE(factory && SUCCEEDED(factory->CreateInstance(nullptr, IID_IUnknown, object.ReceiveVoid())));
      EXPECT_EQ(UseObject(dll, object.Get()), S_OK) << "cycle " << cycle;
    }
    EXPECT_EQ(loaded.CanUnloadNow(), S_OK);
    loaded.Unload();
    ExpectNoneLeft(before, cycle);
  }
}

INSTANTIATE_TEST_SUITE_P(BothDlls, StandaloneDll, ::testing::Values(Corvane(), Wrapper()),
                         [](const auto& info) { return info.index == 0 ? "Corvane" : "TamselWrapper"; });
INSTANTIATE_TEST_SUITE_P(BothDlls, StandaloneDllOutOfMemory, ::testing::Values(Corvane(), Wrapper()),
                         [](const auto& info) { return info.index == 0 ? "Corvane" : "TamselWrapper"; });

}  // namespace
}  // namespace corvane
