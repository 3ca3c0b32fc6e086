// Late-bound calls through IDispatch::Invoke, as script hosts make them.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "common/com_holders.h"

namespace corvane::test {

struct DispatchResult {
  HRESULT hr;
  UINT argumentError;
  // For DISP_E_EXCEPTION: the failure the method raised, and its description.
  HRESULT scode;
  std::wstring description;
};

// Calls `dispid` with arguments in reading order (Invoke takes them reversed), optionally
// with names (DISPIDs) for the last len(named) arguments.
inline DispatchResult InvokeWith(IDispatch* target, DISPID dispid, WORD flags, std::vector<VARIANT> args,
                                 VARIANT* result, std::vector<DISPID> named = {}) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), named.empty() ? nullptr : named.data(),
                       static_cast<UINT>(reversed.size()), static_cast<UINT>(named.size())};
  EXCEPINFO exception = {};
  DispatchResult out{S_OK, 0, S_OK, {}};
  out.hr = target->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception,
                          &out.argumentError);
  if (out.hr == DISP_E_EXCEPTION) {
    if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    out.scode = exception.scode != 0 ? exception.scode : MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, exception.wCode);
  }
  if (exception.bstrDescription != nullptr) out.description.assign(exception.bstrDescription);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return out;
}

// Where Wine's dispatcher answers differently from the one of Windows, tests say so.
inline bool RunningOnWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline DISPID DispidOf(IDispatch* target, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  return id;
}

}  // namespace corvane::test
