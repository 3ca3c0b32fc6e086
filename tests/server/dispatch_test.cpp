// IDispatch of ICrypt, served from the registered type library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/com_holders.h"
#include "tests/server/corvane_module.h"
#include "tests/support/variants.h"

namespace corvane {
namespace {

using test::CorvaneModule;

class CryptDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    crypt_.Reset(CorvaneModule::Get().NewCrypt());
    ASSERT_TRUE(crypt_);
  }

  // DISPIDs for a list of names, or the failure.
  HRESULT Ids(std::vector<std::wstring> names, std::vector<DISPID>* ids) {
    std::vector<LPOLESTR> pointers;
    for (auto& n : names) pointers.push_back(n.data());
    ids->assign(names.size(), -12345);
    return crypt_->GetIDsOfNames(IID_NULL, pointers.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT,
                                 ids->data());
  }

  // Calls a member with arguments given in reading order.
  HRESULT Call(DISPID dispid, WORD flags, std::vector<VARIANT> args, VARIANT* result) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO exception = {};
    UINT argumentError = 0;
    return crypt_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception, &argumentError);
  }

  test::ComApartment apartment_;
  ComPtr<ICrypt> crypt_;
};

TEST_F(CryptDispatch, OneTypeInfoWhateverTheIndex) {
  UINT count = 0;
  EXPECT_EQ(crypt_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(crypt_->GetTypeInfoCount(nullptr), E_POINTER);

  ComPtr<ITypeInfo> first, fifth;
  ASSERT_EQ(crypt_->GetTypeInfo(0, LOCALE_USER_DEFAULT, first.Receive()), S_OK);
  const ULONG before = (first->AddRef(), first->Release());
  ASSERT_EQ(crypt_->GetTypeInfo(5, LOCALE_USER_DEFAULT, fifth.Receive()), S_OK);
  EXPECT_EQ(first.Get(), fifth.Get());
  EXPECT_EQ((first->AddRef(), first->Release()), before + 1) << "each call adds a reference";
  EXPECT_EQ(crypt_->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr), E_POINTER);

  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(first->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_ICrypt));
  first->ReleaseTypeAttr(attributes);
}

TEST_F(CryptDispatch, NamesResolveExactlyAndInOtherLetterCase) {
  const std::pair<const wchar_t*, DISPID> members[] = {{L"SetKey", 1},      {L"IsError", 2},     {L"enCrypt", 3},
                                                       {L"deCrypt", 4},     {L"FileEnCrypt", 5}, {L"FileDeCrypt", 6},
                                                       {L"setkey", 1},      {L"ENCRYPT", 3},     {L"filedecrypt", 6}};
  for (const auto& [name, dispid] : members) {
    std::vector<DISPID> ids;
    EXPECT_EQ(Ids({name}, &ids), S_OK) << name;
    EXPECT_EQ(ids[0], dispid) << name;
  }
}

TEST_F(CryptDispatch, ParameterNamesFollowTheirMember) {
  std::vector<DISPID> ids;
  ASSERT_EQ(Ids({L"enCrypt", L"vin"}, &ids), S_OK);
  EXPECT_EQ(ids[0], 3);
  EXPECT_EQ(ids[1], 0) << "vin is the first parameter";
}

TEST_F(CryptDispatch, UnknownNamesAndEmptyLists) {
  std::vector<DISPID> ids;
  EXPECT_EQ(Ids({L"Encipher"}, &ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(Ids({L"SetKey", L"nosuchparameter"}, &ids), DISP_E_UNKNOWNNAME);
  DISPID untouched = -7;
  LPOLESTR name = const_cast<LPOLESTR>(L"SetKey");
  EXPECT_EQ(crypt_->GetIDsOfNames(IID_NULL, &name, 0, LOCALE_USER_DEFAULT, &untouched), S_OK);
  EXPECT_EQ(untouched, -7);
  LPOLESTR missing = nullptr;
  EXPECT_EQ(crypt_->GetIDsOfNames(IID_NULL, &missing, 1, LOCALE_USER_DEFAULT, &untouched), DISP_E_UNKNOWNNAME);
}

TEST_F(CryptDispatch, IsErrorAnswersAsMethodAndAsPropertyGet) {
  UniqueVariant result;
  ASSERT_EQ(Call(3, DISPATCH_METHOD, {test::MakeI4(1)}, result.Receive()), S_OK);  // enCrypt without a key
  for (WORD flags : {WORD{DISPATCH_METHOD}, WORD{DISPATCH_METHOD | DISPATCH_PROPERTYGET}}) {
    ASSERT_EQ(Call(2, flags, {}, result.Receive()), S_OK) << flags;
    EXPECT_EQ(V_VT(result.Get()), VT_I4);
    EXPECT_EQ(V_I4(result.Get()), -200);
  }
}

TEST_F(CryptDispatch, EveryMethodThroughInvoke) {
  test::BstrVariant key(L"TESTKEY"), text(L"sixteen bytes!!!");
  UniqueVariant result;
  // A variable passed by reference, as VBScript passes it.
  ASSERT_EQ(Call(1, DISPATCH_METHOD, {test::MakeVariantRef(key.Get())}, result.Receive()), S_OK);
  ASSERT_EQ(Call(3, DISPATCH_METHOD, {*text}, result.Receive()), S_OK);
  ASSERT_EQ(V_VT(result.Get()), VT_BSTR);
  EXPECT_EQ(test::FromBstr(V_BSTR(result.Get())), L"BabcR7BJSc/uwpdNtHZBAg==");

  UniqueVariant plain;
  ASSERT_EQ(Call(4, DISPATCH_METHOD, {*result.Get()}, plain.Receive()), S_OK);
  EXPECT_EQ(test::FromBstr(V_BSTR(plain.Get())), L"sixteen bytes!!!");

  test::BstrVariant missing(L"Z:\\no\\such\\file.txt");
  ASSERT_EQ(Call(5, DISPATCH_METHOD, {*missing}, nullptr), S_OK);
  ASSERT_EQ(Call(2, DISPATCH_METHOD, {}, result.Receive()), S_OK);
  EXPECT_EQ(V_I4(result.Get()), -104);
  ASSERT_EQ(Call(6, DISPATCH_METHOD, {*missing}, nullptr), S_OK);
  ASSERT_EQ(Call(2, DISPATCH_METHOD, {}, result.Receive()), S_OK);
  EXPECT_EQ(V_I4(result.Get()), -104);
}

TEST_F(CryptDispatch, BadCallsAreRefusedByTheDispatcher) {
  UniqueVariant result;
  EXPECT_EQ(Call(3, DISPATCH_METHOD, {}, result.Receive()), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(99, DISPATCH_METHOD, {}, result.Receive()), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(crypt_->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, nullptr, result.Receive(), nullptr, nullptr),
            E_INVALIDARG);
}

// An argument list whose counts promise arrays it does not have is refused before the
// dispatcher reads through the null pointers, as Tamsel.Wrapper refuses it.
TEST_F(CryptDispatch, ArgumentListsWithNullArraysAreRefused) {
  UniqueVariant result, text;
  V_VT(text.Get()) = VT_BSTR;
  V_BSTR(text.Get()) = SysAllocString(L"text");
  DISPPARAMS namedWithoutNames = {text.Get(), nullptr, 1, 1};
  EXPECT_EQ(crypt_->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &namedWithoutNames, result.Receive(), nullptr, nullptr),
            E_INVALIDARG);
  DISPPARAMS argumentsWithoutValues = {nullptr, nullptr, 1, 0};
  EXPECT_EQ(crypt_->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &argumentsWithoutValues, result.Receive(), nullptr,
                           nullptr),
            E_INVALIDARG);
  ASSERT_EQ(Call(2, DISPATCH_METHOD, {}, result.Receive()), S_OK);
}

}  // namespace
}  // namespace corvane
