// Wrapper through IDispatch, as script hosts call it: names and DISPIDs from the type
// library, arguments by value and by reference, and failures as exceptions.
#include <gtest/gtest.h>

#include "tests/support/default_value_object.h"
#include "tests/wrapper/wrapper_call_helper.h"

namespace tamsel_test {
namespace {

class WrapperDispatch : public WrapperTest {
 protected:
  void SetUp() override {
    WrapperTest::SetUp();
    ASSERT_EQ(wrapper_->QueryInterface(IID_IDispatch, dispatch_.ReceiveVoid()), S_OK);
  }
  void TearDown() override {
    dispatch_.Reset();
    WrapperTest::TearDown();
  }

  DISPID IdOf(const wchar_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0;
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << Narrow(name);
    return id;
  }
  // Invokes a method with (text, key); arguments go in reverse order.
  HRESULT Invoke(DISPID id, VARIANT text, VARIANT key, UniqueVariant& result, EXCEPINFO* exception) {
    VARIANT args[2] = {key, text};
    DISPPARAMS params = {args, nullptr, 2, 0};
    UINT argument_error = 0;
    return dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Receive(), exception,
                             &argument_error);
  }

  ComPtr<IDispatch> dispatch_;
};

TEST_F(WrapperDispatch, NamesMapToTheFixedDispids) {
  EXPECT_EQ(IdOf(L"TwofishEncrypt"), 0x60030001);
  EXPECT_EQ(IdOf(L"TwofishDecrypt"), 0x60030002);
  EXPECT_EQ(IdOf(L"twofishencrypt"), 0x60030001);
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"TwofishTransform")};
  DISPID id = 0;
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
  LPOLESTR with_parameters[] = {const_cast<LPOLESTR>(L"TwofishDecrypt"), const_cast<LPOLESTR>(L"iKeyStr"),
                                const_cast<LPOLESTR>(L"iStr")};
  DISPID ids[3] = {};
  ASSERT_EQ(dispatch_->GetIDsOfNames(IID_NULL, with_parameters, 3, LOCALE_USER_DEFAULT, ids), S_OK);
  EXPECT_EQ(ids[0], 0x60030002);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], 0);
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_IDispatch, unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNINTERFACE);
}

TEST_F(WrapperDispatch, TypeInformationDescribesAHiddenNonextensibleDualInterface) {
  UINT count = 0;
  ASSERT_EQ(dispatch_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(dispatch_->GetTypeInfo(1, LOCALE_USER_DEFAULT, info.Receive()), DISP_E_BADINDEX);
  ASSERT_EQ(dispatch_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Receive()), S_OK);
  // The dispatch half of the dual interface, and its vtable half.
  ComPtr<ITypeInfo> vtable_half;
  HREFTYPE vtable_ref = 0;
  ASSERT_EQ(info->GetRefTypeOfImplType(-1, &vtable_ref), S_OK);
  ASSERT_EQ(info->GetRefTypeInfo(vtable_ref, vtable_half.Receive()), S_OK);
  const struct {
    ITypeInfo* half;
    TYPEKIND kind;
    WORD flags;
  } halves[] = {
      {info.Get(), TKIND_DISPATCH, TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE},
      {vtable_half.Get(), TKIND_INTERFACE,
       TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE}};
  for (const auto& h : halves) {
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(h.half->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID__Wrapper));
    EXPECT_EQ(attr->typekind, h.kind);
    EXPECT_EQ(attr->wTypeFlags & h.flags, h.flags) << std::hex << attr->wTypeFlags;
    h.half->ReleaseTypeAttr(attr);
  }

  ComPtr<ITypeLib> lib;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(lib.Receive(), &index), S_OK);
  TLIBATTR* lib_attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&lib_attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(lib_attr->guid, LIBID_Tamsel));
  EXPECT_EQ(lib_attr->wMajorVerNum, 3);
  EXPECT_EQ(lib_attr->wMinorVerNum, 0);
  EXPECT_EQ(lib_attr->lcid, 0u);
  lib->ReleaseTLibAttr(lib_attr);
  UniqueBstr name;
  ASSERT_EQ(lib->GetDocumentation(-1, name.Receive(), nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Narrow(name.Get()), "Tamsel");
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_Wrapper, coclass.Receive()), S_OK);
  ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, name.Receive(), nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Narrow(name.Get()), "Wrapper");
}

TEST_F(WrapperDispatch, InvokeRoundTripsWithArgumentsByValueAndByReference) {
  UniqueVariant text, key, encrypted, decrypted;
  SetText(text, L"through IDispatch");
  SetText(key, L"key");
  const std::string text_before = Snapshot(*text.Get());
  ASSERT_EQ(Invoke(0x60030001, *text.Get(), *key.Get(), encrypted, nullptr), S_OK);
  EXPECT_EQ(Narrow(TextOf(*encrypted.Get())), ExpectedCiphertext(L"through IDispatch", L"key"));
  // As VBScript passes variables: references to VARIANTs, which stay as they were.
  ASSERT_EQ(Invoke(0x60030002, MakeVariantRef(encrypted.Get()), MakeVariantRef(key.Get()), decrypted, nullptr), S_OK);
  EXPECT_EQ(TextOf(*decrypted.Get()), L"through IDispatch");
  EXPECT_EQ(Narrow(TextOf(*encrypted.Get())), ExpectedCiphertext(L"through IDispatch", L"key"));
  EXPECT_EQ(Snapshot(*text.Get()), text_before);
}

TEST_F(WrapperDispatch, AFailureArrivesAsAnExceptionWithItsCodeAndDescription) {
  UniqueVariant text, key, result;
  SetText(text, L"x");
  VARIANT null;
  VariantInit(&null);
  V_VT(&null) = VT_NULL;
  SetText(key, L"key");
  EXCEPINFO exception = {};
  EXPECT_EQ(Invoke(0x60030001, *text.Get(), null, result, &exception), DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Narrow(std::wstring(exception.bstrDescription, SysStringLen(exception.bstrDescription))),
            "iKeyStr is Null and cannot be converted to text");
  EXPECT_EQ(Narrow(std::wstring(exception.bstrSource, SysStringLen(exception.bstrSource))), "Tamsel.Wrapper");
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrHelpFile);
  EXPECT_EQ(V_VT(result.Get()), VT_EMPTY);

  ScopedFaults faults(L"Tamsel.clsTwofish=refuse");
  EXCEPINFO refused = {};
  EXPECT_EQ(Invoke(0x60030001, *text.Get(), *key.Get(), result, &refused), DISP_E_EXCEPTION);
  EXPECT_EQ(refused.scode, E_ACCESSDENIED);
  EXPECT_EQ(Narrow(std::wstring(refused.bstrDescription, SysStringLen(refused.bstrDescription))),
            "Tamsel.clsTwofish could not be created: access denied");
  SysFreeString(refused.bstrDescription);
  SysFreeString(refused.bstrSource);
  SysFreeString(refused.bstrHelpFile);
  EXPECT_EQ(Fixtures::Get().Trace(), "B+ T! B-");
}

// An argument whose default value is an object again and again (a VBScript class whose
// default property is `Set Value = Me`), passed as a script passes it: by reference to a
// variable. It is refused like an object without a default value, and the host lives.
TEST_F(WrapperDispatch, ObjectsWhoseDefaultValueNeverEndsAreRefusedInWords) {
  corvane::test::ObjectValuedDefault self;
  corvane::test::ObjectValuedDefault outer(&self);
  for (corvane::test::DefaultValueObject* object : {&self, &outer}) {
    UniqueVariant variable, key, result;
    V_VT(variable.Get()) = VT_DISPATCH;
    V_DISPATCH(variable.Get()) = object;
    object->AddRef();  // the variable's own
    SetText(key, L"key");
    for (bool as_key : {false, true}) {
      EXCEPINFO exception = {};
      const VARIANT argument = MakeVariantRef(variable.Get());
      EXPECT_EQ(Invoke(0x60030001, as_key ? *key.Get() : argument, as_key ? argument : *key.Get(), result, &exception),
                DISP_E_EXCEPTION);
      EXPECT_EQ(exception.scode, DISP_E_TYPEMISMATCH);
      EXPECT_EQ(Narrow(std::wstring(exception.bstrDescription, SysStringLen(exception.bstrDescription))),
                std::string(as_key ? "iKeyStr" : "iStr") +
                    " is an object whose default value never gives a plain value (objects more than 8 deep) and "
                    "cannot be converted to text");
      SysFreeString(exception.bstrDescription);
      SysFreeString(exception.bstrSource);
      SysFreeString(exception.bstrHelpFile);
      EXPECT_EQ(V_VT(result.Get()), VT_EMPTY);
    }
  }
  EXPECT_LE(self.Reads(), 4 * 8) << "at most 8 default values read in each of four calls";
  EXPECT_EQ(self.References(), 1);
  EXPECT_EQ(outer.References(), 1);
  EXPECT_EQ(Fixtures::Get().Created(), 0);
}

TEST_F(WrapperDispatch, WrongCallsAreRefusedBeforeAnythingIsCreated) {
  UniqueVariant text, result;
  SetText(text, L"x");
  DISPPARAMS one = {text.Get(), nullptr, 1, 0};
  UINT argument_error = 0;
  EXPECT_EQ(dispatch_->Invoke(0x60030001, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &one, result.Receive(), nullptr,
                              &argument_error),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(dispatch_->Invoke(0x60030003, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &one, result.Receive(), nullptr,
                              &argument_error),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(dispatch_->Invoke(0x60030001, IID_IDispatch, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &one, result.Receive(),
                              nullptr, &argument_error),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(Fixtures::Get().Created(), 0);
}

}  // namespace
}  // namespace tamsel_test
