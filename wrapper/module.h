// Module-wide state of TamselWrapper: its instance handle, the count that keeps it
// loaded, its own path and the type information of _Wrapper from its resources.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <memory>

#include "common/com_holders.h"

namespace tamsel {

using corvane::ComPtr;

// Every live Wrapper object, every reference to the class factory and every
// LockServer(TRUE) holds the module once; DllCanUnloadNow answers S_OK at zero.
void LockModule();
void UnlockModule();

// The full path of this DLL as it was loaded (nullptr only when out of memory or when
// the path cannot be read).
std::unique_ptr<wchar_t[]> ModulePath();

// The type library embedded as resource "TYPELIB" 1, loaded without registering it.
HRESULT LoadOwnTypeLib(ComPtr<ITypeLib>& lib);

// The type information of _Wrapper, loaded once for the whole module and shared by every
// object (a reference is added for the caller). Loading it per object would make every
// object load and drop the type library, which Wine's type library cache does not
// survive when several threads do it at once. A failed load is tried again next time.
HRESULT SharedTypeInfo(ComPtr<ITypeInfo>& info);

}  // namespace tamsel
