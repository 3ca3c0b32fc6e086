// Long runs of every ICrypt method on one object, and of creating and releasing objects:
// private memory and handles stay flat after a warm-up. A control run with a deliberate
// 16-byte leak per call proves that the measurement would see one.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/com_holders.h"
#include "crypt/status.h"
#include "tests/hardening/process_usage.h"
#include "tests/server/corvane_module.h"
#include "tests/support/temp_dir.h"
#include "tests/support/variants.h"

namespace corvane {
namespace {

class CryptLongRun : public ::testing::Test {
 protected:
  void SetUp() override {
    crypt_.Reset(test::CorvaneModule::Get().NewCrypt());
    ASSERT_TRUE(crypt_);
    crypt_->SetKey(*key_);
  }
  LONG Status() {
    LONG status = 1;
    crypt_->IsError(&status);
    return status;
  }

  test::ComApartment apartment_;
  ComPtr<ICrypt> crypt_;
  test::BstrVariant key_{L"long run key"};
};

TEST_F(CryptLongRun, TheMeasurementSeesA16ByteLeakPerCall) {
  std::vector<void*> leaked;
  leaked.reserve(120000);
  const test::Growth growth = test::MeasureGrowth(100000, [&](int) { leaked.push_back(std::malloc(16)); });
  for (void* p : leaked) std::free(p);
  EXPECT_GE(growth.bytes, 100000 * 16LL / 2);

  std::vector<HANDLE> handles;
  const test::Growth handleGrowth =
      test::MeasureGrowth(100, [&](int) { handles.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr)); });
  for (HANDLE h : handles) CloseHandle(h);
  EXPECT_GE(handleGrowth.handles, 100);
}

TEST_F(CryptLongRun, KeyStatusAndStringMethods) {
  test::BstrVariant text(L"a text of some length, encrypted again and again");
  test::BstrVariant other(L"another key");
  test::ExpectFlat("SetKey", 100000, [&](int i) { crypt_->SetKey(i % 2 ? *key_ : *other); });
  crypt_->SetKey(*key_);
  test::ExpectFlat("IsError", 100000, [&](int) { Status(); });
  UniqueVariant cipher;
  test::ExpectFlat("enCrypt", 100000, [&](int) { crypt_->enCrypt(*text, cipher.Receive()); });
  ASSERT_EQ(Status(), STATUS_OK);
  UniqueVariant plain;
  test::ExpectFlat("deCrypt", 100000, [&](int) { crypt_->deCrypt(*cipher.Get(), plain.Receive()); });
  EXPECT_EQ(test::FromBstr(V_BSTR(plain.Get())), L"a text of some length, encrypted again and again");
  test::BstrVariant bad(L"not base64");
  test::ExpectFlat("deCrypt of bad Base64", 100000, [&](int) { crypt_->deCrypt(*bad, plain.Receive()); });
  EXPECT_EQ(Status(), STATUS_BAD_BASE64);
}

TEST_F(CryptLongRun, FileMethods) {
  test::TempDir dir;
  test::WriteFileBytes(dir.Path() / "data.txt", std::vector<unsigned char>(1000, 'd'));
  test::BstrVariant plainPath((dir.Path() / "data.txt").wstring());
  test::BstrVariant cipherPath((dir.Path() / "data.txt.bf").wstring());
  test::BstrVariant missing((dir.Path() / "missing").wstring());
  test::ExpectFlat("FileEnCrypt", 4000, [&](int) { crypt_->FileEnCrypt(*plainPath); });
  ASSERT_EQ(Status(), STATUS_OK);
  test::ExpectFlat("FileDeCrypt", 4000, [&](int) { crypt_->FileDeCrypt(*cipherPath); });
  ASSERT_EQ(Status(), STATUS_OK);
  test::ExpectFlat("FileDeCrypt of a missing file", 4000, [&](int) { crypt_->FileDeCrypt(*missing); });
  EXPECT_EQ(Status(), STATUS_CANNOT_OPEN_INPUT);
  EXPECT_EQ(test::ReadFileBytes(dir.Path() / "data.txt.bf.bf"), std::vector<unsigned char>(1000, 'd'));
}

TEST_F(CryptLongRun, DispatchCalls) {
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(crypt_->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid()), S_OK);
  test::BstrVariant text(L"through IDispatch");
  test::ExpectFlat("GetIDsOfNames + Invoke", 100000, [&](int) {
    LPOLESTR name = const_cast<LPOLESTR>(L"enCrypt");
    DISPID dispid = 0;
    dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid);
    DISPPARAMS params = {text.Get(), nullptr, 1, 0};
    UniqueVariant result;
    dispatch->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Receive(), nullptr,
                     nullptr);
  });
  EXPECT_EQ(Status(), STATUS_OK);
}

TEST_F(CryptLongRun, CreatingAndReleasingObjects) {
  const test::CorvaneModule& dll = test::CorvaneModule::Get();
  test::ExpectFlat("class factory instances", 10000, [&](int) {
    ComPtr<ICrypt> crypt(dll.NewCrypt());
    crypt->SetKey(*key_);
  });
  test::ExpectFlat("CoCreateInstance by class", 10000, [&](int) {
    ComPtr<ICrypt> crypt;
    CoCreateInstance(CLSID_Crypt, nullptr, CLSCTX_INPROC_SERVER, IID_ICrypt, crypt.ReceiveVoid());
  });
  crypt_.Reset();
  EXPECT_EQ(dll.DllCanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace corvane
