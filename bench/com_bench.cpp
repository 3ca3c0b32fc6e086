// Windows-side benchmark (x64 under wine64, x86 under 32-bit Wine here): Corvane.dll
// loaded by path and driven as a client would, beside the engine's own figures from the
// same process. The x86 build writes its files with the suffix "_x86".
//   com_bench --data DIR [--out DIR] [--quick]
//     enCrypt and deCrypt of a 64-character text per call, through the vtable and
//     through IDispatch::Invoke, against the key schedule alone; FileEnCrypt and
//     FileDeCrypt of a 64 MiB file against the engine's Encode and Decode of 64 MiB,
//     with the peak working set of the call; the peak working set of both for a 1 GiB
//     file (sparse: only the memory is of interest there).
//   com_bench --file-child encrypt|decrypt PATH
//     one file operation in a fresh process (so that its peak working set is the call's
//     own); prints "seconds working-set-before peak-working-set status".
#include <windows.h>
#include <ole2.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/kernel_report.h"
#include "corvane.h"
#include "engine/blowfish_engine.h"
#include "engine/blowfish_kernel_sets.h"

namespace corvane::bench {
namespace {

constexpr std::size_t kFileSize = 64 * 1024 * 1024;
constexpr std::uint64_t kLargeFileSize = std::uint64_t{1} << 30;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr std::size_t kSmallFileSize = 4096;
const wchar_t kKey[] = L"benchmark key 16";  // 16 characters, as in the engine benchmark
constexpr DISPID kDispEnCrypt = 3, kDispDeCrypt = 4;
#ifdef _WIN64
const char kArch[] = "x64", kWine[] = "wine64", kSuffix[] = "";
#else
const char kArch[] = "x86", kWine[] = "32-bit Wine", kSuffix[] = "_x86";
#endif

[[noreturn]] void Fail(const char* what, long code = 0) {
  std::fprintf(stderr, "com_bench: %s (0x%08lX)\n", what, static_cast<unsigned long>(code));
  std::exit(1);
}

struct Server {
  HMODULE module = nullptr;
  ICrypt* crypt = nullptr;

  Server() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) Fail("CoInitializeEx");
    module = LoadLibraryW(CORVANE_DLL_PATH);
    if (module == nullptr) Fail("cannot load Corvane.dll", static_cast<long>(GetLastError()));
    auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(CLSID_Crypt, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) Fail("DllGetClassObject", hr);
    hr = factory->CreateInstance(nullptr, IID_ICrypt, reinterpret_cast<void**>(&crypt));
    factory->Release();
    if (FAILED(hr)) Fail("CreateInstance", hr);
    VARIANT key;
    VariantInit(&key);
    V_VT(&key) = VT_BSTR;
    V_BSTR(&key) = SysAllocString(kKey);
    crypt->SetKey(key);
    VariantClear(&key);
    Check("SetKey");
  }
  ~Server() {
    crypt->Release();
    CoUninitialize();
  }
  // IDispatch::Invoke reads the registered type library: register in this prefix.
  void Register() {
    auto registerServer =
        reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    const HRESULT hr = registerServer();
    if (FAILED(hr)) Fail("DllRegisterServer", hr);
  }
  void Check(const char* what) {
    LONG status = 0;
    crypt->IsError(&status);
    if (status != 0) Fail(what, status);
  }
};

VARIANT Text(const std::wstring& s) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return v;
}

HRESULT Invoke(ICrypt* crypt, DISPID dispid, VARIANT* argument, VARIANT* result) {
  DISPPARAMS params = {argument, nullptr, 1, 0};
  EXCEPINFO exception = {};
  UINT argumentError = 0;
  return crypt->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, &exception,
                       &argumentError);
}

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

// --- the child: one file operation in a process of its own -------------------------

int FileChild(const std::wstring& operation, const std::wstring& path) {
  Server server;
  VARIANT v = Text(path);
  PROCESS_MEMORY_COUNTERS before = {}, after = {};
  before.cb = after.cb = sizeof before;
  GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
  const double start = Now();
  if (operation == L"encrypt") {
    server.crypt->FileEnCrypt(v);
  } else {
    server.crypt->FileDeCrypt(v);
  }
  const double seconds = Now() - start;
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
  VariantClear(&v);
  LONG status = 0;
  server.crypt->IsError(&status);
  std::printf("%.9f %llu %llu %ld\n", seconds, static_cast<unsigned long long>(before.WorkingSetSize),
              static_cast<unsigned long long>(after.PeakWorkingSetSize), static_cast<long>(status));
  return status == 0 ? 0 : 1;
}

struct ChildResult {
  double seconds = 0;
  double before = 0, peak = 0;  // bytes
};

ChildResult RunChild(const wchar_t* operation, const std::wstring& path) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --file-child " + operation + L" \"" + path + L"\"";
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) Fail("CreatePipe");
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
    Fail("CreateProcess", static_cast<long>(GetLastError()));
  CloseHandle(writeEnd);
  std::string text;
  char buffer[256];
  DWORD got = 0;
  while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got != 0) text.append(buffer, got);
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  ChildResult r;
  long status = -1;
  std::istringstream fields(text);
  if (code != 0 || !(fields >> r.seconds >> r.before >> r.peak >> status) || status != 0)
    Fail("file operation failed in the child process", status);
  return r;
}

// --- the parent ----------------------------------------------------------------------

struct Options {
  std::wstring data;
  std::string out = ".";
  bool quick = false;
};

// Random bytes: pages of equal content (all zero, one repeated byte) are merged by some
// hypervisors, and the first write to each of them later costs a fault.
void FillRandom(std::vector<unsigned char>& buffer, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  for (std::size_t i = 0; i + 8 <= buffer.size(); i += 8) {
    const std::uint64_t r = rng();
    std::memcpy(&buffer[i], &r, 8);
  }
}

void WriteSparseFile(const std::wstring& path, std::uint64_t size) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) Fail("cannot create the large data file", static_cast<long>(GetLastError()));
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  const bool ok = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  CloseHandle(h);
  if (!ok) Fail("cannot size the large data file");
}

void WriteRandomFile(const std::wstring& path) {
  std::vector<unsigned char> content(kFileSize);
  FillRandom(content, 64);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) Fail("cannot create the data file", static_cast<long>(GetLastError()));
  DWORD written = 0;
  const BOOL ok = WriteFile(h, content.data(), static_cast<DWORD>(kFileSize), &written, nullptr);
  CloseHandle(h);
  if (!ok || written != kFileSize) Fail("cannot write the data file");
}

// The platform's part of a file operation, measured in this process: first touch of
// fresh memory (the page faults of a new buffer), ReadFile into a touched buffer, and
// WriteFile of a new file.
double TouchFreshMemory() {
  const double start = Now();
  unsigned char* p = static_cast<unsigned char*>(std::malloc(kFileSize));
  if (p == nullptr) Fail("out of memory");
  for (std::size_t off = 0; off < kFileSize; off += 4096) static_cast<volatile unsigned char*>(p)[off] = 1;
  std::free(p);
  return Now() - start;
}

double ReadWhole(const std::wstring& path, unsigned char* buffer) {
  const double start = Now();
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  DWORD got = 0;
  if (h == INVALID_HANDLE_VALUE || !ReadFile(h, buffer, static_cast<DWORD>(kFileSize), &got, nullptr) ||
      got != kFileSize)
    Fail("cannot read the data file");
  CloseHandle(h);
  return Now() - start;
}

// As SFileReadA reads: a new buffer, its pages touched, then ReadFile.
double ReadIntoNewBuffer(const std::wstring& path) {
  const double start = Now();
  unsigned char* p = static_cast<unsigned char*>(std::malloc(kFileSize));
  if (p == nullptr) Fail("out of memory");
  for (std::size_t off = 0; off < kFileSize; off += 4096) static_cast<volatile unsigned char*>(p)[off] = 0;
  ReadWhole(path, p);
  std::free(p);
  return Now() - start;
}

// As the file operations write: a new file beside the target, flushed to the disk
// (FlushFileBuffers) when `flush`, then put in the target's place (which exists from the
// previous repetition, as the .bf file does for FileEnCrypt) with ReplaceFileW.
double WriteWhole(const std::wstring& path, const unsigned char* buffer, bool flush, std::size_t size = kFileSize) {
  const std::wstring temporary = path + L".tmp";
  const double start = Now();
  HANDLE h = CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  DWORD written = 0;
  if (h == INVALID_HANDLE_VALUE || !WriteFile(h, buffer, static_cast<DWORD>(size), &written, nullptr) || written != size)
    Fail("cannot write the scratch file");
  if (flush && !FlushFileBuffers(h)) Fail("cannot flush the scratch file", static_cast<long>(GetLastError()));
  CloseHandle(h);
  const bool replaced = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES
                            ? ReplaceFileW(path.c_str(), temporary.c_str(), nullptr, 0, nullptr, nullptr) != 0
                            : MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
  if (!replaced) Fail("cannot replace the scratch file", static_cast<long>(GetLastError()));
  return Now() - start;
}

int Parent(const Options& options) {
  Server server;
  server.Register();
  const int repetitions = options.quick ? 3 : 31;

  // Engine in this process, keyed as the DLL keys it: the key text's bytes.
  const std::string keyBytes = Narrow(kKey);
  const unsigned char* key = reinterpret_cast<const unsigned char*>(keyBytes.data());
  const std::int32_t keyLength = static_cast<std::int32_t>(keyBytes.size());
  BlowfishEngine engine;
  engine.Initialize(key, keyLength);

  // 64 characters of text.
  const std::wstring plain = L"The quick brown fox jumps over the lazy dog; 64 characters here.";
  if (plain.size() != 64) Fail("the text must be 64 characters");
  VARIANT text = Text(plain);
  VARIANT cipher;
  VariantInit(&cipher);
  server.crypt->enCrypt(text, &cipher);
  server.Check("enCrypt");
  VARIANT check;
  VariantInit(&check);
  if (FAILED(Invoke(server.crypt, kDispDeCrypt, &cipher, &check)) || V_VT(&check) != VT_BSTR ||
      plain != V_BSTR(&check))
    Fail("deCrypt through IDispatch does not give the text back");
  VariantClear(&check);

  std::vector<Contender> calls;
  calls.push_back({"key schedule", [&] { engine.Initialize(key, keyLength); }});
  calls.push_back({"enCrypt, vtable", [&] {
                     VARIANT r;
                     VariantInit(&r);
                     server.crypt->enCrypt(text, &r);
                     VariantClear(&r);
                   }});
  calls.push_back({"enCrypt, IDispatch::Invoke", [&] {
                     VARIANT r;
                     VariantInit(&r);
                     Invoke(server.crypt, kDispEnCrypt, &text, &r);
                     VariantClear(&r);
                   }});
  calls.push_back({"deCrypt, vtable", [&] {
                     VARIANT r;
                     VariantInit(&r);
                     server.crypt->deCrypt(cipher, &r);
                     VariantClear(&r);
                   }});
  calls.push_back({"deCrypt, IDispatch::Invoke", [&] {
                     VARIANT r;
                     VariantInit(&r);
                     Invoke(server.crypt, kDispDeCrypt, &cipher, &r);
                     VariantClear(&r);
                   }});
  Measure(calls, repetitions, 0.02);
  server.Check("calls");

  // Files: the engine over 64 MiB in this process, then each file operation in a child.
  const std::wstring input = options.data + L"\\file64.bin";
  WriteRandomFile(input);
  std::vector<unsigned char> in(kFileSize), out(kFileSize);
  FillRandom(in, 1);
  FillRandom(out, 2);
  const std::uint32_t n = static_cast<std::uint32_t>(kFileSize);
  std::vector<double> encodeSeconds, decodeSeconds, touchSeconds, readSeconds, newReadSeconds, writeSeconds,
      flushedWriteSeconds, smallWriteSeconds, smallFlushedWriteSeconds;
  std::vector<ChildResult> encrypts, decrypts;
  const int fileRepetitions = options.quick ? 2 : 7;
  for (int r = 0; r < fileRepetitions; ++r) {
    // The engine's own throughput: each timed pass follows an untimed one over the same
    // buffers. (Wine starts a process with fork(), which leaves every page of this one
    // copy-on-write: the first write to each after a child has started faults.)
    engine.Encode(in.data(), out.data(), n);
    double start = Now();
    engine.Encode(in.data(), out.data(), n);
    encodeSeconds.push_back(Now() - start);
    engine.Decode(out.data(), in.data(), n);
    start = Now();
    engine.Decode(out.data(), in.data(), n);
    decodeSeconds.push_back(Now() - start);
    touchSeconds.push_back(TouchFreshMemory());
    readSeconds.push_back(ReadWhole(input, out.data()));  // written just before: no copy-on-write faults
    newReadSeconds.push_back(ReadIntoNewBuffer(input));
    // Without and with the flush, in an order that alternates: the flush's share.
    const std::wstring scratch = options.data + L"\\scratch.bin";
    if (r % 2 == 0) {
      writeSeconds.push_back(WriteWhole(scratch, out.data(), false));
      flushedWriteSeconds.push_back(WriteWhole(scratch, out.data(), true));
    } else {
      flushedWriteSeconds.push_back(WriteWhole(scratch, out.data(), true));
      writeSeconds.push_back(WriteWhole(scratch, out.data(), false));
    }
    // A small file, where the flush is most of the work: 20 of each, alternating.
    const std::wstring small = options.data + L"\\small.bin";
    for (int k = 0; k < 20; ++k) {
      smallWriteSeconds.push_back(WriteWhole(small, out.data(), false, kSmallFileSize));
      smallFlushedWriteSeconds.push_back(WriteWhole(small, out.data(), true, kSmallFileSize));
    }
    encrypts.push_back(RunChild(L"encrypt", input));
    decrypts.push_back(RunChild(L"decrypt", input + L".bf"));
  }
  // 1 GiB: the memory of a call does not grow with the file.
  const std::wstring large = options.data + L"\\file1g.bin";
  WriteSparseFile(large, kLargeFileSize);
  std::vector<ChildResult> largeEncrypts, largeDecrypts;
  for (int r = 0; r < (options.quick ? 1 : 3); ++r) {
    largeEncrypts.push_back(RunChild(L"encrypt", large));
    largeDecrypts.push_back(RunChild(L"decrypt", large + L".bf"));
  }
  DeleteFileW((large + L".bf.bf").c_str());
  DeleteFileW((large + L".bf").c_str());
  DeleteFileW(large.c_str());

  std::ostringstream md;
  md << "Corvane.dll (" << kArch << ") under " << kWine << "; in this process, " << DescribeChoice() << "\n\n";
  md << "| Call (64-character text; key schedule: the engine's Initialize in this process) | Time per call | "
        "/ key schedule |\n|---|---:|---:|\n";
  for (const Contender& c : calls)
    md << "| " << c.name << " | " << Format("%.2f us", MedianSeconds(c) * 1e6) << " | "
       << Format("%.2fx", MedianTimeRatio(c, calls[0])) << " |\n";

  auto mbps = [](double seconds) { return MegabytesPerSecond(static_cast<double>(kFileSize), seconds); };
  auto fileRow = [&](const char* name, const std::vector<ChildResult>& results, const std::vector<double>& engineSeconds) {
    std::vector<double> seconds, ratio, growth, peak;
    for (std::size_t r = 0; r < results.size(); ++r) {
      seconds.push_back(results[r].seconds);
      ratio.push_back(engineSeconds[r] / results[r].seconds);
      growth.push_back((results[r].peak - results[r].before) / kMiB);
      peak.push_back(results[r].peak / kMiB);
    }
    md << "| " << name << " | " << Format("%.0f MB/s", mbps(Median(seconds))) << " | "
       << Format("%.0f MB/s", mbps(Median(engineSeconds))) << " | " << Format("%.0f%%", 100 * Median(ratio)) << " | "
       << Format("%.1f MiB", Median(growth)) << " | " << Format("%.1f MiB", Median(peak)) << " |\n";
  };
  md << "\n| File operation (64 MiB) | Throughput | Engine alone | File / engine | Peak working set growth "
        "| Peak working set |\n|---|---:|---:|---:|---:|---:|\n";
  fileRow("FileEnCrypt", encrypts, encodeSeconds);
  fileRow("FileDeCrypt", decrypts, decodeSeconds);
  auto largeRow = [&](const char* name, const std::vector<ChildResult>& results) {
    std::vector<double> seconds, growth, peak;
    for (const ChildResult& r : results) {
      seconds.push_back(r.seconds);
      growth.push_back((r.peak - r.before) / kMiB);
      peak.push_back(r.peak / kMiB);
    }
    md << "| " << name << " | " << Format("%.0f MB/s", MegabytesPerSecond(static_cast<double>(kLargeFileSize),
                                                                           Median(seconds)))
       << " | " << Format("%.1f MiB", Median(growth)) << " | " << Format("%.1f MiB", Median(peak)) << " |\n";
  };
  md << "\n| File operation (1 GiB, sparse input) | Throughput | Peak working set growth | Peak working set |\n"
        "|---|---:|---:|---:|\n";
  largeRow("FileEnCrypt", largeEncrypts);
  largeRow("FileDeCrypt", largeDecrypts);
  md << "\n| Platform part, 64 MiB, same repetitions | Time |\n|---|---:|\n";
  md << "| first touch of fresh memory (page faults of a new buffer) | " << Format("%.3f s", Median(touchSeconds))
     << " |\n| ReadFile into a buffer in use (page cache to memory) | " << Format("%.3f s", Median(readSeconds))
     << " |\n| read into a new buffer, pages touched, then ReadFile (as SFileReadA reads a whole file) | "
     << Format("%.3f s", Median(newReadSeconds))
     << " |\n| WriteFile of a new file put over the previous one (ReplaceFileW), not flushed | "
     << Format("%.3f s", Median(writeSeconds))
     << " |\n| the same with FlushFileBuffers before the replacement, as the file operations write | "
     << Format("%.3f s", Median(flushedWriteSeconds)) << " |\n";
  {
    std::vector<double> flushCost;
    for (std::size_t r = 0; r < writeSeconds.size(); ++r) flushCost.push_back(flushedWriteSeconds[r] - writeSeconds[r]);
    md << "| the flush's cost (difference within a repetition) | " << Format("%.3f s", Median(flushCost)) << " |\n";
    md << "| a 4 KiB file written and put over the previous one, not flushed | "
       << Format("%.2f ms", Median(smallWriteSeconds) * 1e3) << " |\n| the same, flushed | "
       << Format("%.2f ms", Median(smallFlushedWriteSeconds) * 1e3) << " |\n";
  }
  {
    // FileEnCrypt streams: reads into a chunk in use, Encode, the write and its flush.
    std::vector<double> parts, whole;
    for (std::size_t r = 0; r < encrypts.size(); ++r) {
      parts.push_back(readSeconds[r] + encodeSeconds[r] + flushedWriteSeconds[r]);
      whole.push_back(encrypts[r].seconds);
    }
    md << "| sum for FileEnCrypt: ReadFile into a buffer in use + Encode + flushed write | "
       << Format("%.3f s", Median(parts)) << " |\n| FileEnCrypt measured | " << Format("%.3f s", Median(whole))
       << " |\n";
  }
  md << "\nMedians over the repetitions; ratios formed within a repetition. Each file operation runs in a fresh "
        "process (so its peak working set is the call's own); \"growth\" is the peak minus the working set just "
        "before the call, the last column the process's whole peak (Wine's own pages included). The file is read "
        "from the page cache. Under Wine, FlushFileBuffers is an fsync of the Linux file: the flush's cost is the "
        "disk's.\n";

  const std::string suffix = kSuffix;
  std::ofstream(options.out + "/com" + suffix + ".md") << md.str();
  std::printf("%s\n", md.str().c_str());
  std::ofstream calls_dat(options.out + "/calls" + suffix + ".dat");
  calls_dat << "# call microseconds (medians)\n";
  for (const Contender& c : calls) calls_dat << '"' << c.name << "\" " << Format("%.2f", MedianSeconds(c) * 1e6) << '\n';
  std::ofstream dat(options.out + "/com" + suffix + ".dat");
  dat << "# operation MB/s engine-MB/s (medians)\n";
  std::vector<double> es, ds;
  for (const auto& r : encrypts) es.push_back(r.seconds);
  for (const auto& r : decrypts) ds.push_back(r.seconds);
  dat << "\"FileEnCrypt\" " << Format("%.1f", mbps(Median(es))) << ' ' << Format("%.1f", mbps(Median(encodeSeconds)))
      << "\n\"FileDeCrypt\" " << Format("%.1f", mbps(Median(ds))) << ' ' << Format("%.1f", mbps(Median(decodeSeconds)))
      << '\n';

  DeleteFileW((options.data + L"\\scratch.bin").c_str());
  DeleteFileW((options.data + L"\\small.bin").c_str());
  DeleteFileW(input.c_str());
  DeleteFileW((input + L".bf").c_str());
  DeleteFileW((input + L".bf.bf").c_str());
  VariantClear(&text);
  VariantClear(&cipher);
  return 0;
}

}  // namespace
}  // namespace corvane::bench

int wmain(int argc, wchar_t** argv) {
  using namespace corvane::bench;
  if (argc == 4 && std::wstring(argv[1]) == L"--file-child") return FileChild(argv[2], argv[3]);
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--data" && i + 1 < argc) {
      options.data = argv[++i];
    } else if (arg == L"--out" && i + 1 < argc) {
      options.out = Narrow(argv[++i]);
    } else if (arg == L"--quick") {
      options.quick = true;
    } else {
      std::fprintf(stderr, "usage: com_bench --data DIR [--out DIR] [--quick]\n");
      return 2;
    }
  }
  if (options.data.empty()) {
    std::fprintf(stderr, "com_bench: --data DIR is required\n");
    return 2;
  }
  return Parent(options);
}
