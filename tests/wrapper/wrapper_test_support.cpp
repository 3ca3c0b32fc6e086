#include "tests/wrapper/wrapper_test_support.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/fixtures/base64.h"
#include "tests/support/allocation_seam.h"
#include "tests/fixtures/twofish.h"

namespace tamsel_test {
namespace {

std::wstring WindowsPath(const char* path) {
  std::wstring out(path, path + std::char_traits<char>::length(path));
  for (wchar_t& c : out) {
    if (c == L'/') c = L'\\';
  }
  return out;
}

template <class F>
F Export(HMODULE module, const char* name) {
  FARPROC p = GetProcAddress(module, name);
  if (p == nullptr) ADD_FAILURE() << "TamselFixtures.dll does not export " << name;
  return reinterpret_cast<F>(reinterpret_cast<void*>(p));
}

std::string Hex(unsigned long value) {
  std::ostringstream out;
  out << std::hex << std::uppercase << value;
  return out.str();
}

std::string SnapshotArray(SAFEARRAY* a) {
  if (a == nullptr) return "array(null)";
  std::string out = "array@" + Hex(reinterpret_cast<uintptr_t>(a)) + " dims=" + std::to_string(SafeArrayGetDim(a)) +
                    " locks=" + std::to_string(a->cLocks);
  if (SafeArrayGetDim(a) == 1 && SafeArrayGetElemsize(a) == 1) {
    out += " lbound=" + std::to_string(a->rgsabound[0].lLbound) + " data@" + Hex(reinterpret_cast<uintptr_t>(a->pvData)) +
           " " + ToHex(static_cast<unsigned char*>(a->pvData), a->rgsabound[0].cElements);
  }
  return out;
}

std::string SnapshotBstr(BSTR s) {
  if (s == nullptr) return "bstr(null)";
  return "bstr@" + Hex(reinterpret_cast<uintptr_t>(s)) + " " +
         ToHex(reinterpret_cast<unsigned char*>(s), SysStringByteLen(s));
}

// Counts the task allocator's blocks for an AllocationCounter's scope.
corvane::test::MallocSpy g_spy;

}  // namespace

std::wstring WrapperDllPath() { return WindowsPath(TAMSEL_WRAPPER_DLL); }
std::wstring FixturesDllPath() { return WindowsPath(TAMSEL_FIXTURES_DLL); }

Fixtures& Fixtures::Get() {
  static Fixtures fixtures;
  return fixtures;
}

Fixtures::Fixtures() : module_(LoadLibraryW(FixturesDllPath().c_str())) {
  if (module_ == nullptr) ADD_FAILURE() << "cannot load " << Narrow(FixturesDllPath());
  reset_ = Export<void (*)()>(module_, "FixtureReset");
  live_ = Export<int (*)()>(module_, "FixtureLiveObjects");
  created_ = Export<int (*)()>(module_, "FixtureCreatedObjects");
  journal_ = Export<int (*)(wchar_t*, int)>(module_, "FixtureJournal");
  register_ = Export<HRESULT(__stdcall*)()>(module_, "DllRegisterServer");
}

void Fixtures::Reset() { reset_(); }
int Fixtures::Live() const { return live_(); }
int Fixtures::Created() const { return created_(); }
HRESULT Fixtures::Register() const { return register_(); }

std::vector<std::string> Fixtures::Journal() const {
  std::wstring text(static_cast<std::size_t>(journal_(nullptr, 0)) + 1, L'\0');
  journal_(&text[0], static_cast<int>(text.size()));
  text.pop_back();
  std::vector<std::string> lines;
  std::istringstream in(Narrow(text));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Fixtures::Trace() const {
  std::string out;
  for (std::string line : Journal()) {
    line = line.substr(0, line.find(" flags="));
    for (const char* prog_id : {"Ostrel.Base64Func", "Tamsel.clsTwofish"}) {
      if (line.compare(0, std::strlen(prog_id), prog_id) == 0) line = std::string(1, prog_id[0] == 'O' ? 'B' : 'T') + line.substr(std::strlen(prog_id));
    }
    if (line.size() > 2 && line[1] == ' ') line = line.substr(0, 1) + (line[2] == 'c' ? "+" : line[2] == 'd' ? "-" : "!");
    out += (out.empty() ? "" : " ") + line;
  }
  return out;
}

ScopedFaults::ScopedFaults(const wchar_t* faults) { SetEnvironmentVariableW(L"TAMSEL_FIXTURE_FAULTS", faults); }
ScopedFaults::~ScopedFaults() { SetEnvironmentVariableW(L"TAMSEL_FIXTURE_FAULTS", nullptr); }

ComPtr<_Wrapper> NewWrapper() {
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(L"Tamsel.Wrapper", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Wrapper));
  ComPtr<_Wrapper> wrapper;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__Wrapper, wrapper.ReceiveVoid()), S_OK);
  return wrapper;
}

void SetText(UniqueVariant& v, const std::wstring& text) {
  VARIANT* p = v.Receive();
  V_VT(p) = VT_BSTR;
  V_BSTR(p) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void SetBytes(UniqueVariant& v, const Bytes& bytes) {
  VARIANT* p = v.Receive();
  SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!bytes.empty()) std::memcpy(a->pvData, bytes.data(), bytes.size());
  V_VT(p) = VT_ARRAY | VT_UI1;
  V_ARRAY(p) = a;
}

std::wstring TextOf(const VARIANT& v) {
  if (V_VT(&v) != VT_BSTR) {
    ADD_FAILURE() << "not a string: VARTYPE 0x" << Hex(V_VT(&v));
    return L"";
  }
  return std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
}

Bytes BytesOf(const std::wstring& text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  return Bytes(p, p + text.size() * sizeof(wchar_t));
}

UniqueBstr BstrOfBytes(const Bytes& bytes) {
  return UniqueBstr(SysAllocStringByteLen(reinterpret_cast<const char*>(bytes.data()), static_cast<UINT>(bytes.size())));
}

std::string Snapshot(const VARIANT& v) {
  std::string out = "vt=" + Hex(V_VT(&v));
  switch (V_VT(&v)) {
    case VT_BSTR:
      return out + " " + SnapshotBstr(V_BSTR(&v));
    case VT_BYREF | VT_BSTR:
      return out + " ref@" + Hex(reinterpret_cast<uintptr_t>(V_BSTRREF(&v))) + " " + SnapshotBstr(*V_BSTRREF(&v));
    case VT_ARRAY | VT_UI1:
      return out + " " + SnapshotArray(V_ARRAY(&v));
    case VT_BYREF | VT_ARRAY | VT_UI1:
      return out + " ref@" + Hex(reinterpret_cast<uintptr_t>(V_ARRAYREF(&v))) + " " + SnapshotArray(*V_ARRAYREF(&v));
    case VT_BYREF | VT_VARIANT:
      if (V_VARIANTREF(&v) == nullptr) return out + " ref(null)";
      return out + " ref@" + Hex(reinterpret_cast<uintptr_t>(V_VARIANTREF(&v))) + " -> " + Snapshot(*V_VARIANTREF(&v));
    default: {
      // Any other value: its raw bytes.
      return out + " " + ToHex(reinterpret_cast<const unsigned char*>(&v), sizeof v);
    }
  }
}

ErrorRecord TakeErrorInfo() {
  ErrorRecord record;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Receive()) != S_OK || !info) return record;
  record.present = true;
  UniqueBstr description, source;
  info->GetDescription(description.Receive());
  info->GetSource(source.Receive());
  info->GetGUID(&record.guid);
  record.description.assign(description.Get() ? description.Get() : L"", description.Length());
  record.source.assign(source.Get() ? source.Get() : L"", source.Length());
  return record;
}

std::string ExpectedCiphertext(const std::wstring& text, const std::wstring& key) {
  tamsel_fixture::Bytes padded;
  EXPECT_TRUE(tamsel_fixture::PadKey(BytesOf(key), padded));
  tamsel_fixture::Twofish cipher;
  EXPECT_TRUE(cipher.SetKey(padded.data(), padded.size()));
  return tamsel_fixture::EncodeBase64(tamsel_fixture::EncryptCbc(cipher, BytesOf(text)));
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return "";
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

AllocationCounter::AllocationCounter() {
  g_spy.ResetCount();
  EXPECT_EQ(CoRegisterMallocSpy(&g_spy), S_OK);
}
AllocationCounter::~AllocationCounter() { CoRevokeMallocSpy(); }
long AllocationCounter::Live() const { return g_spy.Live(); }
long AllocationCounter::DoubleFrees() const { return g_spy.DoubleFrees(); }

}  // namespace tamsel_test
