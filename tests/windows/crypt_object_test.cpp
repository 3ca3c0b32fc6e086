// The Crypt object's key and status, through its vtable.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "crypt/standalone_crypt.h"
#include "crypt/status.h"
#include "tests/support/release_recorder.h"
#include "tests/support/variants.h"

namespace corvane {
namespace {

using test::BstrVariant;

class CryptObject : public ::testing::Test {
 protected:
  void SetUp() override { crypt_ = StandaloneCrypt::Create(); }
  void TearDown() override { EXPECT_EQ(crypt_->Release(), 0u); }

  LONG Status() {
    LONG status = 12345;
    EXPECT_EQ(crypt_->IsError(&status), S_OK);
    return status;
  }
  std::string Key() const {
    const unsigned char* key = crypt_->KeyText();
    return key == nullptr ? "<none>" : reinterpret_cast<const char*>(key);
  }
  HRESULT SetKey(const std::wstring& key) {
    BstrVariant v(key);
    return crypt_->SetKey(*v);
  }

  StandaloneCrypt* crypt_ = nullptr;
};

TEST_F(CryptObject, StartsWithStatusZeroAndNoKey) {
  EXPECT_EQ(Status(), STATUS_OK);
  EXPECT_EQ(Status(), STATUS_OK);
  EXPECT_EQ(Key(), "<none>");
}

TEST_F(CryptObject, SetKeyStoresTheKeyText) {
  EXPECT_EQ(SetKey(L"secret"), S_OK);
  EXPECT_EQ(Status(), STATUS_OK);
  EXPECT_EQ(Key(), "secret");
  EXPECT_EQ(crypt_->SetKey(test::MakeI4(12345)), S_OK);
  EXPECT_EQ(Key(), "12345");

  BstrVariant variable(L"from a variable");
  EXPECT_EQ(crypt_->SetKey(test::MakeVariantRef(variable.Get())), S_OK);
  EXPECT_EQ(Key(), "from a variable");
  EXPECT_EQ(Status(), STATUS_OK);
}

TEST_F(CryptObject, AnEmptyKeyIsStoredAsEmptyText) {
  EXPECT_EQ(SetKey(L""), S_OK);
  EXPECT_EQ(Status(), STATUS_OK);
  EXPECT_EQ(Key(), "");
}

TEST_F(CryptObject, AFailedSetKeyDropsAnEarlierKey) {
  ASSERT_EQ(SetKey(L"good key"), S_OK);
  const VARIANT failing[] = {test::MakeNull(), test::MakeVariantRef(nullptr)};
  for (const VARIANT& value : failing) {
    ASSERT_EQ(SetKey(L"good key"), S_OK);
    EXPECT_EQ(crypt_->SetKey(value), S_OK);
    EXPECT_EQ(Status(), STATUS_NO_KEY);
    EXPECT_EQ(Key(), "<none>");
  }
  EXPECT_EQ(SetKey(L"\u0101 is not in code page 1252"), S_OK);
  EXPECT_EQ(Status(), STATUS_NO_KEY);
  EXPECT_EQ(Key(), "<none>");
  EXPECT_EQ(SetKey(L"again"), S_OK);
  EXPECT_EQ(Status(), STATUS_OK);
  EXPECT_EQ(Key(), "again");
}

TEST_F(CryptObject, IsErrorRefusesANullPointer) { EXPECT_EQ(crypt_->IsError(nullptr), E_POINTER); }

TEST(CryptObjectLifetime, ReleasesCleanlyWithAndWithoutAKey) {
  StandaloneCrypt* never = StandaloneCrypt::Create();
  EXPECT_EQ(never->Release(), 0u);
  StandaloneCrypt* failed = StandaloneCrypt::Create();
  failed->SetKey(test::MakeNull());
  EXPECT_EQ(failed->Release(), 0u);
  StandaloneCrypt* keyed = StandaloneCrypt::Create();
  BstrVariant key(L"k");
  keyed->SetKey(*key);
  EXPECT_EQ(keyed->Release(), 0u);
}

TEST(CryptObjectLifetime, AnswersForItsInterfaces) {
  StandaloneCrypt* crypt = StandaloneCrypt::Create();
  void* p = nullptr;
  EXPECT_EQ(crypt->QueryInterface(IID_ICrypt, &p), S_OK);
  EXPECT_EQ(p, static_cast<ICrypt*>(crypt));
  crypt->Release();
  EXPECT_EQ(crypt->QueryInterface(IID_IClassFactory, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(crypt->Release(), 0u);
}

TEST(CryptObjectSecrets, KeyTextIsWipedWhenReplacedDroppedOrDestroyed) {
  const std::wstring key(40, L'k');
  test::ReleaseRecorder recorder;
  StandaloneCrypt* crypt = StandaloneCrypt::Create();
  BstrVariant first(key), second(key + L"2");
  crypt->SetKey(*first);
  recorder.Clear();
  crypt->SetKey(*second);  // replaces the first key
  EXPECT_EQ(recorder.CountAtLeast(40), 1u);
  crypt->SetKey(test::MakeNull());  // a failed SetKey drops the second
  EXPECT_EQ(recorder.CountAtLeast(40), 2u);
  crypt->SetKey(*first);
  crypt->Release();  // destruction releases the third
  EXPECT_EQ(recorder.CountAtLeast(40), 3u);
  EXPECT_TRUE(recorder.AllZero());
}

TEST(CryptObjectSecrets, ACoercedKeyCopyIsWipedToo) {
  test::ReleaseRecorder recorder;
  StandaloneCrypt* crypt = StandaloneCrypt::Create();
  crypt->SetKey(test::MakeI4(123456789));  // coerced into a string of our own first
  crypt->Release();
  EXPECT_GE(recorder.Blocks().size(), 2u);
  EXPECT_TRUE(recorder.AllZero());
}

}  // namespace
}  // namespace corvane
