// What the Wrapper tests share: the stand-in components' journal and counters, the fault
// switch, argument snapshots, error information, an allocation counter and the expected
// ciphertext computed without COM.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "common/com_holders.h"
#include "tamsel.h"
#include "tests/support/variants.h"
#include "tests/support/vector_files.h"

namespace tamsel_test {

using corvane::ComPtr;
using corvane::UniqueBstr;
using corvane::UniqueSafeArray;
using corvane::UniqueVariant;
using Bytes = std::vector<unsigned char>;
using corvane::test::MakeVariantRef;
using corvane::test::ToHex;

// Windows paths of the two DLLs under test (registered by the test fixture).
std::wstring WrapperDllPath();
std::wstring FixturesDllPath();

// TamselFixtures.dll, loaded into this process (the same module COM loads for the
// stand-ins), for its journal and object counters.
class Fixtures {
 public:
  static Fixtures& Get();
  // Clears the journal and the creation count.
  void Reset();
  int Live() const;
  int Created() const;
  // The journal, one entry a line.
  std::vector<std::string> Journal() const;
  // The journal condensed: B and T for the two classes, + created, - destroyed,
  // ! refused, .member a call. "B+ T+ T.bkey T.bEncrypt T- B-".
  std::string Trace() const;
  // Registers the two classes again (restores what a test removed).
  HRESULT Register() const;

 private:
  Fixtures();
  HMODULE module_;
  void (*reset_)();
  int (*live_)();
  int (*created_)();
  int (*journal_)(wchar_t*, int);
  HRESULT(__stdcall* register_)();
};

// Sets the stand-ins' fault switch for the life of the object.
class ScopedFaults {
 public:
  explicit ScopedFaults(const wchar_t* faults);
  ~ScopedFaults();
  ScopedFaults(const ScopedFaults&) = delete;
  ScopedFaults& operator=(const ScopedFaults&) = delete;
};

// A new Wrapper made by its ProgID, as script hosts make it.
ComPtr<_Wrapper> NewWrapper();

// VARIANT values for arguments; each owns what it holds.
void SetText(UniqueVariant& v, const std::wstring& text);
void SetBytes(UniqueVariant& v, const Bytes& bytes);
std::wstring TextOf(const VARIANT& v);
Bytes BytesOf(const std::wstring& text);
// The text made of bytes (bytes 2k and 2k+1 form character k), as a BSTR.
UniqueBstr BstrOfBytes(const Bytes& bytes);

// A full description of a VARIANT, following references: its type, the addresses it
// holds and the contents they point to. Equal snapshots mean nothing was changed.
std::string Snapshot(const VARIANT& v);

// The error information a failed call left (and clears it).
struct ErrorRecord {
  bool present = false;
  std::wstring description;
  std::wstring source;
  GUID guid = GUID_NULL;
};
ErrorRecord TakeErrorInfo();

// Base64 of the stand-in cipher's output for the text's UTF-16 bytes under the key text's
// UTF-16 bytes, computed directly (no COM).
std::string ExpectedCiphertext(const std::wstring& text, const std::wstring& key);

std::string Narrow(const std::wstring& text);

// Counts the task-allocator blocks (BSTRs, SAFEARRAYs, ...) alive in this process while
// it exists. The BSTR cache is switched off in main so frees are seen at once.
class AllocationCounter {
 public:
  AllocationCounter();
  ~AllocationCounter();
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;
  long Live() const;
  // Task-allocator blocks freed twice in the scope (see MallocSpy::DoubleFrees).
  long DoubleFrees() const;
};

}  // namespace tamsel_test
