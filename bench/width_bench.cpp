// The split kernels' interleave widths against the one-block loop (split x1 without
// BMI1), 1 MiB encode: how the x86 width is chosen. Built twice (bench/CMakeLists.txt):
// in the x86 build, the kernels as the i686 compiler makes them, run under 32-bit Wine;
// natively, the x64 "proxies" limited to the 7 registers of 32-bit code.
//   width_bench [--dat FILE] [--quick]
// Prints a Markdown table; FILE gets "variant<TAB>width<TAB>MB/s<TAB>ratio" rows.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/kernel_report.h"
#include "bench/width_kernels.h"

namespace corvane::bench {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

int Run(const std::string& datPath, bool quick) {
  std::printf("%s\n\n", DescribeChoice().c_str());

  std::vector<const WidthKernel*> kernels;
#ifdef CORVANE_WIDTH_BENCH_X86
  const auto sets = {WidthKernelsPlain, WidthKernelsBmi};
#else
  const auto sets = {WidthKernelsX86Proxy, WidthKernelsX86ProxyBmi};
#endif
  for (auto set : sets) {
    const WidthKernel* table = nullptr;
    const std::size_t count = set(&table);
    for (std::size_t i = 0; i < count; ++i) {
      if (std::string(table[i].layout) == "split" && detail::CpuSupports(table[i].needs)) kernels.push_back(&table[i]);
    }
  }
  if (kernels.empty() || kernels[0]->width != 1) {
    std::fprintf(stderr, "width_bench: no one-block reference\n");
    return 1;
  }

  std::mt19937 rng(20240);
  std::vector<unsigned char> key(16), input(kMiB), output(kMiB), reference(kMiB);
  for (auto& c : key) c = static_cast<unsigned char>(rng());
  for (auto& c : input) c = static_cast<unsigned char>(rng());
  std::vector<std::uint32_t> P(18), S(1024);
  detail::ActiveBlowfishKernels().schedule(P.data(), S.data(), key.data(), static_cast<std::uint32_t>(key.size()));

  // Every kernel must give the one-block loop's bytes before it is timed.
  const WidthArgs args{P.data(), S.data(), input.data(), output.data(), kMiB / 8};
  const WidthArgs referenceArgs{P.data(), S.data(), input.data(), reference.data(), kMiB / 8};
  kernels[0]->encipher(&referenceArgs);
  std::vector<PairedContender> contenders;
  for (const WidthKernel* k : kernels) {
    k->encipher(&args);
    if (std::memcmp(output.data(), reference.data(), kMiB) != 0) {
      std::fprintf(stderr, "%s %s x%d disagrees with the one-block loop\n", k->variant, k->layout, k->width);
      return 1;
    }
    contenders.push_back({std::string(k->variant) + " " + k->layout + " x" + std::to_string(k->width),
                          [k, args] { k->encipher(&args); }});
  }
  Contender oneBlock("one-block loop", [k = kernels[0], args] { k->encipher(&args); });
  MeasurePaired(oneBlock, contenders, quick ? 3 : 21, 0.01);

  std::ofstream dat;
  if (!datPath.empty()) dat.open(datPath);
  std::printf("| Kernel (1 MiB encode) | MB/s | / split x1 |\n|---|---:|---:|\n");
  for (std::size_t i = 0; i < contenders.size(); ++i) {
    const double mbps = MegabytesPerSecond(kMiB, MedianSeconds(contenders[i]));
    const double ratio = MedianPairedSpeedup(contenders[i]);
    std::printf("| %s | %.0f | %.2fx |\n", contenders[i].name.c_str(), mbps, ratio);
    if (dat) dat << kernels[i]->variant << '\t' << kernels[i]->width << '\t' << Format("%.1f", mbps) << '\t'
                 << Format("%.3f", ratio) << '\n';
  }
  std::printf("\nEach sample paired with a sample of the one-block loop (split x1 without BMI1) taken just before "
              "or after it; medians over %d repetitions.\n",
              quick ? 3 : 21);
  return 0;
}

}  // namespace
}  // namespace corvane::bench

int main(int argc, char** argv) {
  std::string dat;
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dat" && i + 1 < argc) {
      dat = argv[++i];
    } else if (arg == "--quick") {
      quick = true;
    } else {
      std::fprintf(stderr, "usage: width_bench [--dat FILE] [--quick]\n");
      return 2;
    }
  }
  return corvane::bench::Run(dat, quick);
}
