// Redirects one function that a loaded module imports, for tests that watch or perturb
// what a DLL under test calls (the arguments it passes, the timing around a call).
#pragma once

#include <windows.h>

#include <cstring>

namespace corvane::test {

// The slot of module's import address table that holds dll!function, or null.
inline void** ImportSlot(HMODULE module, const char* dll, const char* function) {
  BYTE* base = reinterpret_cast<BYTE*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return nullptr;
  for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name != 0;
       ++entry) {
    if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* named = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(named->Name), function) == 0)
        return reinterpret_cast<void**>(&slots->u1.Function);
    }
  }
  return nullptr;
}

// Puts replacement into an import slot for the object's lifetime.
class ImportRedirect {
 public:
  ImportRedirect(void** slot, void* replacement) : slot_(slot) {
    previous_ = Exchange(replacement);
  }
  ~ImportRedirect() { Exchange(previous_); }
  ImportRedirect(const ImportRedirect&) = delete;
  ImportRedirect& operator=(const ImportRedirect&) = delete;

  // What the slot held before: the real function.
  void* Previous() const { return previous_; }

 private:
  void* Exchange(void* value) {
    DWORD old = 0;
    VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
    void* before = *slot_;
    *slot_ = value;
    VirtualProtect(slot_, sizeof *slot_, old, &old);
    return before;
  }

  void** slot_;
  void* previous_ = nullptr;
};

}  // namespace corvane::test
