// Every step that can fail: the HRESULT and the description the caller gets, which
// stand-in objects were created and released (and in which order), a result left
// VT_EMPTY, unchanged arguments, no lost memory, and an object that works afterwards.
#include <gtest/gtest.h>

#include "tests/support/default_value_object.h"
#include "tests/wrapper/wrapper_call_helper.h"

namespace tamsel_test {
namespace {

constexpr HRESULT kRaised = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);  // the stand-ins' raised error
constexpr wchar_t kGoodText[] = L"secret";
constexpr wchar_t kKey[] = L"key";

// Argument kinds of the table.
enum class Arg {
  kGood, kNull, kMissing, kNullReference, kMatrix, kText, kNothing, kVariantArray, kObject, kObjectOutOfMemory,
  kDeepReference,
  kSelfValued,          // an object whose default value is itself (VBScript: `Set Value = Me`)
  kValuedBySelfValued,  // an object whose default value is such an object
  kRaisingDefault,      // an object whose default value property raises an error
};
constexpr HRESULT kRaisedByDefault = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 5);  // VBScript's error 5

// An argument object whose default value (DISPID_VALUE) fails with its HRESULT.
class FailingDefaultValue final : public IDispatch {
 public:
  explicit FailingDefaultValue(HRESULT hr) : hr_(hr) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid != IID_IUnknown && riid != IID_IDispatch) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = this;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // static lifetime
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return hr_; }

 private:
  HRESULT hr_;
};
FailingDefaultValue g_without_default_value(DISP_E_MEMBERNOTFOUND);
FailingDefaultValue g_default_value_out_of_memory(E_OUTOFMEMORY);

struct FailureCase {
  const wchar_t* faults;
  bool encrypt;
  Arg text;
  Arg key;
  const wchar_t* literal;  // the text for Arg::kText, else the key for a key of Arg::kText
  HRESULT hr;
  const wchar_t* description;
  const char* trace;
};

const FailureCase kCases[] = {
    // Coercion: the key first, then the text, before any object is made.
    {L"", true, Arg::kNull, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH, L"iStr is Null and cannot be converted to text", ""},
    {L"", false, Arg::kGood, Arg::kNull, nullptr, DISP_E_TYPEMISMATCH, L"iKeyStr is Null and cannot be converted to text", ""},
    {L"", true, Arg::kNull, Arg::kNull, nullptr, DISP_E_TYPEMISMATCH, L"iKeyStr is Null and cannot be converted to text", ""},
    {L"", true, Arg::kMissing, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"iStr is a missing argument and cannot be converted to text", ""},
    {L"", true, Arg::kGood, Arg::kNothing, nullptr, DISP_E_TYPEMISMATCH,
     L"iKeyStr is Nothing and cannot be converted to text", ""},
    {L"", false, Arg::kVariantArray, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"iStr is an array of Variant and cannot be converted to text", ""},
    {L"", true, Arg::kObject, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"iStr is an object without a default value and cannot be converted to text", ""},
    {L"", true, Arg::kObjectOutOfMemory, Arg::kGood, nullptr, E_OUTOFMEMORY,
     L"iStr could not be converted to text: out of memory", ""},
    {L"", true, Arg::kGood, Arg::kDeepReference, nullptr, E_INVALIDARG,
     L"iKeyStr cannot be converted to text: it refers to a value through more than 8 references", ""},
    {L"", true, Arg::kGood, Arg::kNullReference, nullptr, E_POINTER, L"iKeyStr cannot be converted to text: null reference", ""},
    {L"", false, Arg::kMatrix, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"iStr cannot be converted to text: the byte array has more than one dimension", ""},
    {L"", true, Arg::kSelfValued, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"iStr is an object whose default value never gives a plain value (objects more than 8 deep) and cannot be "
     L"converted to text",
     ""},
    {L"", false, Arg::kGood, Arg::kValuedBySelfValued, nullptr, DISP_E_TYPEMISMATCH,
     L"iKeyStr is an object whose default value never gives a plain value (objects more than 8 deep) and cannot be "
     L"converted to text",
     ""},
    {L"", true, Arg::kRaisingDefault, Arg::kGood, nullptr, kRaisedByDefault,
     L"iStr is an object whose default value could not be read: raised by the test", ""},
    // Creating the Base64 object.
    {L"Ostrel.Base64Func=refuse", true, Arg::kGood, Arg::kGood, nullptr, E_ACCESSDENIED,
     L"Ostrel.Base64Func could not be created: access denied", "B!"},
    {L"Ostrel.Base64Func=nodispatch", false, Arg::kGood, Arg::kGood, nullptr, E_NOINTERFACE,
     L"Ostrel.Base64Func could not be created: interface not supported", "B+ B-"},
    // deBase64Bin.
    {L"deBase64Bin=missing", false, Arg::kGood, Arg::kGood, nullptr, DISP_E_UNKNOWNNAME,
     L"Ostrel.Base64Func has no member deBase64Bin", "B+ B-"},
    {L"deBase64Bin=raise", false, Arg::kGood, Arg::kGood, nullptr, kRaised,
     L"Ostrel.Base64Func.deBase64Bin failed: deBase64Bin failed as the test asked", "B+ B.deBase64Bin B-"},
    {L"deBase64Bin=fail", false, Arg::kGood, Arg::kGood, nullptr, E_UNEXPECTED,
     L"Ostrel.Base64Func.deBase64Bin failed: unexpected failure", "B+ B.deBase64Bin B-"},
    {L"", false, Arg::kText, Arg::kGood, L"not Base64!", NTE_BAD_DATA,
     L"Ostrel.Base64Func.deBase64Bin failed: not valid Base64 text", "B+ B.deBase64Bin B-"},
    {L"deBase64Bin=null", false, Arg::kGood, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"Ostrel.Base64Func.deBase64Bin returned Null instead of a one-dimensional byte array",
     "B+ B.deBase64Bin B-"},
    {L"deBase64Bin=matrix", false, Arg::kGood, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"Ostrel.Base64Func.deBase64Bin returned a two-dimensional array of Byte instead of a one-dimensional byte array",
     "B+ B.deBase64Bin B-"},
    // Creating the Twofish object: the Base64 object made before it is released.
    {L"Tamsel.clsTwofish=refuse", true, Arg::kGood, Arg::kGood, nullptr, E_ACCESSDENIED,
     L"Tamsel.clsTwofish could not be created: access denied", "B+ T! B-"},
    {L"Tamsel.clsTwofish=refuse", false, Arg::kGood, Arg::kGood, nullptr, E_ACCESSDENIED,
     L"Tamsel.clsTwofish could not be created: access denied", "B+ B.deBase64Bin T! B-"},
    {L"Tamsel.clsTwofish=nodispatch", true, Arg::kGood, Arg::kGood, nullptr, E_NOINTERFACE,
     L"Tamsel.clsTwofish could not be created: interface not supported", "B+ T+ T- B-"},
    // bkey: the Twofish object is released before the Base64 object.
    {L"bkey=missing", true, Arg::kGood, Arg::kGood, nullptr, DISP_E_UNKNOWNNAME, L"Tamsel.clsTwofish has no member bkey",
     "B+ T+ T- B-"},
    {L"bkey=raise", false, Arg::kGood, Arg::kGood, nullptr, kRaised,
     L"Tamsel.clsTwofish.bkey could not be set: bkey failed as the test asked", "B+ B.deBase64Bin T+ T.bkey T- B-"},
    {L"bkey=fail", true, Arg::kGood, Arg::kGood, nullptr, E_UNEXPECTED,
     L"Tamsel.clsTwofish.bkey could not be set: unexpected failure", "B+ T+ T.bkey T- B-"},
    {L"", true, Arg::kGood, Arg::kText, L"seventeen chars!!", E_INVALIDARG,
     L"Tamsel.clsTwofish.bkey could not be set: the key is longer than 32 bytes", "B+ T+ T.bkey T- B-"},
    // bEncrypt and bDecrypt.
    {L"bEncrypt=missing", true, Arg::kGood, Arg::kGood, nullptr, DISP_E_UNKNOWNNAME,
     L"Tamsel.clsTwofish has no member bEncrypt", "B+ T+ T.bkey T- B-"},
    {L"bEncrypt=deferred", true, Arg::kGood, Arg::kGood, nullptr, kRaised,
     L"Tamsel.clsTwofish.bEncrypt failed: deferred failure asked for by the test", "B+ T+ T.bkey T.bEncrypt T- B-"},
    {L"bEncrypt=fail", true, Arg::kGood, Arg::kGood, nullptr, E_UNEXPECTED,
     L"Tamsel.clsTwofish.bEncrypt failed: unexpected failure", "B+ T+ T.bkey T.bEncrypt T- B-"},
    {L"bEncrypt=number", true, Arg::kGood, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"Tamsel.clsTwofish.bEncrypt returned a Long instead of a one-dimensional byte array",
     "B+ T+ T.bkey T.bEncrypt T- B-"},
    {L"bEncrypt=object", true, Arg::kGood, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"Tamsel.clsTwofish.bEncrypt returned an object instead of a one-dimensional byte array",
     "B+ T+ T.bkey T.bEncrypt B+ B- T- B-"},
    {L"bEncrypt=variantarray", true, Arg::kGood, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"Tamsel.clsTwofish.bEncrypt returned an array of Variant instead of a one-dimensional byte array",
     "B+ T+ T.bkey T.bEncrypt T- B-"},
    {L"bEncrypt=byrefnull", true, Arg::kGood, Arg::kGood, nullptr, E_POINTER,
     L"Tamsel.clsTwofish.bEncrypt returned a null reference", "B+ T+ T.bkey T.bEncrypt T- B-"},
    {L"bDecrypt=missing", false, Arg::kGood, Arg::kGood, nullptr, DISP_E_UNKNOWNNAME,
     L"Tamsel.clsTwofish has no member bDecrypt", "B+ B.deBase64Bin T+ T.bkey T- B-"},
    {L"bDecrypt=raise", false, Arg::kGood, Arg::kGood, nullptr, kRaised,
     L"Tamsel.clsTwofish.bDecrypt failed: bDecrypt failed as the test asked",
     "B+ B.deBase64Bin T+ T.bkey T.bDecrypt T- B-"},
    {L"bDecrypt=null", false, Arg::kGood, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"Tamsel.clsTwofish.bDecrypt returned Null instead of a one-dimensional byte array",
     "B+ B.deBase64Bin T+ T.bkey T.bDecrypt T- B-"},
    // Damaged ciphertext: three bytes are no whole block.
    {L"", false, Arg::kText, Arg::kGood, L"AAAA", NTE_BAD_DATA,
     L"Tamsel.clsTwofish.bDecrypt failed: the data is not whole blocks or its padding is wrong",
     "B+ B.deBase64Bin T+ T.bkey T.bDecrypt T- B-"},
    // enBase64Bin, after the Twofish object is gone.
    {L"enBase64Bin=missing", true, Arg::kGood, Arg::kGood, nullptr, DISP_E_UNKNOWNNAME,
     L"Ostrel.Base64Func has no member enBase64Bin", "B+ T+ T.bkey T.bEncrypt T- B-"},
    {L"enBase64Bin=raise", true, Arg::kGood, Arg::kGood, nullptr, kRaised,
     L"Ostrel.Base64Func.enBase64Bin failed: enBase64Bin failed as the test asked",
     "B+ T+ T.bkey T.bEncrypt T- B.enBase64Bin B-"},
    {L"enBase64Bin=null", true, Arg::kGood, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"Ostrel.Base64Func.enBase64Bin returned Null, which cannot be converted to text",
     "B+ T+ T.bkey T.bEncrypt T- B.enBase64Bin B-"},
    {L"enBase64Bin=object", true, Arg::kGood, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"Ostrel.Base64Func.enBase64Bin returned an object without a default value, which cannot be converted to text",
     "B+ T+ T.bkey T.bEncrypt T- B.enBase64Bin B+ B- B-"},
    {L"enBase64Bin=object,value=outofmemory", true, Arg::kGood, Arg::kGood, nullptr, E_OUTOFMEMORY,
     L"Ostrel.Base64Func.enBase64Bin returned a value that could not be converted to text: out of memory",
     "B+ T+ T.bkey T.bEncrypt T- B.enBase64Bin B+ B- B-"},
    {L"enBase64Bin=variantarray", true, Arg::kGood, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"Ostrel.Base64Func.enBase64Bin returned an array of Variant, which cannot be converted to text",
     "B+ T+ T.bkey T.bEncrypt T- B.enBase64Bin B-"},
    {L"enBase64Bin=matrix", true, Arg::kGood, Arg::kGood, nullptr, DISP_E_TYPEMISMATCH,
     L"Ostrel.Base64Func.enBase64Bin returned a two-dimensional array of Byte, which cannot be converted to text",
     "B+ T+ T.bkey T.bEncrypt T- B.enBase64Bin B-"},
};

// Owns the argument VARIANTs of one table row.
class Arguments {
 public:
  Arguments(const FailureCase& c) {
    // A chain of references one longer than the wrapper follows, ending in a text.
    for (int i = 0; i + 1 < kChain; ++i) {
      V_VT(&chain_[i]) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(&chain_[i]) = &chain_[i + 1];
    }
    SetText(last_, L"deep");
    chain_[kChain - 1] = *last_.Get();
    Make(text_, c.text, c.encrypt ? std::wstring(kGoodText) : Widen(ExpectedCiphertext(kGoodText, kKey)), c.literal);
    Make(key_, c.key, kKey, c.literal);
  }
  VARIANT* Text() { return text_.Get(); }
  VARIANT* Key() { return key_.Get(); }

 private:
  static std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }
  void Make(UniqueVariant& v, Arg kind, const std::wstring& good, const wchar_t* literal) {
    VARIANT* p = v.Receive();
    switch (kind) {
      case Arg::kGood:
        SetText(v, good);
        break;
      case Arg::kText:
        SetText(v, literal);
        break;
      case Arg::kNull:
        V_VT(p) = VT_NULL;
        break;
      case Arg::kMissing:  // an omitted optional argument
        V_VT(p) = VT_ERROR;
        V_ERROR(p) = DISP_E_PARAMNOTFOUND;
        break;
      case Arg::kNullReference:
        V_VT(p) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(p) = nullptr;
        break;
      case Arg::kMatrix: {
        SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
        V_VT(p) = VT_ARRAY | VT_UI1;
        V_ARRAY(p) = SafeArrayCreate(VT_UI1, 2, bounds);
        break;
      }
      case Arg::kNothing:
        V_VT(p) = VT_DISPATCH;
        V_DISPATCH(p) = nullptr;
        break;
      case Arg::kVariantArray:
        V_VT(p) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(p) = SafeArrayCreateVector(VT_VARIANT, 0, 2);
        break;
      case Arg::kObject:
      case Arg::kObjectOutOfMemory:
        V_VT(p) = VT_DISPATCH;
        V_DISPATCH(p) = kind == Arg::kObject ? &g_without_default_value : &g_default_value_out_of_memory;
        break;
      case Arg::kDeepReference:
        V_VT(p) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(p) = &chain_[0];
        break;
      case Arg::kSelfValued:
      case Arg::kValuedBySelfValued:
      case Arg::kRaisingDefault: {
        corvane::test::DefaultValueObject* object = &raising_;
        if (kind == Arg::kSelfValued) object = &self_valued_;
        if (kind == Arg::kValuedBySelfValued) object = &valued_by_self_valued_;
        object->AddRef();  // the VARIANT's own, released with it
        V_VT(p) = VT_DISPATCH;
        V_DISPATCH(p) = object;
        break;
      }
    }
  }
  static constexpr int kChain = 9;  // the first reference is the argument's own
  VARIANT chain_[kChain] = {};
  UniqueVariant last_;
  // Before the arguments that refer to them, so they outlive those.
  corvane::test::ObjectValuedDefault self_valued_;
  corvane::test::ObjectValuedDefault valued_by_self_valued_{&self_valued_};
  corvane::test::RaisingDefault raising_{kRaisedByDefault, L"raised by the test"};
  UniqueVariant text_, key_;
};

std::string Describe(const FailureCase& c) {
  return (c.encrypt ? "TwofishEncrypt" : "TwofishDecrypt") + std::string(" faults '") + Narrow(c.faults) + "' -> " +
         Narrow(c.description);
}

using WrapperFailures = WrapperTest;

TEST_F(WrapperFailures, EveryFailingStepReportsItselfAndReleasesWhatItMade) {
  for (const FailureCase& c : kCases) {
    SCOPED_TRACE(Describe(c));
    {
      ScopedFaults faults(c.faults);
      Arguments args(c);
      UniqueVariant out;
      Fixtures::Get().Reset();
      EXPECT_EQ(Call(c.encrypt, args.Text(), args.Key(), out), c.hr);
      EXPECT_EQ(Fixtures::Get().Trace(), c.trace);
      const ErrorRecord error = TakeErrorInfo();
      EXPECT_TRUE(error.present);
      EXPECT_EQ(Narrow(error.description), Narrow(c.description));
      EXPECT_EQ(Narrow(error.source), "Tamsel.Wrapper");
      EXPECT_TRUE(IsEqualGUID(error.guid, IID__Wrapper));
    }
    // The same object works at once with good values, and leaves no stale error.
    EXPECT_EQ(DecryptText(EncryptText(L"after a failure", kKey), kKey), L"after a failure");
    EXPECT_FALSE(TakeErrorInfo().present);
  }
}

TEST_F(WrapperFailures, NullPointersAreRefused) {
  UniqueVariant text, key, out;
  SetText(text, L"x");
  SetText(key, L"k");
  EXPECT_EQ(wrapper_->TwofishEncrypt(text.Get(), key.Get(), nullptr), E_POINTER);
  EXPECT_EQ(wrapper_->TwofishEncrypt(nullptr, key.Get(), out.Get()), E_POINTER);
  EXPECT_EQ(Narrow(TakeErrorInfo().description), "iStr is a null pointer");
  EXPECT_EQ(wrapper_->TwofishDecrypt(text.Get(), nullptr, out.Get()), E_POINTER);
  EXPECT_EQ(Narrow(TakeErrorInfo().description), "iKeyStr is a null pointer");
  EXPECT_EQ(V_VT(out.Get()), VT_EMPTY);
  EXPECT_EQ(Fixtures::Get().Created(), 0);
}

// Removes a registry key of the stand-ins for the life of the object; registering the
// stand-ins again restores it.
class Unregistered {
 public:
  explicit Unregistered(const wchar_t* key) {
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, key), ERROR_SUCCESS) << Narrow(key);
  }
  ~Unregistered() { EXPECT_EQ(Fixtures::Get().Register(), S_OK); }
  Unregistered(const Unregistered&) = delete;
  Unregistered& operator=(const Unregistered&) = delete;
};

TEST_F(WrapperFailures, ComponentsThatAreNotRegisteredFailTheCall) {
  const struct {
    const wchar_t* key;
    bool encrypt;
    const wchar_t* description;
    const char* trace;
  } cases[] = {
      {L"Ostrel.Base64Func", true, L"Ostrel.Base64Func could not be created: class not registered", ""},
      {L"Tamsel.clsTwofish", true, L"Tamsel.clsTwofish could not be created: class not registered", "B+ B-"},
      {L"Tamsel.clsTwofish", false, L"Tamsel.clsTwofish could not be created: class not registered",
       "B+ B.deBase64Bin B-"},
      // The ProgID is there but its class has no server.
      {L"CLSID\\{7A15318B-24FB-46B3-9F5C-EE4F175AE6EB}\\InprocServer32", true,
       L"Tamsel.clsTwofish could not be created: class not registered", "B+ B-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.key));
    const std::wstring encrypted = EncryptText(kGoodText, kKey);
    {
      Unregistered gone(c.key);
      UniqueVariant text, key, out;
      SetText(text, c.encrypt ? std::wstring(kGoodText) : encrypted);
      SetText(key, kKey);
      Fixtures::Get().Reset();
      EXPECT_EQ(Call(c.encrypt, text.Get(), key.Get(), out), REGDB_E_CLASSNOTREG);
      EXPECT_EQ(Fixtures::Get().Trace(), c.trace);
      EXPECT_EQ(Narrow(TakeErrorInfo().description), Narrow(c.description));
    }
    EXPECT_EQ(DecryptText(encrypted, kKey), kGoodText);
  }
}

// Moves a stand-in's class key to the other registry view for the life of the object, as
// a component registered only by the regsvr32 of the other bitness is: its ProgID stays
// (ProgIDs are shared by both views), its class is in the other view only. Registering
// the stand-ins again restores the class in this view.
class RegisteredForOtherBitnessOnly {
 public:
  explicit RegisteredForOtherBitnessOnly(const wchar_t* clsid) : clsid_(clsid) {
    const std::wstring key = L"CLSID\\" + clsid_;
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str()), ERROR_SUCCESS);
    HKEY server = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE | kOtherView, nullptr, &server, nullptr),
              ERROR_SUCCESS);
    const std::wstring path = FixturesDllPath();
    RegSetValueExW(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    RegSetValueExW(server, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Apartment"),
                   sizeof L"Apartment");
    RegCloseKey(server);
  }
  ~RegisteredForOtherBitnessOnly() {
    HKEY classes = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_ALL_ACCESS | kOtherView, &classes), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeW(classes, clsid_.c_str()), ERROR_SUCCESS);
    RegCloseKey(classes);
    EXPECT_EQ(Fixtures::Get().Register(), S_OK);
  }
  RegisteredForOtherBitnessOnly(const RegisteredForOtherBitnessOnly&) = delete;
  RegisteredForOtherBitnessOnly& operator=(const RegisteredForOtherBitnessOnly&) = delete;

  static constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

 private:
  std::wstring clsid_;
};

// The mistake users of a 32-bit component in a 64-bit host make (and its mirror): the
// code the docs give for a component that is not registered, and the cause in words.
TEST_F(WrapperFailures, ComponentsRegisteredForTheOtherBitnessOnlyAreNamedSo) {
  const std::wstring bitness = sizeof(void*) == 8 ? L" is registered for 32-bit programs only; this is a 64-bit process"
                                                  : L" is registered for 64-bit programs only; this is a 32-bit process";
  const struct {
    const wchar_t* clsid;
    const wchar_t* prog_id;
    bool encrypt;
    const char* trace;
  } cases[] = {
      {L"{ACA97FD1-34EE-4767-AAE1-C814A6EAA65A}", L"Ostrel.Base64Func", true, ""},
      {L"{7A15318B-24FB-46B3-9F5C-EE4F175AE6EB}", L"Tamsel.clsTwofish", true, "B+ B-"},
      {L"{7A15318B-24FB-46B3-9F5C-EE4F175AE6EB}", L"Tamsel.clsTwofish", false, "B+ B.deBase64Bin B-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.prog_id) + (c.encrypt ? " encrypting" : " decrypting"));
    const std::wstring encrypted = EncryptText(kGoodText, kKey);
    {
      RegisteredForOtherBitnessOnly elsewhere(c.clsid);
      UniqueVariant text, key, out;
      SetText(text, c.encrypt ? std::wstring(kGoodText) : encrypted);
      SetText(key, kKey);
      Fixtures::Get().Reset();
      EXPECT_EQ(Call(c.encrypt, text.Get(), key.Get(), out), REGDB_E_CLASSNOTREG);
      EXPECT_EQ(Fixtures::Get().Trace(), c.trace);
      EXPECT_EQ(Narrow(TakeErrorInfo().description), Narrow(c.prog_id + bitness));
    }
    EXPECT_EQ(DecryptText(encrypted, kKey), kGoodText);
  }
}

// Every path, good and failing, gives back every BSTR and SAFEARRAY it allocated: the
// second and third runs of a call change the count of live task-allocator blocks by nothing.
TEST_F(WrapperFailures, NoPathLosesMemory) {
  std::vector<FailureCase> cases(std::begin(kCases), std::end(kCases));
  cases.push_back({L"", true, Arg::kGood, Arg::kGood, nullptr, S_OK, L"", ""});
  cases.push_back({L"", false, Arg::kGood, Arg::kGood, nullptr, S_OK, L"", ""});
  // Results by reference, to values the stand-ins keep and free themselves: a copy taken
  // and freed by the wrapper, never the callee's own freed twice.
  for (const wchar_t* accepted : {L"bEncrypt=replace", L"enBase64Bin=replace", L"bEncrypt=string", L"bEncrypt=byref",
                                  L"bEncrypt=byrefvariant", L"bEncrypt=byrefvariantstring", L"enBase64Bin=byrefvariant",
                                  L"bEncrypt=byrefchain", L"enBase64Bin=byrefchain", L"bEncrypt=inplace"}) {
    cases.push_back({accepted, true, Arg::kGood, Arg::kGood, nullptr, S_OK, L"", ""});
  }
  for (const wchar_t* accepted : {L"deBase64Bin=replace", L"bDecrypt=replace", L"deBase64Bin=string",
                                  L"deBase64Bin=byrefvariant", L"deBase64Bin=byrefvariantstring",
                                  L"bDecrypt=byrefvariant", L"bDecrypt=byrefvariantstring", L"bDecrypt=byrefchain",
                                  L"bDecrypt=inplace"}) {
    cases.push_back({accepted, false, Arg::kGood, Arg::kGood, nullptr, S_OK, L"", ""});
  }
  AllocationCounter counter;
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(Describe(c));
    ScopedFaults faults(c.faults);
    Arguments args(c);
    auto run = [&] {
      UniqueVariant out;
      EXPECT_EQ(Call(c.encrypt, args.Text(), args.Key(), out), c.hr);
      TakeErrorInfo();
    };
    const long freedTwice = counter.DoubleFrees();
    run();
    const long before = counter.Live();
    run();
    run();
    EXPECT_EQ(counter.Live(), before);
    EXPECT_EQ(counter.DoubleFrees(), freedTwice) << "a string or array freed twice";
  }
}

}  // namespace
}  // namespace tamsel_test
