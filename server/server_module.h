// The module state of Corvane, shared by its classes: the ATL module record and the
// module lock count that decides whether the DLL may be unloaded.
#pragma once

#include "atl30.h"

namespace corvane {

// The one module record, initialised by the services at process attach.
extern atl::ModuleRecord ServerModule;

// One more reason to stay loaded: a live instance, a client reference to the class
// object, or an unmatched LockServer(TRUE).
inline void LockModule() { InterlockedIncrement(&ServerModule.m_nLockCnt); }
inline void UnlockModule() { InterlockedDecrement(&ServerModule.m_nLockCnt); }

}  // namespace corvane
