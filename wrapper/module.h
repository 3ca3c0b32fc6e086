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

}  // namespace tamsel
