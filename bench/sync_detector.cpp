// SPDX-License-Identifier: GPL-3.0-or-later
// The block measures side by side, per block of 128 samples: the 100 Hz synchronous detector
// of WWV/WWVH, the same detector written with separate cosine and sine calls, and the
// spectrum measure of the other stations. Compare the times of one run with each other.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "app/varnol_doc.h"
#include "capture/source_wave_input.h"
#include "platform/linux_clock.h"
#include "loop_bench.h"

namespace {

std::vector<int16_t> NoisyBlocks(int blocks) {
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, 300.0);
  std::vector<int16_t> x(static_cast<size_t>(blocks) * BlockSize);
  for (size_t n = 0; n < x.size(); ++n)
    x[n] = static_cast<int16_t>(std::lround(600.0 * std::sin(0.0784 * static_cast<double>(n)) + noise(rng)));
  return x;
}

constexpr int Blocks = 4096;

struct Fixture {
  SourceWaveInput wave{nullptr};
  SimulatedClock clock{0};
  bench::NoDialog dialog;
  CVarnolDoc doc{wave, clock, dialog};
  std::vector<int16_t> x = NoisyBlocks(Blocks);
};

void BM_SyncDetector(benchmark::State& state) {
  Fixture f;
  size_t b = 0;
  for (auto _ : state) {
    f.doc.RunSyncDetector(f.x.data() + b * BlockSize);
    b = (b + 1) % Blocks;
  }
  benchmark::DoNotOptimize(f.doc.LevelTrace[0]);
  state.SetItemsProcessed(state.iterations() * BlockSize);
}

// The detector's inner loop with cos and sin called one by one (the calls go through volatile
// pointers so that the compiler cannot merge them into one).
void BM_SyncDetectorSeparateCalls(benchmark::State& state) {
  const std::vector<int16_t> x = NoisyBlocks(Blocks);
  double (*volatile cosine)(double) = std::cos;
  double (*volatile sine)(double) = std::sin;
  double phase = 0.0;
  double out = 0.0;
  size_t b = 0;
  for (auto _ : state) {
    const int16_t* block = x.data() + b * BlockSize;
    double i_sum = 0.0, q_sum = 0.0;
    for (int n = 0; n < BlockSize; ++n) {
      const double s = static_cast<double>(block[n]);
      i_sum += cosine(phase) * s;
      q_sum += sine(phase) * s;
      phase += SyncPhaseStep;
      if (phase > SyncPhaseWrap) phase -= SyncPhaseWrap;
    }
    out += i_sum + q_sum;
    b = (b + 1) % Blocks;
  }
  benchmark::DoNotOptimize(out);
  state.SetItemsProcessed(state.iterations() * BlockSize);
}

void BM_SpectrumLevelStep(benchmark::State& state) {
  Fixture f;
  size_t b = 0;
  for (auto _ : state) {
    f.doc.LevelStep(f.x.data() + b * BlockSize);
    b = (b + 1) % Blocks;
  }
  benchmark::DoNotOptimize(f.doc.LevelTrace[0]);
  state.SetItemsProcessed(state.iterations() * BlockSize);
}

}  // namespace

BENCHMARK(BM_SyncDetector);
BENCHMARK(BM_SyncDetectorSeparateCalls);
BENCHMARK(BM_SpectrumLevelStep);

BENCHMARK_MAIN();
