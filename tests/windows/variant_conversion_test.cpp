// CDunlow's VARIANT conversions under the process's ANSI code page. Tests whose name
// holds "Cp932" run in a process with code page 932, the others with 1252.
#include <gtest/gtest.h>

#include <string>

#include "crypt/dunlow.h"
#include "crypt/status.h"
#include "tests/support/variants.h"
#include "tests/support/vector_files.h"

namespace corvane {
namespace {

using test::BstrVariant;
using test::MakeEmpty;

struct Converted {
  std::int32_t status;
  std::string bytes;  // the converted text, without its terminator
};

Converted ToText(VARIANT value) {
  CDunlow d;
  unsigned char* out = nullptr;
  const std::int32_t status = d.SVariant2char(value, &out);
  Converted result{status, {}};
  if (status >= 0) {
    EXPECT_NE(out, nullptr);
    EXPECT_EQ(out[status], 0) << "not terminated";
    result.bytes.assign(reinterpret_cast<char*>(out), static_cast<std::size_t>(status));
    d.Sfree(&out);
  } else {
    EXPECT_EQ(out, nullptr);
  }
  return result;
}

Converted ToText(const std::wstring& text) {
  BstrVariant v(text);
  return ToText(*v);
}

// The text as a BSTR, or the failure status with the VARIANT left as it was.
std::wstring ToBstr(const std::string& bytes, std::int32_t* status) {
  CDunlow d;
  VARIANT out = test::MakeI4(12345);
  *status = d.SChar2Variant(reinterpret_cast<const unsigned char*>(bytes.c_str()), &out);
  if (*status < 0) {
    EXPECT_EQ(V_VT(&out), VT_I4);
    EXPECT_EQ(V_I4(&out), 12345);
    return L"<unchanged>";
  }
  EXPECT_EQ(V_VT(&out), VT_BSTR);
  std::wstring text = test::FromBstr(V_BSTR(&out));
  VariantClear(&out);
  return text;
}

TEST(SVariant2char, Cp1252RunsInCodePage1252) { EXPECT_EQ(GetACP(), 1252u); }

TEST(SVariant2char, StringsAndScalarsBecomeText) {
  EXPECT_EQ(ToText(L"abc").bytes, "abc");
  EXPECT_EQ(ToText(L"").status, 0);
  EXPECT_EQ(ToText(MakeEmpty()).status, 0);
  EXPECT_EQ(ToText(test::MakeI4(-42)).bytes, "-42");

  VARIANT real = MakeEmpty();
  V_VT(&real) = VT_R8;
  V_R8(&real) = 1.5;
  EXPECT_EQ(ToText(real).bytes, "1.5");

  VARIANT nullString = MakeEmpty();
  V_VT(&nullString) = VT_BSTR;
  V_BSTR(&nullString) = nullptr;  // a null BSTR is the empty string
  EXPECT_EQ(ToText(nullString).status, 0);
}

TEST(SVariant2char, KeepsZeroCharactersInTheLength) {
  const Converted c = ToText(std::wstring(L"a\0b", 3));
  EXPECT_EQ(c.status, 3);
  EXPECT_EQ(c.bytes, std::string("a\0b", 3));
}

TEST(SVariant2char, FollowsReferences) {
  BstrVariant target(L"by reference");
  EXPECT_EQ(ToText(test::MakeVariantRef(target.Get())).bytes, "by reference");

  BSTR s = V_BSTR(target.Get());
  VARIANT bstrRef = MakeEmpty();
  V_VT(&bstrRef) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&bstrRef) = &s;
  EXPECT_EQ(ToText(bstrRef).bytes, "by reference");

  LONG number = 7;
  VARIANT numberRef = MakeEmpty();
  V_VT(&numberRef) = VT_BYREF | VT_I4;
  V_I4REF(&numberRef) = &number;
  EXPECT_EQ(ToText(numberRef).bytes, "7");

  VARIANT inner = test::MakeVariantRef(target.Get());
  EXPECT_EQ(ToText(test::MakeVariantRef(&inner)).bytes, "by reference");
}

TEST(SVariant2char, ValuesWithoutTextFormFail) {
  EXPECT_EQ(ToText(test::MakeNull()).status, STATUS_NO_TEXT_FORM);

  VARIANT missing = MakeEmpty();
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  EXPECT_EQ(ToText(missing).status, STATUS_NO_TEXT_FORM);

  UniqueSafeArray bytes(SafeArrayCreateVector(VT_UI1, 0, 3));
  VARIANT array = MakeEmpty();
  V_VT(&array) = VT_ARRAY | VT_UI1;
  V_ARRAY(&array) = bytes.Get();
  EXPECT_EQ(ToText(array).status, STATUS_NO_TEXT_FORM);

  VARIANT dangling = MakeEmpty();
  V_VT(&dangling) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&dangling) = nullptr;
  EXPECT_EQ(ToText(dangling).status, STATUS_NO_TEXT_FORM);
  EXPECT_EQ(ToText(test::MakeVariantRef(nullptr)).status, STATUS_NO_TEXT_FORM);

  VARIANT nullValue = test::MakeNull();
  EXPECT_EQ(ToText(test::MakeVariantRef(&nullValue)).status, STATUS_NO_TEXT_FORM);
}

TEST(SVariant2char, ConvertsStrictlyToCodePage1252) {
  EXPECT_EQ(test::ToHex(reinterpret_cast<const unsigned char*>(ToText(L"\u00E9\u20AC").bytes.data()), 2), "E980");
  for (const wchar_t* unrepresentable : {L"\u0101", L"\u65E5\u672C", L"a\xD800z", L"\u2713"}) {
    EXPECT_EQ(ToText(unrepresentable).status, STATUS_NOT_IN_CODE_PAGE) << test::ToHex(
        reinterpret_cast<const unsigned char*>(unrepresentable), 2 * wcslen(unrepresentable));
  }
}

TEST(SVariant2char, Cp932ConvertsJapaneseToDoubleByteText) {
  ASSERT_EQ(GetACP(), 932u);
  const Converted c = ToText(L"\u65E5\u672C\uFF76");  // two kanji and a half-width katakana
  ASSERT_EQ(c.status, 5);
  EXPECT_EQ(test::ToHex(reinterpret_cast<const unsigned char*>(c.bytes.data()), 5), "93FA967BB6");
  EXPECT_EQ(ToText(L"\u00E9").status, STATUS_NOT_IN_CODE_PAGE);
}

TEST(SChar2Variant, TextBecomesAString) {
  std::int32_t status = -1;
  EXPECT_EQ(ToBstr("plain text", &status), L"plain text");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ToBstr("", &status), L"");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ToBstr("\xE9\x80", &status), L"\u00E9\u20AC");
  EXPECT_EQ(status, 0);
}

TEST(SChar2Variant, RefusesNullArguments) {
  CDunlow d;
  VARIANT out = MakeEmpty();
  EXPECT_EQ(d.SChar2Variant(nullptr, &out), STATUS_NO_TEXT_FORM);
  EXPECT_EQ(V_VT(&out), VT_EMPTY);
  EXPECT_EQ(d.SChar2Variant(reinterpret_cast<const unsigned char*>("x"), nullptr), STATUS_NO_TEXT_FORM);
}

TEST(SChar2Variant, Cp932DecodesDoubleByteTextAndRefusesBrokenSequences) {
  ASSERT_EQ(GetACP(), 932u);
  std::int32_t status = -1;
  EXPECT_EQ(ToBstr("\x93\xFA\x96\x7B\xB6", &status), L"\u65E5\u672C\uFF76");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ToBstr("ab\x93", &status), L"<unchanged>");  // a lead byte without its trail byte
  EXPECT_EQ(status, STATUS_NOT_IN_CODE_PAGE);
}

}  // namespace
}  // namespace corvane
