#include "class_factory.h"

#include <new>

#include "server_module.h"

namespace corvane {
namespace {

const atl::InterfaceMapEntry kClassFactoryInterfaces[] = {
    {&IID_IClassFactory, 0, atl::kSimpleMapEntry},
    {nullptr, 0, nullptr},
};

}  // namespace

CryptClassFactory::CryptClassFactory(atl::CreatorFunction* createInstance)
    : m_dwRef(0), m_pfnCreateInstance(createInstance) {
  InitializeCriticalSection(&m_csCache);
}

CryptClassFactory::~CryptClassFactory() { DeleteCriticalSection(&m_csCache); }

STDMETHODIMP CryptClassFactory::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;  // not every atl.dll clears it on a miss
  return AtlInternalQueryInterface(this, kClassFactoryInterfaces, iid, object);
}

STDMETHODIMP_(ULONG) CryptClassFactory::AddRef() {
  EnterCriticalSection(&m_csCache);
  const LONG count = InterlockedIncrement(&m_dwRef);
  if (count == 2) LockModule();
  LeaveCriticalSection(&m_csCache);
  return static_cast<ULONG>(count);
}

STDMETHODIMP_(ULONG) CryptClassFactory::Release() {
  EnterCriticalSection(&m_csCache);
  const LONG count = InterlockedDecrement(&m_dwRef);
  LeaveCriticalSection(&m_csCache);
  if (count == 0) {
    delete this;
  } else if (count == 1) {
    UnlockModule();
  }
  return static_cast<ULONG>(count);
}

STDMETHODIMP CryptClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  // An aggregate hands its controlling unknown only its own IUnknown.
  if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return m_pfnCreateInstance(outer, iid, object);
}

STDMETHODIMP CryptClassFactory::LockServer(BOOL lock) {
  if (lock) {
    LockModule();
  } else {
    UnlockModule();
  }
  return S_OK;
}

// Called by the module services with the class table's row as the out-pointer, which
// other threads read without a lock: the row receives the class object only once the
// table's reference is held. A thread that saw an object still at count 0 would take
// and drop a reference of its own and destroy the object that the row keeps.
HRESULT WINAPI CreateClassFactory(void* createInstance, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  CryptClassFactory* factory =
      new (std::nothrow) CryptClassFactory(reinterpret_cast<atl::CreatorFunction*>(createInstance));
  if (factory == nullptr) return E_OUTOFMEMORY;
  void* referenced = nullptr;
  const HRESULT hr = factory->QueryInterface(iid, &referenced);
  if (FAILED(hr)) {
    delete factory;  // no reference was handed out
    return hr;
  }
  __atomic_store_n(object, referenced, __ATOMIC_RELEASE);
  return hr;
}

}  // namespace corvane
