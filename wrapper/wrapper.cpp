#include "wrapper/wrapper.h"

#include <new>

#include "common/secure_wipe.h"
#include "wrapper/module.h"

namespace tamsel {
namespace {

constexpr DISPID kTwofishEncryptId = 0x60030001;
constexpr DISPID kTwofishDecryptId = 0x60030002;
constexpr wchar_t kBase64ProgId[] = L"Ostrel.Base64Func";
constexpr wchar_t kTwofishProgId[] = L"Tamsel.clsTwofish";

// Overwrites the elements of a byte array that held key material.
void WipeBytes(UniqueSafeArray& bytes) {
  if (!bytes || bytes.Get()->rgsabound[0].cElements == 0) return;
  corvane::SafeArrayAccess access(bytes.Get());
  if (SUCCEEDED(access.Status())) corvane::SecureWipe(access.Bytes(), bytes.Get()->rgsabound[0].cElements);
}

// A VARIANT argument that refers to a value the caller keeps owning.
VARIANT ByReference(VARTYPE type, void* slot) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = static_cast<VARTYPE>(VT_BYREF | type);
  V_BYREF(&v) = slot;
  return v;
}

}  // namespace

Wrapper::Wrapper() { LockModule(); }
Wrapper::~Wrapper() { UnlockModule(); }

HRESULT Wrapper::Create(REFIID riid, void** object) {
  Wrapper* wrapper = new (std::nothrow) Wrapper();
  if (wrapper == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = SharedTypeInfo(wrapper->type_info_);
  if (SUCCEEDED(hr)) hr = wrapper->QueryInterface(riid, object);
  wrapper->Release();
  return hr;
}

STDMETHODIMP Wrapper::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID__Wrapper) {
    *object = static_cast<_Wrapper*>(this);
  } else if (riid == IID_ISupportErrorInfo) {
    *object = static_cast<ISupportErrorInfo*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) Wrapper::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

STDMETHODIMP_(ULONG) Wrapper::Release() {
  const LONG left = InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP Wrapper::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP Wrapper::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  type_info_->AddRef();
  *info = type_info_.Get();
  return S_OK;
}

STDMETHODIMP Wrapper::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  // The type information's lookup reads the first name even for a count of 0.
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return E_POINTER;
  // A null name in the list is answered here: Windows' lookup may read through it.
  for (UINT i = 0; i < count; ++i) {
    if (names[i] == nullptr) {
      for (UINT j = 0; j < count; ++j) ids[j] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
  }
  return DispGetIDsOfNames(type_info_.Get(), names, count, ids);
}

// The two methods are dispatched here rather than by ITypeInfo::Invoke: Wine's dispatcher
// copies an [in, out] VARIANT* argument passed by value without freeing the copy and,
// with several threads calling at once, corrupts the heap. The rules are the
// dispatcher's: two arguments, by position (last first) or named by their DISPIDs 0 and
// 1, a failure reported as DISP_E_EXCEPTION with the error information in EXCEPINFO.
STDMETHODIMP Wrapper::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* exception, UINT* argument_error) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (id != kTwofishEncryptId && id != kTwofishDecryptId) return DISP_E_MEMBERNOTFOUND;
  if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
  if (params == nullptr || (params->cArgs != 0 && params->rgvarg == nullptr) ||
      (params->cNamedArgs != 0 && params->rgdispidNamedArgs == nullptr))
    return E_INVALIDARG;
  if (params->cArgs != 2 || params->cNamedArgs > 2) return DISP_E_BADPARAMCOUNT;

  // Named arguments come first in rgvarg; the positional ones follow, last first.
  VARIANT* arguments[2] = {nullptr, nullptr};  // iStr, iKeyStr
  for (UINT i = 0; i < params->cNamedArgs; ++i) {
    const DISPID position = params->rgdispidNamedArgs[i];
    if ((position != 0 && position != 1) || arguments[position] != nullptr) {
      if (argument_error != nullptr) *argument_error = i;
      return DISP_E_PARAMNOTFOUND;
    }
    arguments[position] = &params->rgvarg[i];
  }
  const UINT positional = params->cArgs - params->cNamedArgs;
  for (UINT j = 0; j < positional; ++j) {
    VARIANT*& slot = arguments[j];
    if (slot != nullptr) {
      if (argument_error != nullptr) *argument_error = params->cArgs - 1 - j;
      return DISP_E_PARAMNOTFOUND;
    }
    slot = &params->rgvarg[params->cArgs - 1 - j];
  }

  // Converting an argument runs the client's code, which may release the client's last
  // reference: the object, and with it the module lock, goes when the call is done.
  const auto held = ComPtr<_Wrapper>::Share(this);
  UniqueVariant discarded;
  VARIANT* out = result != nullptr ? result : discarded.Get();
  const HRESULT hr = id == kTwofishEncryptId ? TwofishEncrypt(arguments[0], arguments[1], out)
                                             : TwofishDecrypt(arguments[0], arguments[1], out);
  if (SUCCEEDED(hr) || exception == nullptr) return hr;

  ZeroMemory(exception, sizeof *exception);
  exception->scode = hr;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Receive()) == S_OK && info) {
    info->GetSource(&exception->bstrSource);
    info->GetDescription(&exception->bstrDescription);
    info->GetHelpFile(&exception->bstrHelpFile);
    info->GetHelpContext(&exception->dwHelpContext);
  }
  return DISP_E_EXCEPTION;
}

STDMETHODIMP Wrapper::TwofishEncrypt(VARIANT* iStr, VARIANT* iKeyStr, VARIANT* vout) {
  return Run(iStr, iKeyStr, vout, true);
}

STDMETHODIMP Wrapper::TwofishDecrypt(VARIANT* iStr, VARIANT* iKeyStr, VARIANT* vout) {
  return Run(iStr, iKeyStr, vout, false);
}

STDMETHODIMP Wrapper::InterfaceSupportsErrorInfo(REFIID riid) { return riid == IID__Wrapper ? S_OK : S_FALSE; }

HRESULT Wrapper::Run(VARIANT* iStr, VARIANT* iKeyStr, VARIANT* vout, bool encrypt) {
  const auto held = ComPtr<_Wrapper>::Share(this);  // as in Invoke
  Failure failure;
  if (vout == nullptr) return Report(failure.Set(E_POINTER, L"the result argument is a null pointer"));
  VariantInit(vout);
  if (iStr == nullptr || iKeyStr == nullptr) {
    return Report(failure.Set(E_POINTER, iStr == nullptr ? L"iStr is a null pointer" : L"iKeyStr is a null pointer"));
  }

  UniqueBstr key_text;
  UniqueBstr data_text;
  UniqueBstr result_text;
  HRESULT hr = CoerceArgumentToText(iKeyStr, L"iKeyStr", key_text, failure);
  if (SUCCEEDED(hr)) hr = CoerceArgumentToText(iStr, L"iStr", data_text, failure);
  if (SUCCEEDED(hr)) hr = TwofishTransform(data_text, key_text.Get(), encrypt, result_text, failure);
  key_text.WipeAndReset();
  if (FAILED(hr)) return Report(failure);

  SetErrorInfo(0, nullptr);
  V_VT(vout) = VT_BSTR;
  V_BSTR(vout) = result_text.Release();
  return S_OK;
}

// One encryption or decryption through the outside components, in this order:
//   1. key bytes <- the key text's bytes
//   2. create the Base64 object
//   3. encryption: data bytes <- the data text's bytes;
//      decryption: data bytes <- deBase64Bin(data text by reference)
//   4. create the Twofish object
//   5. Twofish.bkey = key bytes (a property put, the array passed by value)
//   6. result bytes <- bEncrypt or bDecrypt(data bytes by reference)
//   7. release the Twofish object
//   8. encryption: result text <- enBase64Bin(result bytes by reference) as a string;
//      decryption: result text <- the result bytes as a string
//   9. release the Base64 object
// A failing step ends the call; the holders release what exists, the Twofish object
// before the Base64 object (declared in that order), and free every string and array,
// including whatever a callee left in an argument passed by reference.
HRESULT Wrapper::TwofishTransform(UniqueBstr& data_text, BSTR key_text, bool encrypt, UniqueBstr& result_text,
                                  Failure& failure) {
  UniqueSafeArray key_bytes;
  UniqueSafeArray data_bytes;
  UniqueSafeArray result_bytes;
  ComPtr<IDispatch> base64;
  ComPtr<IDispatch> twofish;
  struct KeyWiper {
    UniqueSafeArray& bytes;
    ~KeyWiper() { WipeBytes(bytes); }
  } key_wiper{key_bytes};

  HRESULT hr = TextToBytes(key_text, key_bytes, failure);
  if (FAILED(hr)) return hr;

  hr = CreateByProgId(kBase64ProgId, base64, failure);
  if (FAILED(hr)) return hr;

  if (encrypt) {
    hr = TextToBytes(data_text.Get(), data_bytes, failure);
  } else {
    VARIANT text = ByReference(VT_BSTR, data_text.InOut());
    UniqueVariant decoded;
    hr = CallWithResult(base64.Get(), kBase64ProgId, L"deBase64Bin", text, decoded, failure);
    if (SUCCEEDED(hr)) hr = TakeResultBytes(decoded, kBase64ProgId, L"deBase64Bin", data_bytes, failure);
  }
  if (FAILED(hr)) return hr;

  hr = CreateByProgId(kTwofishProgId, twofish, failure);
  if (FAILED(hr)) return hr;

  VARIANT key;
  VariantInit(&key);
  V_VT(&key) = VT_ARRAY | VT_UI1;
  V_ARRAY(&key) = key_bytes.Get();
  hr = PutProperty(twofish.Get(), kTwofishProgId, L"bkey", key, failure);
  if (FAILED(hr)) return hr;

  const wchar_t* cipher_member = encrypt ? L"bEncrypt" : L"bDecrypt";
  VARIANT data = ByReference(VT_ARRAY | VT_UI1, data_bytes.InOut());
  UniqueVariant transformed;
  hr = CallWithResult(twofish.Get(), kTwofishProgId, cipher_member, data, transformed, failure);
  if (SUCCEEDED(hr))
    hr = TakeResultBytes(transformed, kTwofishProgId, cipher_member, result_bytes, failure, data_bytes.Get());
  if (FAILED(hr)) return hr;
  twofish.Reset();

  if (encrypt) {
    VARIANT bytes = ByReference(VT_ARRAY | VT_UI1, result_bytes.InOut());
    UniqueVariant encoded;
    hr = CallWithResult(base64.Get(), kBase64ProgId, L"enBase64Bin", bytes, encoded, failure);
    if (SUCCEEDED(hr)) hr = TakeResultText(encoded, kBase64ProgId, L"enBase64Bin", result_text, failure);
  } else {
    hr = BytesToText(result_bytes.Get(), result_text, failure);
  }
  if (FAILED(hr)) return hr;
  base64.Reset();
  return S_OK;
}

HRESULT Wrapper::Report(const Failure& failure) {
  ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.Receive()))) {
    create->SetGUID(IID__Wrapper);
    create->SetSource(const_cast<LPOLESTR>(L"Tamsel.Wrapper"));
    create->SetDescription(const_cast<LPOLESTR>(failure.Text()));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.ReceiveVoid()))) SetErrorInfo(0, info.Get());
  }
  return failure.Code();
}

}  // namespace tamsel
