// The class object of Crypt, created once per process and cached in the class table.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "atl30.h"

namespace corvane {

// The class table's creator of the class object: its first argument is the instance creator.
HRESULT WINAPI CreateClassFactory(void* createInstance, REFIID iid, void** object);

class CryptClassFactory final : public IClassFactory {
 public:
  explicit CryptClassFactory(atl::CreatorFunction* createInstance);

  STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
  // The class table's own reference (count 1) never keeps the module loaded; client
  // references (count 2 or more) hold one module lock between them.
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;
  STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** object) override;
  STDMETHOD(LockServer)(BOOL lock) override;

 private:
  friend HRESULT WINAPI CreateClassFactory(void* createInstance, REFIID iid, void** object);
  ~CryptClassFactory();

  LONG m_dwRef;
  atl::CreatorFunction* m_pfnCreateInstance;
  CRITICAL_SECTION m_csCache;
};

}  // namespace corvane
