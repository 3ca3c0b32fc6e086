// Where the outside components may run. COM would start a class registered for remote
// activation on another machine when asked with CLSCTX_SERVER; the wrapper asks for
// servers on this machine only. Wine activates nothing remotely, so the test watches the
// context the wrapper passes: its import of CoCreateInstance is redirected to a recorder
// for the test's duration.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "tests/support/import_redirect.h"
#include "tests/wrapper/wrapper_call_helper.h"

namespace tamsel_test {
namespace {

using CoCreateInstanceFunction = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);

CoCreateInstanceFunction g_real_create = nullptr;
std::vector<DWORD> g_contexts;

HRESULT WINAPI RecordingCoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) {
  g_contexts.push_back(context);
  return g_real_create(clsid, outer, context, iid, object);
}

using WrapperActivation = WrapperTest;

TEST_F(WrapperActivation, OutsideComponentsAreCreatedOnThisMachineOnly) {
  const HMODULE wrapper = GetModuleHandleW(WrapperDllPath().c_str());
  ASSERT_NE(wrapper, nullptr) << "the wrapper is loaded by the fixture";
  void** slot = corvane::test::ImportSlot(wrapper, "ole32.dll", "CoCreateInstance");
  ASSERT_NE(slot, nullptr) << "the wrapper creates the components with ole32's CoCreateInstance";
  g_contexts.clear();
  {
    corvane::test::ImportRedirect redirect(slot, reinterpret_cast<void*>(&RecordingCoCreateInstance));
    g_real_create = reinterpret_cast<CoCreateInstanceFunction>(redirect.Previous());
    EXPECT_EQ(DecryptText(EncryptText(L"on this machine", L"key"), L"key"), L"on this machine");
  }
  ASSERT_EQ(g_contexts.size(), 4u) << "two components for each of the two calls";
  for (DWORD context : g_contexts) {
    EXPECT_EQ(context, static_cast<DWORD>(CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER)) << std::hex << context;
  }
}

}  // namespace
}  // namespace tamsel_test
