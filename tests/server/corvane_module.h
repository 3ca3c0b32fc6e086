// Corvane.dll loaded into the test process by path, with its four exports.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "corvane.h"

namespace corvane::test {

struct CorvaneModule {
  HMODULE module = nullptr;
  HRESULT(WINAPI* DllCanUnloadNow)() = nullptr;
  HRESULT(WINAPI* DllGetClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(WINAPI* DllRegisterServer)() = nullptr;
  HRESULT(WINAPI* DllUnregisterServer)() = nullptr;

  // Loaded once per process and kept: the class object lives until the process ends.
  static const CorvaneModule& Get() {
    static const CorvaneModule loaded = Load();
    return loaded;
  }

  // A class factory reference (the caller releases it), or null.
  IClassFactory* ClassFactory() const {
    IClassFactory* factory = nullptr;
    DllGetClassObject(CLSID_Crypt, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    return factory;
  }

  // A new plain instance as ICrypt (the caller releases it), or null.
  ICrypt* NewCrypt() const {
    IClassFactory* factory = ClassFactory();
    if (factory == nullptr) return nullptr;
    ICrypt* crypt = nullptr;
    factory->CreateInstance(nullptr, IID_ICrypt, reinterpret_cast<void**>(&crypt));
    factory->Release();
    return crypt;
  }

 private:
  template <class F>
  static void Bind(HMODULE m, const char* name, F& f) {
    f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name)));
  }
  static CorvaneModule Load() {
    CorvaneModule m;
    m.module = LoadLibraryW(CORVANE_DLL_PATH);
    if (m.module != nullptr) {
      Bind(m.module, "DllCanUnloadNow", m.DllCanUnloadNow);
      Bind(m.module, "DllGetClassObject", m.DllGetClassObject);
      Bind(m.module, "DllRegisterServer", m.DllRegisterServer);
      Bind(m.module, "DllUnregisterServer", m.DllUnregisterServer);
    }
    return m;
  }
};

// COM for the calling thread, in a single-threaded apartment, for one test's duration.
class ComApartment {
 public:
  ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT hr_;
};

}  // namespace corvane::test
