// Timing shared by the benchmarks. The machines are shared and busy, so no single time
// means much: every repetition runs all contenders of a case one after the other (in an
// order that rotates from one repetition to the next), ratios are formed within a
// repetition, and the report gives medians over the repetitions.
#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace corvane::bench {

// The clock of the samples. Natively the thread's CPU time: what the scheduler gives to
// the other jobs of a shared machine is not counted. Under Wine the Windows thread
// times advance in 10 ms steps, so wall time there.
inline double Now() {
#ifdef __linux__
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
#else
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Contender {
  Contender(std::string n, std::function<void()> r) : name(std::move(n)), run(std::move(r)) {}
  std::string name;
  std::function<void()> run;  // one operation
  long iterations = 1;        // operations per sample, from Calibrate
  std::vector<double> seconds;  // per operation, one entry per repetition
};

// Operations per sample so that a sample lasts about `target` seconds (at least one).
inline void Calibrate(Contender& c, double target) {
  c.run();  // warm caches and tables
  long n = 1;
  for (;;) {
    const double start = Now();
    for (long i = 0; i < n; ++i) c.run();
    const double t = Now() - start;
    if (t >= target / 4 || n >= (1L << 30)) {
      c.iterations = std::max(1L, static_cast<long>(static_cast<double>(n) * target / std::max(t, 1e-9)));
      return;
    }
    n *= 4;
  }
}

// `repetitions` rounds; in each, every contender takes one sample. With `warm`, each
// sample follows an untimed operation: for buffers of many megabytes, whose pages may
// have gone cold since the contender last wrote them (on the benchmark machine, a
// virtual machine, the first write to a page not written for a while costs a fault).
inline void Measure(std::vector<Contender>& contenders, int repetitions, double target, bool warm = false) {
  for (auto& c : contenders) Calibrate(c, target);
  const std::size_t k = contenders.size();
  for (int r = 0; r < repetitions; ++r) {
    for (std::size_t i = 0; i < k; ++i) {
      Contender& c = contenders[(i + static_cast<std::size_t>(r)) % k];
      if (warm) c.run();
      const double start = Now();
      for (long n = 0; n < c.iterations; ++n) c.run();
      c.seconds.push_back((Now() - start) / static_cast<double>(c.iterations));
    }
  }
}

// For many contenders against one reference: each contender's sample is taken right
// next to a sample of the reference (before it in even repetitions, after it in odd
// ones), so each ratio compares two samples a few milliseconds apart; the reference's
// samples are kept per contender in `pairedReference`.
struct PairedContender : Contender {
  using Contender::Contender;
  std::vector<double> pairedReference;
};

inline void MeasurePaired(Contender& reference, std::vector<PairedContender>& contenders, int repetitions,
                          double target) {
  Calibrate(reference, target);
  for (auto& c : contenders) Calibrate(c, target);
  auto sample = [](Contender& c) {
    const double start = Now();
    for (long n = 0; n < c.iterations; ++n) c.run();
    return (Now() - start) / static_cast<double>(c.iterations);
  };
  for (int r = 0; r < repetitions; ++r) {
    for (auto& c : contenders) {
      if (r % 2 == 0) {
        c.pairedReference.push_back(sample(reference));
        c.seconds.push_back(sample(c));
      } else {
        c.seconds.push_back(sample(c));
        c.pairedReference.push_back(sample(reference));
      }
    }
  }
}

inline double MedianPairedSpeedup(const PairedContender& c) {
  std::vector<double> ratios;
  for (std::size_t r = 0; r < c.seconds.size(); ++r) ratios.push_back(c.pairedReference[r] / c.seconds[r]);
  return Median(ratios);
}

inline double MedianSeconds(const Contender& c) { return Median(c.seconds); }

// Median over repetitions of reference time / contender time (above 1: faster).
inline double MedianSpeedup(const Contender& c, const Contender& reference) {
  std::vector<double> ratios;
  for (std::size_t r = 0; r < c.seconds.size() && r < reference.seconds.size(); ++r)
    ratios.push_back(reference.seconds[r] / c.seconds[r]);
  return Median(ratios);
}

// Median over repetitions of contender time / reference time (above 1: slower).
inline double MedianTimeRatio(const Contender& c, const Contender& reference) {
  std::vector<double> ratios;
  for (std::size_t r = 0; r < c.seconds.size() && r < reference.seconds.size(); ++r)
    ratios.push_back(c.seconds[r] / reference.seconds[r]);
  return Median(ratios);
}

inline double MegabytesPerSecond(double bytes, double seconds) { return bytes / seconds / 1e6; }

inline std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace corvane::bench
