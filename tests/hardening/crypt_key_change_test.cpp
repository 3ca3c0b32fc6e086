// A client whose argument changes the key while the call converts it: the argument is an
// object whose default value (DISPID_VALUE, read by the conversion to text) first calls
// SetKey on the same Crypt object. Every operation works under the key it started with,
// from start to end; the new key holds from the next call on.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "common/com_holders.h"
#include "crypt/status.h"
#include "tests/hardening/dispatch_call.h"
#include "tests/server/corvane_module.h"
#include "tests/support/default_value_object.h"
#include "tests/support/temp_dir.h"
#include "tests/support/variants.h"

namespace corvane {
namespace {

using test::BstrVariant;
using test::CorvaneModule;
using Bytes = std::vector<unsigned char>;

// An object whose default value is `text`; reading it first gives `crypt` the key
// `newKey` (VT_NULL: a SetKey that fails and leaves no key).
class KeyChangingValue final : public test::DefaultValueObject {
 public:
  KeyChangingValue(ICrypt* crypt, const VARIANT& newKey, const std::wstring& text)
      : DefaultValueObject(text), crypt_(crypt) {
    VariantCopy(newKey_.Get(), const_cast<VARIANT*>(&newKey));
  }

 private:
  void OnRead() override { crypt_->SetKey(*newKey_.Get()); }

  ICrypt* crypt_;
  UniqueVariant newKey_;
};

ComPtr<ICrypt> KeyedCrypt(const VARIANT& key) {
  ComPtr<ICrypt> crypt(CorvaneModule::Get().NewCrypt());
  if (crypt) crypt->SetKey(key);
  return crypt;
}

LONG StatusOf(ICrypt* crypt) {
  LONG status = 1;
  crypt->IsError(&status);
  return status;
}

std::wstring EncryptedText(const VARIANT& key, const std::wstring& text) {
  ComPtr<ICrypt> crypt = KeyedCrypt(key);
  BstrVariant in(text);
  UniqueVariant out;
  crypt->enCrypt(*in, out.Receive());
  return V_VT(out.Get()) == VT_BSTR ? test::FromBstr(V_BSTR(out.Get())) : L"<no text>";
}

struct KeyChange {
  const char* name;
  std::wstring oldKey;
  bool newKeyIsNull;  // the SetKey inside the conversion fails: no key afterwards
  std::wstring newKey;
};

const KeyChange kChanges[] = {
    {"a shorter key", L"ab", false, L"z"},
    {"a much shorter key after a long one", std::wstring(100, L'k') + L"tail", false, L"z"},
    {"a longer key", L"ab", false, L"a new key that is a good deal longer than the old one"},
    {"no key (a SetKey that fails)", L"old key", true, L""},
};

class CryptKeyChange : public ::testing::TestWithParam<bool> {  // true: late-bound
 protected:
  static void SetText(UniqueVariant& v, const std::wstring& text) {
    V_VT(v.Receive()) = VT_BSTR;
    V_BSTR(v.Get()) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  static void SetNewKey(UniqueVariant& v, const KeyChange& c) {
    if (c.newKeyIsNull) {
      V_VT(v.Receive()) = VT_NULL;
    } else {
      SetText(v, c.newKey);
    }
  }
  // Calls method dispid with the one argument, through the vtable or IDispatch.
  void Call(ICrypt* crypt, DISPID dispid, VARIANT argument, VARIANT* out) {
    if (GetParam()) {
      test::InvokeWith(crypt, dispid, DISPATCH_METHOD, {argument}, out);
      return;
    }
    switch (dispid) {
      case 3: crypt->enCrypt(argument, out); break;
      case 4: crypt->deCrypt(argument, out); break;
      case 5: crypt->FileEnCrypt(argument); break;
      case 6: crypt->FileDeCrypt(argument); break;
    }
  }
  // After the call the object holds the new key (or none).
  void ExpectNewKeyHeld(ICrypt* crypt, const KeyChange& c) {
    BstrVariant probe(L"probe");
    UniqueVariant out;
    crypt->enCrypt(*probe, out.Receive());
    if (c.newKeyIsNull) {
      EXPECT_EQ(StatusOf(crypt), STATUS_NO_KEY);
    } else {
      ASSERT_EQ(V_VT(out.Get()), VT_BSTR);
      UniqueVariant newKey;
      SetText(newKey, c.newKey);
      EXPECT_EQ(test::FromBstr(V_BSTR(out.Get())), EncryptedText(*newKey.Get(), L"probe"));
    }
  }

  test::ComApartment apartment_;
};

TEST_P(CryptKeyChange, StringOperationsKeepTheKeyTheyStartedWith) {
  const std::wstring text = L"the text of the message, three blocks";
  for (const KeyChange& c : kChanges) {
    SCOPED_TRACE(c.name);
    UniqueVariant oldKey, newKey;
    SetText(oldKey, c.oldKey);
    SetNewKey(newKey, c);
    const std::wstring expected = EncryptedText(*oldKey.Get(), text);

    ComPtr<ICrypt> crypt = KeyedCrypt(*oldKey.Get());
    ASSERT_TRUE(crypt);
    {
      KeyChangingValue value(crypt.Get(), *newKey.Get(), text);
      UniqueVariant out;
      Call(crypt.Get(), 3, value.AsArgument(), out.Receive());
      EXPECT_EQ(value.Reads(), 1);
      EXPECT_EQ(StatusOf(crypt.Get()), STATUS_OK);
      ASSERT_EQ(V_VT(out.Get()), VT_BSTR);
      EXPECT_EQ(test::FromBstr(V_BSTR(out.Get())), expected) << "enCrypt under the old key";
      EXPECT_EQ(value.References(), 1);
    }
    ExpectNewKeyHeld(crypt.Get(), c);

    crypt->SetKey(*oldKey.Get());
    {
      KeyChangingValue value(crypt.Get(), *newKey.Get(), expected);
      UniqueVariant out;
      Call(crypt.Get(), 4, value.AsArgument(), out.Receive());
      EXPECT_EQ(value.Reads(), 1);
      EXPECT_EQ(StatusOf(crypt.Get()), STATUS_OK);
      ASSERT_EQ(V_VT(out.Get()), VT_BSTR);
      EXPECT_EQ(test::FromBstr(V_BSTR(out.Get())), text) << "deCrypt under the old key";
    }
    ExpectNewKeyHeld(crypt.Get(), c);
  }
}

TEST_P(CryptKeyChange, FileOperationsKeepTheKeyTheyStartedWith) {
  test::TempDir dir;
  const std::wstring plain = dir.Path().wstring() + L"\\plain.txt";
  const Bytes content(100, 'p');
  for (const KeyChange& c : kChanges) {
    SCOPED_TRACE(c.name);
    test::WriteFileBytes(plain, content);
    UniqueVariant oldKey, newKey;
    SetText(oldKey, c.oldKey);
    SetNewKey(newKey, c);
    ComPtr<ICrypt> reference = KeyedCrypt(*oldKey.Get());
    BstrVariant plainPath(plain);
    reference->FileEnCrypt(*plainPath);
    ASSERT_EQ(StatusOf(reference.Get()), STATUS_OK);
    const Bytes expected = test::ReadFileBytes(plain + L".bf");
    ASSERT_EQ(expected.size(), 4u + 104u);
    std::filesystem::remove(plain + L".bf");

    ComPtr<ICrypt> crypt = KeyedCrypt(*oldKey.Get());
    {
      KeyChangingValue value(crypt.Get(), *newKey.Get(), plain);
      Call(crypt.Get(), 5, value.AsArgument(), nullptr);
      EXPECT_EQ(value.Reads(), 1);
      EXPECT_EQ(StatusOf(crypt.Get()), STATUS_OK);
      EXPECT_EQ(test::ReadFileBytes(plain + L".bf"), expected) << "FileEnCrypt under the old key";
    }
    ExpectNewKeyHeld(crypt.Get(), c);

    crypt->SetKey(*oldKey.Get());
    {
      KeyChangingValue value(crypt.Get(), *newKey.Get(), plain + L".bf");
      Call(crypt.Get(), 6, value.AsArgument(), nullptr);
      EXPECT_EQ(value.Reads(), 1);
      EXPECT_EQ(StatusOf(crypt.Get()), STATUS_OK);
      EXPECT_EQ(test::ReadFileBytes(plain + L".bf.bf"), content) << "FileDeCrypt under the old key";
    }
    ExpectNewKeyHeld(crypt.Get(), c);
    std::filesystem::remove(plain + L".bf");
    std::filesystem::remove(plain + L".bf.bf");
  }
}

// An object whose default value is `text`; reading it first releases the client's only
// reference to `crypt`, as a script that drops its last variable for the object inside a
// default property does. The object must stay alive until the call that is converting
// the argument has returned: it still writes its status and reads its settings.
class ReleasingValue final : public test::DefaultValueObject {
 public:
  ReleasingValue(ICrypt* crypt, const std::wstring& text) : DefaultValueObject(text), crypt_(crypt) {}
  bool Released() const { return crypt_ == nullptr; }
  LONG LeftAfterRelease() const { return leftAfterRelease_; }
  bool UnloadableDuringCall() const { return unloadableDuringCall_; }

 private:
  void OnRead() override {
    if (crypt_ == nullptr) return;
    leftAfterRelease_ = static_cast<LONG>(std::exchange(crypt_, nullptr)->Release());
    unloadableDuringCall_ = CorvaneModule::Get().DllCanUnloadNow() == S_OK;
  }

  ICrypt* crypt_;
  LONG leftAfterRelease_ = -1;
  bool unloadableDuringCall_ = true;
};

class CryptReleasedDuringCall : public ::testing::TestWithParam<bool> {  // true: late-bound
 protected:
  test::ComApartment apartment_;
};

TEST_P(CryptReleasedDuringCall, TheObjectOutlivesTheCallThatConvertsItsArgument) {
  test::TempDir dir;
  const std::wstring plain = dir.Path().wstring() + L"\\plain.txt";
  test::WriteFileBytes(plain, Bytes(40, 'p'));
  const struct {
    const char* name;
    DISPID dispid;
    std::wstring argument;
  } kCalls[] = {
      {"SetKey", 1, L"a key"},
      {"enCrypt", 3, L"a text"},
      {"deCrypt", 4, L"BabcR7BJSc/uwpdNtHZBAg=="},
      {"FileEnCrypt", 5, plain},
      {"FileDeCrypt", 6, plain + L".bf"},
  };
  ASSERT_EQ(CorvaneModule::Get().DllCanUnloadNow(), S_OK) << "no other object of the DLL may be alive";
  for (const auto& c : kCalls) {
    SCOPED_TRACE(c.name);
    BstrVariant key(L"TESTKEY");
    ICrypt* crypt = KeyedCrypt(*key).Detach();  // the client's only reference, given up in the call
    ASSERT_NE(crypt, nullptr);
    ReleasingValue value(crypt, c.argument);
    UniqueVariant out;
    VARIANT* result = c.dispid == 3 || c.dispid == 4 ? out.Receive() : nullptr;
    if (GetParam()) {
      test::InvokeWith(crypt, c.dispid, DISPATCH_METHOD, {value.AsArgument()}, result);
    } else {
      switch (c.dispid) {
        case 1: crypt->SetKey(value.AsArgument()); break;
        case 3: crypt->enCrypt(value.AsArgument(), result); break;
        case 4: crypt->deCrypt(value.AsArgument(), result); break;
        case 5: crypt->FileEnCrypt(value.AsArgument()); break;
        case 6: crypt->FileDeCrypt(value.AsArgument()); break;
      }
    }
    ASSERT_TRUE(value.Released());
    EXPECT_GT(value.LeftAfterRelease(), 0) << "the object was destroyed while its method still ran";
    EXPECT_FALSE(value.UnloadableDuringCall()) << "the DLL could be unloaded under the running method";
    EXPECT_EQ(CorvaneModule::Get().DllCanUnloadNow(), S_OK) << "the object is gone once the call returns";
  }
}

INSTANTIATE_TEST_SUITE_P(ThroughTheVtableAndLateBound, CryptReleasedDuringCall, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "LateBound" : "Vtable";
                         });

INSTANTIATE_TEST_SUITE_P(ThroughTheVtableAndLateBound, CryptKeyChange, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "LateBound" : "Vtable";
                         });

}  // namespace
}  // namespace corvane
