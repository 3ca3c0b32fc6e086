// TwofishEncrypt and TwofishDecrypt called through IDispatch with every kind of value a
// client can pass, in either argument: each call gives the stated HRESULT, a result only
// on success, no stand-in object left alive, and the object works afterwards.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/hardening/dispatch_call.h"
#include "tests/support/default_value_object.h"
#include "tests/wrapper/wrapper_call_helper.h"
#include "tests/wrapper/wrapper_test_support.h"

namespace tamsel_test {
namespace {

using corvane::test::InvokeWith;
using corvane::test::MakeEmpty;

constexpr DISPID kEncrypt = 0x60030001;
constexpr DISPID kDecrypt = 0x60030002;

struct Value {
  const char* name;
  std::function<VARIANT(UniqueVariant& keep)> make;
  HRESULT asText;  // S_OK when the value has a text form, else the coercion's failure
};

// None of the text forms is Base64 of a ciphertext: as the text to decrypt, each fails
// in deBase64Bin, except the empty text, which decodes to no bytes that bDecrypt then
// refuses (the stand-in cipher's padding needs a whole block).
constexpr HRESULT kNotCiphertext = NTE_BAD_DATA;

VARIANT Stored(UniqueVariant& keep, VARTYPE vt, const std::function<void(VARIANT*)>& fill) {
  VARIANT* v = keep.Receive();
  V_VT(v) = vt;
  fill(v);
  return *v;
}

VARIANT TextValue(UniqueVariant& keep, const std::wstring& text) {
  SetText(keep, text);
  return *keep.Get();
}

// An object whose default value is itself, as a VBScript class with `Set Value = Me`; and
// one whose default value is VT_UNKNOWN holding itself. The system's coercion of either
// would read the default value again and again, without limit.
IDispatch* SelfValued() {
  static corvane::test::ObjectValuedDefault object;
  return &object;
}
class UnknownValuedDefault final : public corvane::test::DefaultValueObject {
 public:
  UnknownValuedDefault() : DefaultValueObject(L"") {}

 protected:
  HRESULT ReadValue(VARIANT* result, EXCEPINFO*) override {
    AddRef();
    V_VT(result) = VT_UNKNOWN;
    V_UNKNOWN(result) = static_cast<IDispatch*>(this);
    return S_OK;
  }
};
IDispatch* UnknownValued() {
  static UnknownValuedDefault object;
  return &object;
}

VARIANT Unowned(VARTYPE vt, IDispatch* object) {
  VARIANT v = MakeEmpty();
  V_VT(&v) = vt;
  V_DISPATCH(&v) = object;  // no reference of its own: the object outlives the call
  return v;
}

const std::vector<Value>& Values() {
  static LONG number = 42;
  static const std::vector<Value> values = {
      {"Empty", [](UniqueVariant&) { return MakeEmpty(); }, S_OK},
      {"Null", [](UniqueVariant&) { return corvane::test::MakeNull(); }, DISP_E_TYPEMISMATCH},
      {"I4", [](UniqueVariant&) { return corvane::test::MakeI4(42); }, S_OK},
      {"R8", [](UniqueVariant& k) { return Stored(k, VT_R8, [](VARIANT* v) { V_R8(v) = 1.5; }); }, S_OK},
      {"Currency", [](UniqueVariant& k) { return Stored(k, VT_CY, [](VARIANT* v) { V_CY(v).int64 = 15000; }); }, S_OK},
      {"Date", [](UniqueVariant& k) { return Stored(k, VT_DATE, [](VARIANT* v) { V_DATE(v) = 45000.0; }); }, S_OK},
      {"Boolean", [](UniqueVariant& k) { return Stored(k, VT_BOOL, [](VARIANT* v) { V_BOOL(v) = VARIANT_TRUE; }); },
       S_OK},
      {"Missing argument",
       [](UniqueVariant& k) { return Stored(k, VT_ERROR, [](VARIANT* v) { V_ERROR(v) = DISP_E_PARAMNOTFOUND; }); },
       DISP_E_TYPEMISMATCH},
      {"Object without a default value",
       [](UniqueVariant& k) {
         return Stored(k, VT_DISPATCH, [](VARIANT* v) {
           ComPtr<_Wrapper> other = NewWrapper();
           V_DISPATCH(v) = other.Detach();
         });
       },
       DISP_E_TYPEMISMATCH},
      {"Unknown that is an object whose default value is itself",
       [](UniqueVariant&) { return Unowned(VT_UNKNOWN, SelfValued()); }, DISP_E_TYPEMISMATCH},
      {"Reference to an Unknown that is an object whose default value is itself", [](UniqueVariant&) {
         static IUnknown* unknown = SelfValued();
         VARIANT v = MakeEmpty();
         V_VT(&v) = VT_BYREF | VT_UNKNOWN;
         V_UNKNOWNREF(&v) = &unknown;
         return v;
       }, DISP_E_TYPEMISMATCH},
      {"Object whose default value is an Unknown holding itself",
       [](UniqueVariant&) { return Unowned(VT_DISPATCH, UnknownValued()); }, DISP_E_TYPEMISMATCH},
      {"Byte array", [](UniqueVariant& k) {
         SetBytes(k, {'h', 0, 'i', 0});
         return *k.Get();
       }, S_OK},
      {"Variant array",
       [](UniqueVariant& k) {
         return Stored(k, VT_ARRAY | VT_VARIANT,
                       [](VARIANT* v) { V_ARRAY(v) = SafeArrayCreateVector(VT_VARIANT, 0, 2); });
       },
       DISP_E_TYPEMISMATCH},
      {"Reference to a number", [](UniqueVariant&) {
         VARIANT v = MakeEmpty();
         V_VT(&v) = VT_BYREF | VT_I4;
         V_I4REF(&v) = &number;
         return v;
       }, S_OK},
      {"Reference to a VARIANT holding text", [](UniqueVariant& k) {
         static UniqueVariant target;
         SetText(target, L"referenced");
         (void)k;
         return MakeVariantRef(target.Get());
       }, S_OK},
      {"Text with zero characters", [](UniqueVariant& k) { return TextValue(k, std::wstring(L"a\0b\0", 4)); }, S_OK},
      {"Text beyond any code page", [](UniqueVariant& k) { return TextValue(k, L"\u0101\u65E5\U0001F600"); }, S_OK},
  };
  return values;
}

// The wrapper and the stand-ins' bookkeeping come from WrapperTest; calls here go
// through IDispatch instead of the vtable.
class WrapperBadInput : public WrapperTest {
 protected:
  // The method's HRESULT (for a failure, what it raised through the dispatcher); on
  // success *result receives the result.
  HRESULT CallLateBound(DISPID dispid, VARIANT text, VARIANT key, std::wstring* result = nullptr) {
    UniqueVariant out;
    const corvane::test::DispatchResult call = InvokeWith(wrapper_.Get(), dispid, DISPATCH_METHOD, {text, key}, out.Receive());
    const HRESULT hr = call.hr == DISP_E_EXCEPTION ? call.scode : call.hr;
    EXPECT_EQ(V_VT(out.Get()), SUCCEEDED(hr) ? VT_BSTR : VT_EMPTY);
    EXPECT_EQ(Fixtures::Get().Live(), 0) << "a stand-in object outlived the call";
    if (SUCCEEDED(hr) && result != nullptr) *result = TextOf(*out.Get());
    TakeErrorInfo();
    return hr;
  }
  void ExpectUsable() {
    UniqueVariant text, key;
    std::wstring cipher, plain;
    ASSERT_EQ(CallLateBound(kEncrypt, TextValue(text, L"still works"), TextValue(key, L"key"), &cipher), S_OK);
    UniqueVariant c;
    ASSERT_EQ(CallLateBound(kDecrypt, TextValue(c, cipher), TextValue(key, L"key"), &plain), S_OK);
    EXPECT_EQ(plain, L"still works");
  }
};

TEST_F(WrapperBadInput, EveryKindOfValueInEitherArgument) {
  for (const Value& value : Values()) {
    SCOPED_TRACE(value.name);
    UniqueVariant text, key, cipherText, secondKey, decryptText, decryptKey;
    std::wstring cipher, plain;

    // As the text: encrypted as its text form, which decrypts back.
    HRESULT hr = CallLateBound(kEncrypt, value.make(text), TextValue(key, L"key"), &cipher);
    EXPECT_EQ(hr, value.asText);
    if (SUCCEEDED(hr)) {
      EXPECT_EQ(CallLateBound(kDecrypt, TextValue(cipherText, cipher), TextValue(key, L"key"), &plain), S_OK);
    }

    // As the key: the same value decrypts what it encrypted.
    hr = CallLateBound(kEncrypt, TextValue(text, L"secret"), value.make(key), &cipher);
    EXPECT_EQ(hr, value.asText);
    if (SUCCEEDED(hr)) {
      EXPECT_EQ(CallLateBound(kDecrypt, TextValue(cipherText, cipher), value.make(secondKey), &plain), S_OK);
      EXPECT_EQ(plain, L"secret");
    }

    // As the text to decrypt.
    EXPECT_EQ(CallLateBound(kDecrypt, value.make(decryptText), TextValue(decryptKey, L"key")),
              SUCCEEDED(value.asText) ? kNotCiphertext : value.asText);
    ExpectUsable();
  }
}

TEST_F(WrapperBadInput, WrongArgumentCountsAndNamedArguments) {
  UniqueVariant text, key, out;
  const VARIANT t = TextValue(text, L"secret"), k = TextValue(key, L"key");
  for (DISPID dispid : {kEncrypt, kDecrypt}) {
    EXPECT_EQ(InvokeWith(wrapper_.Get(), dispid, DISPATCH_METHOD, {}, out.Receive()).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(InvokeWith(wrapper_.Get(), dispid, DISPATCH_METHOD, {t}, out.Receive()).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(InvokeWith(wrapper_.Get(), dispid, DISPATCH_METHOD, {t, k, k}, out.Receive()).hr, DISP_E_BADPARAMCOUNT);
  }
  EXPECT_EQ(Fixtures::Get().Created(), 0) << "no stand-in object was made for a refused call";

  ASSERT_EQ(InvokeWith(wrapper_.Get(), kEncrypt, DISPATCH_METHOD, {t, k}, out.Receive()).hr, S_OK);
  const std::wstring positional = TextOf(*out.Get());
  // rgvarg holds the arguments last first; each name is the DISPID of its argument.
  for (const auto& names : {std::vector<DISPID>{1, 0}, std::vector<DISPID>{0, 1}}) {
    const std::vector<VARIANT> args = names[0] == 1 ? std::vector<VARIANT>{t, k} : std::vector<VARIANT>{k, t};
    ASSERT_EQ(InvokeWith(wrapper_.Get(), kEncrypt, DISPATCH_METHOD, args, out.Receive(), names).hr, S_OK);
    EXPECT_EQ(TextOf(*out.Get()), positional) << "named arguments in either order";
  }
  ExpectUsable();
}

// A compiled client's name lookup with null arrays: nothing to look up for a count of 0,
// E_POINTER otherwise, as Corvane.Crypt answers; never a read through the null pointer.
TEST_F(WrapperBadInput, NameLookupsWithNullArrays) {
  DISPID id = 7;
  LPOLESTR name[] = {const_cast<LPOLESTR>(L"TwofishEncrypt")};
  EXPECT_EQ(wrapper_->GetIDsOfNames(IID_NULL, nullptr, 0, LOCALE_USER_DEFAULT, &id), S_OK);
  EXPECT_EQ(id, 7) << "nothing is written for no names";
  EXPECT_EQ(wrapper_->GetIDsOfNames(IID_NULL, nullptr, 1, LOCALE_USER_DEFAULT, &id), E_POINTER);
  EXPECT_EQ(wrapper_->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
  // A null name inside the list is an unknown name, not a read through it.
  LPOLESTR with_null[] = {const_cast<LPOLESTR>(L"TwofishEncrypt"), nullptr};
  DISPID ids[2] = {7, 7};
  EXPECT_EQ(wrapper_->GetIDsOfNames(IID_NULL, with_null, 2, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  LPOLESTR only_null[] = {nullptr};
  EXPECT_EQ(wrapper_->GetIDsOfNames(IID_NULL, only_null, 1, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  ExpectUsable();
}

TEST_F(WrapperBadInput, ArgumentsByValueLeaveNothingBehind) {
  UniqueVariant text, key;
  SetText(text, L"passed by value, as JScript and VBScript literals are");
  SetText(key, L"key");
  AllocationCounter counter;
  const long before = counter.Live();
  for (int i = 0; i < 100; ++i) {
    std::wstring cipher;
    ASSERT_EQ(CallLateBound(kEncrypt, *text.Get(), *key.Get(), &cipher), S_OK);
  }
  EXPECT_EQ(counter.Live(), before) << "every string and array of the calls is freed";
}

TEST_F(WrapperBadInput, A64MiBStringRoundTrips) {
  std::wstring big(32u << 20, L'w');  // 32 Mi characters: a 64 MiB string
  for (std::size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<wchar_t>(0x3000 + i % 512);
  UniqueVariant text, key, cipherText;
  std::wstring cipher, plain;
  ASSERT_EQ(CallLateBound(kEncrypt, TextValue(text, big), TextValue(key, L"key"), &cipher), S_OK);
  ASSERT_EQ(CallLateBound(kDecrypt, TextValue(cipherText, cipher), TextValue(key, L"key"), &plain), S_OK);
  EXPECT_TRUE(plain == big);
  ExpectUsable();
}

}  // namespace
}  // namespace tamsel_test
