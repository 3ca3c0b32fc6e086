// A test base that calls TwofishEncrypt or TwofishDecrypt through the vtable and checks,
// on every call, what must hold whatever the outcome: the arguments are unchanged, a
// failure leaves the result VT_EMPTY, and no stand-in object outlives the call.
#pragma once

#include <gtest/gtest.h>

#include "tests/wrapper/wrapper_test_support.h"

namespace tamsel_test {

class WrapperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fixtures::Get().Reset();
    wrapper_ = NewWrapper();
    ASSERT_TRUE(wrapper_);
  }
  void TearDown() override {
    wrapper_.Reset();
    EXPECT_EQ(Fixtures::Get().Live(), 0);
    TakeErrorInfo();
  }

  HRESULT Call(bool encrypt, VARIANT* text, VARIANT* key, UniqueVariant& out) {
    const std::string text_before = Snapshot(*text);
    const std::string key_before = Snapshot(*key);
    // The result starts as anything: the method must set it, not clear it.
    VARIANT* result = out.Receive();
    V_VT(result) = VT_I4;
    V_I4(result) = 12345;
    const HRESULT hr = encrypt ? wrapper_->TwofishEncrypt(text, key, result) : wrapper_->TwofishDecrypt(text, key, result);
    EXPECT_EQ(Snapshot(*text), text_before) << "iStr changed";
    EXPECT_EQ(Snapshot(*key), key_before) << "iKeyStr changed";
    EXPECT_EQ(V_VT(result), FAILED(hr) ? VT_EMPTY : VT_BSTR);
    EXPECT_EQ(Fixtures::Get().Live(), 0) << "a stand-in object outlived the call";
    return hr;
  }
  HRESULT Encrypt(VARIANT* text, VARIANT* key, UniqueVariant& out) { return Call(true, text, key, out); }
  HRESULT Decrypt(VARIANT* text, VARIANT* key, UniqueVariant& out) { return Call(false, text, key, out); }

  // Text in, text out.
  std::wstring EncryptText(const std::wstring& text, const std::wstring& key) { return Run(true, text, key); }
  std::wstring DecryptText(const std::wstring& text, const std::wstring& key) { return Run(false, text, key); }

  ComPtr<_Wrapper> wrapper_;

 private:
  std::wstring Run(bool encrypt, const std::wstring& text, const std::wstring& key) {
    UniqueVariant t, k, out;
    SetText(t, text);
    SetText(k, key);
    const HRESULT hr = Call(encrypt, t.Get(), k.Get(), out);
    EXPECT_EQ(hr, S_OK) << Narrow(TakeErrorInfo().description);
    return SUCCEEDED(hr) ? TextOf(*out.Get()) : L"<failed>";
  }
};

}  // namespace tamsel_test
