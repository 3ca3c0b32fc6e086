// Several apartment-threaded threads use their own Crypt objects while others churn
// the shared class object, the module lock and the type-information holder. Runs in a
// process of its own, so that the class object and the type information are created
// under that load.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/com_holders.h"
#include "crypt/status.h"
#include "tests/hardening/dispatch_call.h"
#include "tests/server/corvane_module.h"
#include "tests/support/temp_dir.h"
#include "tests/support/variants.h"

namespace corvane {
namespace {

using test::CorvaneModule;

// Lets every thread start its work at the same moment.
class StartLine {
 public:
  explicit StartLine(int threads) : waiting_(threads) {}
  void Arrive() {
    --waiting_;
    while (waiting_.load() > 0) std::this_thread::yield();
  }

 private:
  std::atomic<int> waiting_;
};

struct Shared {
  explicit Shared(int threads) : start(threads) {}
  StartLine start;
  std::atomic<int> failures{0};
  std::atomic<IUnknown*> classObject{nullptr};
  std::atomic<ITypeInfo*> typeInfo{nullptr};
  std::atomic<bool> workersDone{false};
};

void Fail(Shared& shared, const char* what, int thread) {
  if (shared.failures++ < 20) std::printf("thread %d: %s\n", thread, what);
}

// All threads must see one class object and one type information.
template <class T>
void ExpectShared(std::atomic<T*>& slot, T* mine, Shared& shared, int thread, const char* what) {
  T* expected = nullptr;
  if (!slot.compare_exchange_strong(expected, mine) && expected != mine) Fail(shared, what, thread);
}

void Worker(Shared& shared, int thread, const std::wstring& folder) {
  test::ComApartment apartment;
  shared.start.Arrive();
  ComPtr<ICrypt> crypt;
  if (FAILED(CoCreateInstance(CLSID_Crypt, nullptr, CLSCTX_INPROC_SERVER, IID_ICrypt, crypt.ReceiveVoid()))) {
    Fail(shared, "CoCreateInstance", thread);
    return;
  }
  const DISPID enCrypt = test::DispidOf(crypt.Get(), L"enCrypt");
  const DISPID deCrypt = test::DispidOf(crypt.Get(), L"deCrypt");
  if (enCrypt != 3 || deCrypt != 4) Fail(shared, "GetIDsOfNames", thread);
  const std::wstring file = folder + L"\\thread" + std::to_wstring(thread) + L".txt";
  test::WriteFileBytes(file, std::vector<unsigned char>(100, static_cast<unsigned char>('a' + thread)));

  for (int i = 0; i < 2000; ++i) {
    test::BstrVariant key(L"key " + std::to_wstring(thread) + L"/" + std::to_wstring(i % 7));
    test::BstrVariant text(L"thread " + std::to_wstring(thread) + L" message " + std::to_wstring(i));
    crypt->SetKey(*key);
    UniqueVariant cipher, plain;
    if (i % 2 == 0) {
      crypt->enCrypt(*text, cipher.Receive());
      crypt->deCrypt(*cipher.Get(), plain.Receive());
    } else {  // late-bound, as script hosts call
      test::InvokeWith(crypt.Get(), enCrypt, DISPATCH_METHOD, {*text}, cipher.Receive());
      test::InvokeWith(crypt.Get(), deCrypt, DISPATCH_METHOD, {*cipher.Get()}, plain.Receive());
    }
    LONG status = 1;
    crypt->IsError(&status);
    const bool roundTrip = V_VT(plain.Get()) == VT_BSTR && SysStringLen(V_BSTR(plain.Get())) == SysStringLen(V_BSTR(text.Get())) &&
                           wcscmp(V_BSTR(plain.Get()), V_BSTR(text.Get())) == 0;
    if (status != STATUS_OK || !roundTrip) Fail(shared, "string round trip", thread);
    if (i % 100 == 0) {
      test::BstrVariant path(file);
      test::BstrVariant encrypted(file + L".bf");
      crypt->FileEnCrypt(*path);
      crypt->FileDeCrypt(*encrypted);
      crypt->IsError(&status);
      if (status != STATUS_OK ||
          test::ReadFileBytes(file + L".bf.bf") != std::vector<unsigned char>(100, static_cast<unsigned char>('a' + thread)))
        Fail(shared, "file round trip", thread);
    }
  }
}

void Churner(Shared& shared, int thread) {
  test::ComApartment apartment;
  const CorvaneModule& dll = CorvaneModule::Get();
  shared.start.Arrive();
  for (int i = 0; !shared.workersDone.load() || i < 500; ++i) {
    ComPtr<IClassFactory> factory;
    if (FAILED(dll.DllGetClassObject(CLSID_Crypt, IID_IClassFactory, factory.ReceiveVoid()))) {
      Fail(shared, "DllGetClassObject", thread);
      return;
    }
    ExpectShared<IUnknown>(shared.classObject, factory.Get(), shared, thread, "a second class object");
    factory->LockServer(TRUE);
    ComPtr<ICrypt> crypt;
    if (FAILED(factory->CreateInstance(nullptr, IID_ICrypt, crypt.ReceiveVoid()))) Fail(shared, "CreateInstance", thread);
    factory->LockServer(FALSE);
    ComPtr<ITypeInfo> info;
    if (FAILED(crypt->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Receive()))) Fail(shared, "GetTypeInfo", thread);
    ExpectShared<ITypeInfo>(shared.typeInfo, info.Get(), shared, thread, "a second type information");
    if (test::DispidOf(crypt.Get(), i % 2 ? L"FileDeCrypt" : L"filedecrypt") != 6) Fail(shared, "GetIDsOfNames", thread);
  }
}

TEST(CryptThreads, ObjectsInManyApartmentsAndSharedStateUnderLoad) {
  const CorvaneModule& dll = CorvaneModule::Get();
  ASSERT_NE(dll.module, nullptr);
  ASSERT_EQ(dll.DllCanUnloadNow(), S_OK);
  test::TempDir dir;
  constexpr int kWorkers = 4, kChurners = 3;
  Shared shared(kWorkers + kChurners);
  std::vector<std::thread> workers, churners;
  for (int t = 0; t < kWorkers; ++t) workers.emplace_back(Worker, std::ref(shared), t, dir.Path().wstring());
  for (int t = 0; t < kChurners; ++t) churners.emplace_back(Churner, std::ref(shared), kWorkers + t);
  for (auto& t : workers) t.join();
  shared.workersDone = true;
  for (auto& t : churners) t.join();

  EXPECT_EQ(shared.failures.load(), 0);
  EXPECT_EQ(dll.DllCanUnloadNow(), S_OK) << "every object, class object reference and lock is released";
}

// Several ASP requests may write the same output at once (all encrypt one upload, all
// decrypt one file, or both). Each call either puts a complete file in place or reports
// -106 (a decrypting call may find its input replaced at that moment: -104); afterwards
// the folder holds the input and the output and nothing else. A temporary file of a call
// that lost the race holds a whole copy of the output, for FileDeCrypt the plaintext, where
// nobody removes it; Wine's ReplaceFileW also left empty rf*.tmp files of its own (41 of
// them after two writers' 100 rounds each).
enum class Writers { kEncrypt, kDecrypt, kBoth };

struct RaceCase {
  const char* what;
  int threads;
  Writers writers;
};

void PrintTo(const RaceCase& race, std::ostream* out) { *out << race.what; }

class WritersOfOneOutputFile : public ::testing::TestWithParam<RaceCase> {};

TEST_P(WritersOfOneOutputFile, LeaveOnlyTheInputAndTheOutput) {
  const RaceCase& race = GetParam();
  test::TempDir dir;
  const std::wstring folder = dir.Path().wstring();
  const std::vector<unsigned char> content(100000, 'p');
  test::WriteFileBytes(folder + L"\\plain.txt", content);
  constexpr int kRounds = 60;
  std::atomic<int> unexpected{0};
  StartLine start(race.threads);
  {
    // A first encrypted file to decrypt.
    test::ComApartment apartment;
    ComPtr<ICrypt> crypt;
    ASSERT_EQ(CoCreateInstance(CLSID_Crypt, nullptr, CLSCTX_INPROC_SERVER, IID_ICrypt, crypt.ReceiveVoid()), S_OK);
    test::BstrVariant key(L"key"), plain(folder + L"\\plain.txt");
    crypt->SetKey(*key);
    crypt->FileEnCrypt(*plain);
    LONG status = 1;
    crypt->IsError(&status);
    ASSERT_EQ(status, STATUS_OK);
  }
  // With both kinds, the first half of the threads encrypts plain.txt, the rest decrypts
  // plain.txt.bf as it is.
  std::vector<std::thread> threads;
  for (int t = 0; t < race.threads; ++t) {
    const bool encrypts = race.writers == Writers::kEncrypt || (race.writers == Writers::kBoth && t < race.threads / 2);
    threads.emplace_back([&, t, encrypts] {
      test::ComApartment apartment;
      ComPtr<ICrypt> crypt;
      if (FAILED(CoCreateInstance(CLSID_Crypt, nullptr, CLSCTX_INPROC_SERVER, IID_ICrypt, crypt.ReceiveVoid()))) {
        ++unexpected;
        return;
      }
      test::BstrVariant key(L"key");
      crypt->SetKey(*key);
      test::BstrVariant plain(folder + L"\\plain.txt"), encrypted(folder + L"\\plain.txt.bf");
      start.Arrive();
      for (int i = 0; i < kRounds; ++i) {
        if (encrypts) {
          crypt->FileEnCrypt(*plain);
        } else {
          crypt->FileDeCrypt(*encrypted);
        }
        LONG status = 1;
        crypt->IsError(&status);
        // A decrypting thread may also find its input being replaced at that moment.
        const bool inputInFlux = !encrypts && race.writers == Writers::kBoth && status == STATUS_CANNOT_OPEN_INPUT;
        if (status != STATUS_OK && status != STATUS_CANNOT_WRITE_OUTPUT && !inputInFlux && unexpected++ < 10)
          std::printf("thread %d: status %ld\n", t, static_cast<long>(status));
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(unexpected.load(), 0);
  std::vector<std::string> names = dir.Names();
  std::sort(names.begin(), names.end());
  std::vector<std::string> expected = {"plain.txt", "plain.txt.bf"};
  if (race.writers != Writers::kEncrypt) expected.push_back("plain.txt.bf.bf");
  EXPECT_EQ(names, expected) << names.size() - expected.size() << " files left behind";
  if (race.writers != Writers::kEncrypt) {
    EXPECT_EQ(test::ReadFileBytes(folder + L"\\plain.txt.bf.bf"), content) << "the output in place is complete";
  }
  if (race.writers != Writers::kDecrypt) {
    EXPECT_EQ(test::ReadFileBytes(folder + L"\\plain.txt.bf").size(), 100004u) << "the output in place is complete";
  }
}

INSTANTIATE_TEST_SUITE_P(CryptThreads, WritersOfOneOutputFile,
                         ::testing::Values(RaceCase{"TwoEncrypting", 2, Writers::kEncrypt},
                                           RaceCase{"EightEncrypting", 8, Writers::kEncrypt},
                                           RaceCase{"TwoDecrypting", 2, Writers::kDecrypt},
                                           RaceCase{"EightDecrypting", 8, Writers::kDecrypt},
                                           RaceCase{"TwoEncryptingTwoDecrypting", 4, Writers::kBoth}),
                         [](const ::testing::TestParamInfo<RaceCase>& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace corvane
