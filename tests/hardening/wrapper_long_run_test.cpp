// Long runs of both Wrapper methods on one object, and of creating and releasing
// wrappers: private memory and handles stay flat after a warm-up, and no stand-in
// object outlives its call.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "tests/hardening/dispatch_call.h"
#include "tests/hardening/process_usage.h"
#include "tests/wrapper/wrapper_test_support.h"

namespace tamsel_test {
namespace {

// A stand-in object that outlives its call would be a leak too; the stand-ins' journal is
// cleared now and then so that it does not grow with the run.
void ExpectFlat(const char* what, int calls, const std::function<void(int)>& call) {
  corvane::test::ExpectFlat(what, calls, call, [] { Fixtures::Get().Reset(); });
  EXPECT_EQ(Fixtures::Get().Live(), 0) << what;
}

class WrapperLongRun : public ::testing::Test {
 protected:
  void SetUp() override {
    wrapper_ = NewWrapper();
    ASSERT_TRUE(wrapper_);
    SetText(text_, L"a text encrypted again and again");
    SetText(key_, L"long run key");
    ASSERT_EQ(wrapper_->TwofishEncrypt(text_.Get(), key_.Get(), cipher_.Receive()), S_OK);
  }
  void TearDown() override { TakeErrorInfo(); }

  ComPtr<_Wrapper> wrapper_;
  UniqueVariant text_, key_, cipher_;
};

TEST_F(WrapperLongRun, BothMethodsThroughTheVtable) {
  UniqueVariant out;
  ExpectFlat("TwofishEncrypt", 2500, [&](int) { wrapper_->TwofishEncrypt(text_.Get(), key_.Get(), out.Receive()); });
  ExpectFlat("TwofishDecrypt", 2500, [&](int) { wrapper_->TwofishDecrypt(cipher_.Get(), key_.Get(), out.Receive()); });
  EXPECT_EQ(TextOf(*out.Get()), L"a text encrypted again and again");
  UniqueVariant bad;
  SetText(bad, L"not Base64!");
  ExpectFlat("TwofishDecrypt of bad Base64", 2500, [&](int) {
    wrapper_->TwofishDecrypt(bad.Get(), key_.Get(), out.Receive());
    TakeErrorInfo();
  });
}

TEST_F(WrapperLongRun, BothMethodsThroughIDispatch) {
  UniqueVariant out;
  ExpectFlat("TwofishEncrypt, arguments by value", 2500, [&](int) {
    corvane::test::InvokeWith(wrapper_.Get(), 0x60030001, DISPATCH_METHOD, {*text_.Get(), *key_.Get()}, out.Receive());
  });
  ExpectFlat("TwofishDecrypt, by reference", 2500, [&](int) {
    corvane::test::InvokeWith(wrapper_.Get(), 0x60030002, DISPATCH_METHOD,
                              {MakeVariantRef(cipher_.Get()), MakeVariantRef(key_.Get())}, out.Receive());
  });
  EXPECT_EQ(TextOf(*out.Get()), L"a text encrypted again and again");
}

TEST_F(WrapperLongRun, CreatingAndReleasingWrappers) {
  ExpectFlat("create, call and release", 1000, [&](int) {
    ComPtr<_Wrapper> wrapper = NewWrapper();
    UniqueVariant out;
    wrapper->TwofishEncrypt(text_.Get(), key_.Get(), out.Receive());
  });
}

}  // namespace
}  // namespace tamsel_test
