// Native benchmark of the Blowfish engine beside OpenSSL's BF_ecb_encrypt and
// libgcrypt's Blowfish ECB (both from Debian's -dev packages), plus the key schedules
// and the interleave-width sweep; every kernel set the engine chose among has rows of
// its own beside the engine (which runs the chosen one).
//   engine_bench [--out DIR] [--quick]
// Writes DIR/engine.md, DIR/engine.dat (for gnuplot, tab-separated) and DIR/widths.md.
#define OPENSSL_SUPPRESS_DEPRECATED  // BF_* are deprecated in OpenSSL 3, not gone
#include <gcrypt.h>
#include <openssl/blowfish.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "bench/kernel_report.h"
#include "bench/width_kernels.h"
#include "engine/blowfish_engine.h"
#include "engine/blowfish_kernel_sets.h"

namespace corvane::bench {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t kKiB = 1024, kMiB = 1024 * 1024;

struct Options {
  std::string out = ".";
  bool quick = false;  // few repetitions: a smoke test of the harness, not a measurement
};

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown";
}

// The other libraries read each 4-byte half big-endian; this engine little-endian.
void SwapHalves(const unsigned char* in, unsigned char* out, std::size_t n) {
  for (std::size_t i = 0; i < n; i += 4) {
    out[i] = in[i + 3];
    out[i + 1] = in[i + 2];
    out[i + 2] = in[i + 1];
    out[i + 3] = in[i];
  }
}

struct Gcrypt {
  gcry_cipher_hd_t handle = nullptr;
  Gcrypt() {
    if (!gcry_check_version(GCRYPT_VERSION)) {
      std::fprintf(stderr, "libgcrypt version mismatch\n");
      std::exit(1);
    }
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    if (gcry_cipher_open(&handle, GCRY_CIPHER_BLOWFISH, GCRY_CIPHER_MODE_ECB, 0) != 0) std::exit(1);
  }
  ~Gcrypt() { gcry_cipher_close(handle); }
  void SetKey(const Bytes& key) {
    if (gcry_cipher_setkey(handle, key.data(), key.size()) != 0) std::exit(1);
  }
};

void OpenSslEcb(const BF_KEY& key, const unsigned char* in, unsigned char* out, std::size_t n, int mode) {
  for (std::size_t off = 0; off < n; off += 8) BF_ecb_encrypt(in + off, out + off, &key, mode);
}

// All three must compute the same function before any of them is timed.
void CheckAgreement(const BlowfishEngine& engine, const BF_KEY& ssl, Gcrypt& gcrypt, const Bytes& data) {
  const std::size_t n = data.size();
  Bytes ours(n), swapped(n), theirs(n), back(n);
  engine.Encode(data.data(), ours.data(), static_cast<std::uint32_t>(n));
  SwapHalves(data.data(), swapped.data(), n);
  OpenSslEcb(ssl, swapped.data(), theirs.data(), n, BF_ENCRYPT);
  SwapHalves(theirs.data(), back.data(), n);
  const bool sslAgrees = back == ours;
  gcry_cipher_encrypt(gcrypt.handle, theirs.data(), n, swapped.data(), n);
  SwapHalves(theirs.data(), back.data(), n);
  const bool gcryptAgrees = back == ours;
  engine.Decode(ours.data(), back.data(), static_cast<std::uint32_t>(n));
  if (!sslAgrees || !gcryptAgrees || back != data) {
    std::fprintf(stderr, "implementations disagree (OpenSSL %d, libgcrypt %d)\n", sslAgrees, gcryptAgrees);
    std::exit(1);
  }
}

struct Row {
  std::string operation;
  double bytes;  // 0 for the key schedule
  std::vector<Contender> contenders;  // [0] is OpenSSL, the reference; [3...] the kernel sets
};

// A kernel set on its own, over whole blocks, with tables from its own key schedule.
struct KernelUnderTest {
  const detail::BlowfishKernels* set;
  std::vector<std::uint32_t> P, S;
};

std::string SizeName(std::size_t n) {
  return n >= kMiB ? std::to_string(n / kMiB) + " MiB" : std::to_string(n / kKiB) + " KiB";
}

int Run(const Options& options) {
  std::mt19937 rng(20240);
  Bytes key(16);
  for (auto& c : key) c = static_cast<unsigned char>(rng());

  BlowfishEngine engine;
  engine.Initialize(key.data(), static_cast<std::int32_t>(key.size()));
  BF_KEY ssl;
  BF_set_key(&ssl, static_cast<int>(key.size()), key.data());
  Gcrypt gcrypt;
  gcrypt.SetKey(key);

  const std::size_t largest = 64 * kMiB;
  Bytes input(largest), output(largest);
  for (std::size_t i = 0; i < largest; i += 4) {
    const std::uint32_t r = static_cast<std::uint32_t>(rng());
    std::memcpy(&input[i], &r, 4);
  }
  std::memset(output.data(), 0, largest);
  CheckAgreement(engine, ssl, gcrypt, Bytes(input.begin(), input.begin() + kMiB));

  // The engine's choice among the kernel sets, made at its first key schedule above.
  const std::string choiceText = DescribeChoice();
  std::printf("%s\n\n", choiceText.c_str());
  const detail::KernelChoice* choice = detail::PublishedBlowfishKernelChoice();
  if (choice == nullptr) {
    std::fprintf(stderr, "the engine published no kernel choice\n");
    return 1;
  }
  std::vector<KernelUnderTest> kernelSets;
  for (std::size_t i = 0; i < choice->count; ++i) {
    KernelUnderTest k{choice->candidates[i].set, std::vector<std::uint32_t>(18), std::vector<std::uint32_t>(1024)};
    k.set->schedule(k.P.data(), k.S.data(), key.data(), static_cast<std::uint32_t>(key.size()));
    kernelSets.push_back(std::move(k));
  }

  const int scale = options.quick ? 1 : 0;
  std::vector<Row> rows;

  {  // Key schedule: a 16-byte key, as in the figures of the string operations.
    Row row{"key schedule (16-byte key)", 0, {}};
    BlowfishEngine scratch;
    BF_KEY sslScratch;
    row.contenders.push_back({"OpenSSL BF_set_key", [&] { BF_set_key(&sslScratch, 16, key.data()); }});
    row.contenders.push_back({"libgcrypt setkey", [&] { gcrypt.SetKey(key); }});
    row.contenders.push_back({"Corvane Initialize", [&] { scratch.Initialize(key.data(), 16); }});
    Measure(row.contenders, scale ? 3 : 61, 0.01);
    rows.push_back(std::move(row));
  }

  for (std::size_t n : {4 * kKiB, kMiB, largest}) {
    for (int encode = 1; encode >= 0; --encode) {
      Row row{std::string(encode ? "encode " : "decode ") + SizeName(n), static_cast<double>(n), {}};
      unsigned char* in = input.data();
      unsigned char* out = output.data();
      const std::uint32_t n32 = static_cast<std::uint32_t>(n);
      const int mode = encode ? BF_ENCRYPT : BF_DECRYPT;
      row.contenders.push_back({"OpenSSL BF_ecb_encrypt", [&ssl, in, out, n, mode] { OpenSslEcb(ssl, in, out, n, mode); }});
      row.contenders.push_back({"libgcrypt ECB", [&gcrypt, in, out, n, encode] {
                                  encode ? gcry_cipher_encrypt(gcrypt.handle, out, n, in, n)
                                         : gcry_cipher_decrypt(gcrypt.handle, out, n, in, n);
                                }});
      row.contenders.push_back({"Corvane", [&engine, in, out, n32, encode] {
                                  if (encode) {
                                    engine.Encode(in, out, n32);
                                  } else {
                                    engine.Decode(in, out, n32);
                                  }
                                }});
      for (const KernelUnderTest& k : kernelSets) {
        const detail::BlockFunction run = encode ? k.set->encipher : k.set->decipher;
        const std::uint32_t* P = k.P.data();
        const std::uint32_t* S = k.S.data();
        row.contenders.push_back(
            {"kernel " + KernelName(*k.set), [run, P, S, in, out, n] { run(P, S, in, out, n / 8); }});
      }
      const int repetitions = scale ? 3 : (n == largest ? 7 : 41);
      Measure(row.contenders, repetitions, n == largest ? 0.0 : 0.01, n == largest);
      rows.push_back(std::move(row));
      std::fprintf(stderr, "  %s done\n", rows.back().operation.c_str());
    }
  }

  // What one calibration costs, as the engine ran it at its first use.
  std::vector<const detail::BlowfishKernels*> candidates;
  for (std::size_t i = 0; i < choice->count; ++i) candidates.push_back(choice->candidates[i].set);
  std::vector<Contender> calibration;
  calibration.push_back({"calibration", [&candidates] {
                           detail::KernelChoice scratch;
                           detail::CalibrateBlowfishKernels(candidates.data(), candidates.size(), &scratch);
                         }});
  Measure(calibration, scale ? 3 : 41, 0.01);

  const detail::BlowfishKernels& active = detail::ActiveBlowfishKernels();
  std::ostringstream md;
  md << "CPU: " << CpuModel() << ", " << std::thread::hardware_concurrency() << " logical CPUs.\n\n"
     << "Chooser: " << choiceText << " One calibration takes "
     << Format("%.1f us", MedianSeconds(calibration[0]) * 1e6) << " here (median of repeats of it).\n\n";
  md << "| Operation | OpenSSL | libgcrypt | Corvane | libgcrypt / OpenSSL | Corvane / OpenSSL |\n";
  md << "|---|---:|---:|---:|---:|---:|\n";
  std::ofstream dat(options.out + "/engine.dat");
  dat << "operation\tOpenSSL BF_ecb_encrypt\tlibgcrypt\tCorvane engine";
  for (const KernelUnderTest& k : kernelSets) dat << "\tkernel " << KernelName(*k.set);
  dat << '\n';
  for (const Row& row : rows) {
    const Contender& ref = row.contenders[0];
    if (row.bytes == 0) {
      md << "| " << row.operation;
      for (const auto& c : row.contenders) md << " | " << Format("%.2f us", MedianSeconds(c) * 1e6);
      // For time, the ratio that matters is "how much slower than OpenSSL": time / time.
      md << " | " << Format("%.3f (time)", MedianTimeRatio(row.contenders[1], ref)) << " | "
         << Format("%.3f (time)", MedianTimeRatio(row.contenders[2], ref)) << " |\n";
      continue;
    }
    auto mbps = [&row](const Contender& c) { return MegabytesPerSecond(row.bytes, MedianSeconds(c)); };
    md << "| " << row.operation << " | " << Format("%.0f MB/s", mbps(row.contenders[0])) << " | "
       << Format("%.0f MB/s", mbps(row.contenders[1])) << " | " << Format("%.0f MB/s", mbps(row.contenders[2]))
       << " | " << Format("%.2fx", MedianSpeedup(row.contenders[1], ref)) << " | "
       << Format("%.2fx", MedianSpeedup(row.contenders[2], ref)) << " |\n";
    dat << '"' << row.operation << '"';
    for (const auto& c : row.contenders) dat << '\t' << Format("%.1f", mbps(c));
    dat << '\n';
    for (std::size_t i = 3; i < row.contenders.size(); ++i) {
      const bool chosen = kernelSets[i - 3].set == &active;
      md << "| " << row.operation << ", " << row.contenders[i].name << (chosen ? " (chosen)" : "") << " | | | "
         << Format("%.0f MB/s", mbps(row.contenders[i])) << " | | "
         << Format("%.2fx", MedianSpeedup(row.contenders[i], ref)) << " |\n";
    }
  }
  md << "\nCorvane = BlowfishEngine::Encode/Decode, which runs the chosen kernel; the rows below it each run one "
        "candidate's block function directly (the same buffers, its own copy of the tables). MB/s = 10^6 bytes "
        "per second of the thread's CPU time, median of the repetitions; ratios are medians of the ratios formed "
        "within each repetition (speed for the buffers, time for the key schedule: below 1 is faster). 4 KiB and "
        "1 MiB: 41 repetitions of samples of about 10 ms; 64 MiB: 7 repetitions of one pass after an untimed one; "
        "key schedule: 61 repetitions.\n";
  std::ofstream(options.out + "/engine.md") << md.str();
  std::printf("%s\n", md.str().c_str());

  // The width sweep: 1 MiB encode, every kernel instantiation against OpenSSL.
  std::vector<PairedContender> sweep;
  std::vector<const WidthKernel*> kernels;
  std::vector<std::string> notRun;
  for (auto set : {WidthKernelsPlain, WidthKernelsBmi, WidthKernelsX86Proxy, WidthKernelsX86ProxyBmi, WidthKernelsAvx2,
                   WidthKernelsAvx512}) {
    const WidthKernel* table = nullptr;
    const std::size_t count = set(&table);
    for (std::size_t i = 0; i < count; ++i) {
      if (detail::CpuSupports(table[i].needs)) {
        kernels.push_back(&table[i]);
      } else {
        notRun.push_back(std::string(table[i].variant) + " " + table[i].layout + " x" + std::to_string(table[i].width));
      }
    }
  }
  // The kernels take the engine's tables; a fresh copy made by the active schedule.
  std::vector<std::uint32_t> P(18), S(1024);
  active.schedule(P.data(), S.data(), key.data(), static_cast<std::uint32_t>(key.size()));
  Contender openssl("OpenSSL", [&] { OpenSslEcb(ssl, input.data(), output.data(), kMiB, BF_ENCRYPT); });
  Bytes reference(kMiB);
  engine.Encode(input.data(), reference.data(), static_cast<std::uint32_t>(kMiB));
  for (const WidthKernel* k : kernels) {
    WidthArgs args{P.data(), S.data(), input.data(), output.data(), kMiB / 8};
    k->encipher(&args);
    if (std::memcmp(output.data(), reference.data(), kMiB) != 0) {
      std::fprintf(stderr, "%s x%d %s disagrees with the engine\n", k->layout, k->width, k->variant);
      return 1;
    }
    sweep.push_back({std::string(k->variant) + " " + k->layout + " x" + std::to_string(k->width),
                     [k, args] { k->encipher(&args); }});
  }
  // Both key schedules too, against OpenSSL's, the same way.
  std::vector<PairedContender> schedules;
  std::vector<std::uint32_t> P2(18), S2(1024);
  const detail::BlowfishKernels* sets[detail::kMaxKernelSets];
  const std::size_t setCount = detail::RunnableBlowfishKernels(sets);
  for (std::size_t i = 0; i < setCount; ++i) {
    if (std::string(sets[i]->layout) != "packed") continue;  // the schedule is the same in both layouts
    const detail::ScheduleFunction schedule = sets[i]->schedule;
    schedules.push_back({std::string("key schedule, ") + sets[i]->instructions,
                         [&P2, &S2, &key, schedule] { schedule(P2.data(), S2.data(), key.data(), 16); }});
  }
  BF_KEY sslScratch;
  Contender sslSchedule("BF_set_key", [&] { BF_set_key(&sslScratch, 16, key.data()); });

  const int sweepRepetitions = scale ? 3 : 21;
  MeasurePaired(openssl, sweep, sweepRepetitions, 0.01);
  MeasurePaired(sslSchedule, schedules, sweepRepetitions, 0.01);
  std::ostringstream widths;
  widths << "| Kernel (1 MiB encode) | MB/s | / OpenSSL |\n|---|---:|---:|\n";
  for (const PairedContender& c : sweep)
    widths << "| " << c.name << " | " << Format("%.0f", MegabytesPerSecond(kMiB, MedianSeconds(c))) << " | "
           << Format("%.2fx", MedianPairedSpeedup(c)) << " |\n";
  widths << "\n| Key schedule (16-byte key) | Time | time / BF_set_key |\n|---|---:|---:|\n";
  for (const PairedContender& c : schedules)
    widths << "| " << c.name << " | " << Format("%.2f us", MedianSeconds(c) * 1e6) << " | "
           << Format("%.3f", 1 / MedianPairedSpeedup(c)) << " |\n";
  widths << "\nEach sample is paired with a sample of OpenSSL taken just before or after it; medians of "
            "those ratios over the repetitions. \"x86 proxy\": the split kernels compiled for x64 with r8 to "
            "r15 reserved, so that they have the 7 registers of 32-bit x86 code. \"gather xN\": the vector "
            "kernels with N / 8 (AVX2) or N / 16 (AVX-512F) registers of blocks in flight.\n";
  if (!notRun.empty()) {
    widths << "\nNot run, this CPU lacks their instructions:";
    for (std::size_t i = 0; i < notRun.size(); ++i) widths << (i ? ", " : " ") << notRun[i];
    widths << ".\n";
  }
  std::ofstream(options.out + "/widths.md") << widths.str();
  std::printf("%s\n", widths.str().c_str());
  return 0;
}

}  // namespace
}  // namespace corvane::bench

int main(int argc, char** argv) {
  corvane::bench::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--out" && i + 1 < argc) {
      options.out = argv[++i];
    } else if (arg == "--quick") {
      options.quick = true;
    } else {
      std::fprintf(stderr, "usage: engine_bench [--out DIR] [--quick]\n");
      return 2;
    }
  }
  return corvane::bench::Run(options);
}
