// TwofishEncrypt and TwofishDecrypt through the vtable, against the stand-in components:
// round trips, the exact calls made on the components, and how arguments and results of
// each kind are taken.
#include <gtest/gtest.h>

#include "tests/fixtures/base64.h"
#include "tests/wrapper/wrapper_call_helper.h"

namespace tamsel_test {
namespace {

using WrapperCalls = WrapperTest;

std::string HexOfBase64(const std::string& base64) {
  tamsel_fixture::Bytes bytes;
  EXPECT_TRUE(tamsel_fixture::DecodeBase64(base64, bytes));
  return ToHex(bytes);
}

std::wstring LongText() {
  std::wstring text;
  for (int i = 0; i < 100000; ++i) text += static_cast<wchar_t>(L' ' + i % 90);
  return text;
}

TEST_F(WrapperCalls, RoundTripsTextsOfEveryKindUnderKeysOfEveryKind) {
  const std::wstring texts[] = {L"",
                                L"A",
                                L"hello, world",
                                L"Gr\u00FC\u00DFe \u65E5\u672C\u8A9E \U0001F600",
                                std::wstring(L"a\0b\0\0c", 6),
                                std::wstring(1, L'\0'),
                                LongText()};
  const std::wstring keys[] = {L"", L"k", L"0123456789abcdef", L"\u00E9t\u00E9 \u9375"};
  for (const std::wstring& key : keys) {
    for (const std::wstring& text : texts) {
      SCOPED_TRACE("key " + Narrow(key) + ", text of " + std::to_string(text.size()) + " characters");
      const std::wstring encrypted = EncryptText(text, key);
      // Exactly the stand-in cipher's output for the text's UTF-16 bytes, Base64-encoded.
      EXPECT_EQ(Narrow(encrypted), ExpectedCiphertext(text, key));
      const std::wstring decrypted = DecryptText(encrypted, key);
      EXPECT_EQ(decrypted.size(), text.size());
      EXPECT_TRUE(decrypted == text);
    }
  }
}

TEST_F(WrapperCalls, EncryptionMakesExactlyTheseCallsInThisOrder) {
  EXPECT_EQ(Narrow(EncryptText(L"AB", L"k")), ExpectedCiphertext(L"AB", L"k"));
  const std::vector<std::string> journal = Fixtures::Get().Journal();
  ASSERT_EQ(journal.size(), 7u) << ::testing::PrintToString(journal);
  EXPECT_EQ(journal[0], "Ostrel.Base64Func created");
  EXPECT_EQ(journal[1], "Tamsel.clsTwofish created");
  // The key: a property put, its one argument named DISPID_PROPERTYPUT, the array by value.
  EXPECT_EQ(journal[2], "Tamsel.clsTwofish.bkey flags=0x4 args=1 named=-3 arg=0x2011 bytes=6B00");
  // The data: a method or property get with the array by reference.
  EXPECT_EQ(journal[3], "Tamsel.clsTwofish.bEncrypt flags=0x3 args=1 named= arg=0x6011 bytes=41004200");
  EXPECT_EQ(journal[4], "Tamsel.clsTwofish destroyed");
  // Exactly the cipher's output goes to enBase64Bin, by reference.
  EXPECT_EQ(journal[5], "Ostrel.Base64Func.enBase64Bin flags=0x3 args=1 named= arg=0x6011 bytes=" +
                            HexOfBase64(ExpectedCiphertext(L"AB", L"k")));
  EXPECT_EQ(journal[6], "Ostrel.Base64Func destroyed");
  EXPECT_EQ(Fixtures::Get().Created(), 2);
}

TEST_F(WrapperCalls, DecryptionMakesExactlyTheseCallsInThisOrder) {
  const std::wstring encrypted = EncryptText(L"AB", L"k");
  Fixtures::Get().Reset();
  EXPECT_EQ(DecryptText(encrypted, L"k"), L"AB");
  const std::vector<std::string> journal = Fixtures::Get().Journal();
  ASSERT_EQ(journal.size(), 7u) << ::testing::PrintToString(journal);
  EXPECT_EQ(journal[0], "Ostrel.Base64Func created");
  // The Base64 text by reference to the wrapper's own copy.
  EXPECT_EQ(journal[1], "Ostrel.Base64Func.deBase64Bin flags=0x3 args=1 named= arg=0x4008 text=" + Narrow(encrypted));
  EXPECT_EQ(journal[2], "Tamsel.clsTwofish created");
  EXPECT_EQ(journal[3], "Tamsel.clsTwofish.bkey flags=0x4 args=1 named=-3 arg=0x2011 bytes=6B00");
  EXPECT_EQ(journal[4].substr(0, journal[4].find(" bytes=")), "Tamsel.clsTwofish.bDecrypt flags=0x3 args=1 named= arg=0x6011");
  EXPECT_EQ(journal[5], "Tamsel.clsTwofish destroyed");
  EXPECT_EQ(journal[6], "Ostrel.Base64Func destroyed");
}

TEST_F(WrapperCalls, KeyTextOfNCharactersGivesTwoNKeyBytes) {
  const struct {
    std::wstring key;
    std::string bytes;
  } cases[] = {{L"", ""},
               {L"0123456789abcdef", "3000310032003300340035003600370038003900610062006300640065006600"},
               {L"\u00E9\u9375", "E9007593"}};
  for (const auto& c : cases) {
    Fixtures::Get().Reset();
    EncryptText(L"x", c.key);
    EXPECT_EQ(c.bytes.size(), 4 * c.key.size());
    EXPECT_EQ(Fixtures::Get().Journal().at(2), "Tamsel.clsTwofish.bkey flags=0x4 args=1 named=-3 arg=0x2011 bytes=" + c.bytes);
  }
}

TEST_F(WrapperCalls, NumbersEmptyAndOtherValuesAreEncryptedAsTheirText) {
  const std::wstring key = L"key";
  UniqueVariant k;
  SetText(k, key);
  struct Case {
    VARIANT value;
    std::wstring text;
  };
  VARIANT number;
  VariantInit(&number);
  V_VT(&number) = VT_I4;
  V_I4(&number) = -12345;
  VARIANT empty;
  VariantInit(&empty);
  VARIANT boolean;
  VariantInit(&boolean);
  V_VT(&boolean) = VT_BOOL;
  V_BOOL(&boolean) = VARIANT_TRUE;
  VARIANT real;
  VariantInit(&real);
  V_VT(&real) = VT_R8;
  V_R8(&real) = 2.5;
  // The standard coercion (no VARIANT_ALPHABOOL): True is "-1".
  for (Case c : {Case{number, L"-12345"}, Case{empty, L""}, Case{boolean, L"-1"}, Case{real, L"2.5"}}) {
    UniqueVariant out;
    ASSERT_EQ(Encrypt(&c.value, k.Get(), out), S_OK);
    EXPECT_EQ(Narrow(TextOf(*out.Get())), ExpectedCiphertext(c.text, key)) << Narrow(c.text);
  }
  // The key is coerced the same way.
  UniqueVariant t, out;
  SetText(t, L"data");
  ASSERT_EQ(Encrypt(t.Get(), &number, out), S_OK);
  EXPECT_EQ(Narrow(TextOf(*out.Get())), ExpectedCiphertext(L"data", L"-12345"));
}

TEST_F(WrapperCalls, ReferencesAreFollowedAsScriptHostsPassVariables) {
  UniqueVariant text, key;
  SetText(text, L"by reference");
  SetText(key, L"key");
  BSTR text_bstr = V_BSTR(text.Get());
  LONG number = 77;
  VARIANT text_ref = MakeVariantRef(text.Get());
  VARIANT key_ref = MakeVariantRef(key.Get());
  VARIANT bstr_ref;
  VariantInit(&bstr_ref);
  V_VT(&bstr_ref) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&bstr_ref) = &text_bstr;
  VARIANT number_ref;
  VariantInit(&number_ref);
  V_VT(&number_ref) = VT_BYREF | VT_I4;
  V_I4REF(&number_ref) = &number;
  VARIANT ref_to_ref = MakeVariantRef(&text_ref);

  const struct {
    VARIANT* text;
    VARIANT* key;
    std::wstring expected_text;
  } cases[] = {{&text_ref, &key_ref, L"by reference"},
               {&bstr_ref, key.Get(), L"by reference"},
               {&number_ref, &key_ref, L"77"},
               {&ref_to_ref, &key_ref, L"by reference"}};
  for (const auto& c : cases) {
    UniqueVariant out;
    ASSERT_EQ(Encrypt(c.text, c.key, out), S_OK);
    const std::wstring encrypted = TextOf(*out.Get());
    EXPECT_EQ(Narrow(encrypted), ExpectedCiphertext(c.expected_text, L"key"));
    UniqueVariant base64, back;
    SetText(base64, encrypted);
    VARIANT base64_ref = MakeVariantRef(base64.Get());
    ASSERT_EQ(Decrypt(&base64_ref, c.key, back), S_OK);
    EXPECT_EQ(TextOf(*back.Get()), c.expected_text);
  }
}

TEST_F(WrapperCalls, ByteArrayArgumentsAreTakenAsTheStringOfTheirBytes) {
  UniqueVariant key;
  SetText(key, L"key");
  const struct {
    Bytes bytes;
    std::string sent;  // what bEncrypt receives
  } cases[] = {{{0x41, 0x00, 0x42, 0x00}, "41004200"}, {{0x41, 0x00, 0x42}, "410042"}, {{}, ""}, {{0xFF}, "FF"}};
  for (const auto& c : cases) {
    for (bool by_reference : {false, true}) {
      UniqueVariant bytes, out;
      SetBytes(bytes, c.bytes);
      VARIANT array_ref;
      VariantInit(&array_ref);
      V_VT(&array_ref) = VT_BYREF | VT_ARRAY | VT_UI1;
      V_ARRAYREF(&array_ref) = &V_ARRAY(bytes.Get());
      Fixtures::Get().Reset();
      ASSERT_EQ(Encrypt(by_reference ? &array_ref : bytes.Get(), key.Get(), out), S_OK);
      EXPECT_EQ(Fixtures::Get().Journal().at(3), "Tamsel.clsTwofish.bEncrypt flags=0x3 args=1 named= arg=0x6011 bytes=" + c.sent);
    }
  }
  // A Visual Basic Byte array never dimensioned (no array at all) is the empty string.
  VARIANT undimensioned;
  VariantInit(&undimensioned);
  V_VT(&undimensioned) = VT_ARRAY | VT_UI1;
  UniqueVariant out;
  ASSERT_EQ(Encrypt(&undimensioned, key.Get(), out), S_OK);
  EXPECT_EQ(Narrow(TextOf(*out.Get())), ExpectedCiphertext(L"", L"key"));
  // The key may be a byte array too.
  UniqueVariant key_bytes, text;
  SetBytes(key_bytes, {0x6B, 0x00, 0x65, 0x00, 0x79, 0x00});
  SetText(text, L"data");
  ASSERT_EQ(Encrypt(text.Get(), key_bytes.Get(), out), S_OK);
  EXPECT_EQ(Narrow(TextOf(*out.Get())), ExpectedCiphertext(L"data", L"key"));
}

TEST_F(WrapperCalls, DecryptedOddByteCountsKeepTheTrailingHalfCharacter) {
  UniqueVariant bytes, key, encrypted, decrypted;
  SetBytes(bytes, {0x41, 0x00, 0x42});
  SetText(key, L"key");
  ASSERT_EQ(Encrypt(bytes.Get(), key.Get(), encrypted), S_OK);
  ASSERT_EQ(Decrypt(encrypted.Get(), key.Get(), decrypted), S_OK);
  BSTR text = V_BSTR(decrypted.Get());
  EXPECT_EQ(SysStringByteLen(text), 3u);
  EXPECT_EQ(SysStringLen(text), 1u);
  EXPECT_EQ(text[0], L'A');
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(text)[2], 0x42);
}

// Results that are not plain byte arrays or strings but that the wrapper still takes:
// a string where bytes are expected (its bytes), a vector not starting at 0, a byte
// result with no array, a number from enBase64Bin (its text), and arguments passed by
// reference that the callee replaced after reading them.
TEST_F(WrapperCalls, ResultsTheWrapperAcceptsGiveTheSameOutcome) {
  const std::wstring text = L"accepted results";
  const std::wstring key = L"key";
  const std::string encrypted = ExpectedCiphertext(text, key);
  const struct {
    const wchar_t* faults;
    bool encrypt;
    std::string expected;  // UTF-8
  } cases[] = {{L"bEncrypt=string", true, encrypted},
               {L"bEncrypt=offset", true, encrypted},
               {L"bEncrypt=replace", true, encrypted},
               {L"enBase64Bin=replace", true, encrypted},
               {L"bEncrypt=nullarray", true, ""},
               {L"enBase64Bin=number", true, "7"},
               {L"enBase64Bin=empty", true, ""},
               {L"deBase64Bin=string", false, Narrow(text)},
               {L"deBase64Bin=offset", false, Narrow(text)},
               {L"deBase64Bin=replace", false, Narrow(text)},
               {L"bDecrypt=string", false, Narrow(text)},
               {L"bDecrypt=offset", false, Narrow(text)},
               {L"bDecrypt=replace", false, Narrow(text)},
               {L"bDecrypt=nullarray", false, ""},
               // Results handed by reference, to a value the callee keeps: bytes like text.
               {L"bEncrypt=byref", true, encrypted},
               {L"bEncrypt=byrefstring", true, encrypted},
               {L"enBase64Bin=byref", true, encrypted},
               {L"deBase64Bin=byref", false, Narrow(text)},
               {L"bDecrypt=byref", false, Narrow(text)},
               {L"bDecrypt=byrefstring", false, Narrow(text)},
               // ... and to a VARIANT the callee keeps (and wipes and frees when it goes).
               {L"bEncrypt=byrefvariant", true, encrypted},
               {L"bEncrypt=byrefvariantstring", true, encrypted},
               {L"enBase64Bin=byrefvariant", true, encrypted},
               {L"deBase64Bin=byrefvariant", false, Narrow(text)},
               {L"deBase64Bin=byrefvariantstring", false, Narrow(text)},
               {L"bDecrypt=byrefvariant", false, Narrow(text)},
               {L"bDecrypt=byrefvariantstring", false, Narrow(text)},
               // ... through a chain of two references, or to an array that was never dimensioned.
               {L"bEncrypt=byrefchain", true, encrypted},
               {L"enBase64Bin=byrefchain", true, encrypted},
               {L"deBase64Bin=byrefchain", false, Narrow(text)},
               {L"bDecrypt=byrefchain", false, Narrow(text)},
               {L"bEncrypt=byrefnullarray", true, ""},
               {L"bDecrypt=byrefnullarray", false, ""},
               // A component that transforms its argument in place and returns that same array.
               {L"bEncrypt=inplace", true, encrypted},
               {L"bDecrypt=inplace", false, Narrow(text)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.faults));
    ScopedFaults faults(c.faults);
    UniqueVariant t, k, out;
    SetText(t, c.encrypt ? text : std::wstring(encrypted.begin(), encrypted.end()));
    SetText(k, key);
    ASSERT_EQ(Call(c.encrypt, t.Get(), k.Get(), out), S_OK) << Narrow(TakeErrorInfo().description);
    EXPECT_EQ(Narrow(TextOf(*out.Get())), c.expected);
  }
}

TEST_F(WrapperCalls, CallsOnOneObjectAndOnSeveralObjectsAreIndependent) {
  ComPtr<_Wrapper> other = NewWrapper();
  const std::wstring a = EncryptText(L"first", L"key one");
  const std::wstring b = EncryptText(L"second", L"key two");
  std::swap(wrapper_, other);
  EXPECT_EQ(DecryptText(b, L"key two"), L"second");
  EXPECT_EQ(DecryptText(a, L"key one"), L"first");
  EXPECT_EQ(EncryptText(L"first", L"key one"), a);
}

}  // namespace
}  // namespace tamsel_test
