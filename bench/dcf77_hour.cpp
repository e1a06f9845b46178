// SPDX-License-Identifier: GPL-3.0-or-later
// One hour of simulated DCF77 audio through the clock's whole per-buffer loop (front end and
// decoder), against the front end alone as the baseline measured in the same run.
// Reported: real-time factor (audio seconds per second of CPU) and the loop/front-end ratio.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "app/varnol_doc.h"
#include "capture/source_wave_input.h"
#include "platform/linux_clock.h"
#include "simulator/receiver.h"
#include "loop_bench.h"

namespace {

constexpr double kStart = 1796648700.0;  // 2026-12-07T13:05:00Z

const std::vector<int16_t>& HourOfAudio() {
  static const std::vector<int16_t> audio = [] {
    ReceiverSettings rs;
    rs.start_utc = kStart;
    rs.duration_s = 3600.0;
    SimulatedReceiver rx(MakeEncoder("dcf77"), rs);
    std::vector<int16_t> v(static_cast<size_t>(3600.0 * rs.card_rate) + 4096);
    v.resize(rx.Read(v.data(), v.size()));
    return v;
  }();
  return audio;
}

double AudioSeconds() { return static_cast<double>(HourOfAudio().size()) / 8000.0; }

void BM_WholeLoopOneHour(benchmark::State& state) {
  const auto& audio = HourOfAudio();
  int resets = 0;
  for (auto _ : state) {
    SourceWaveInput wave(std::make_unique<bench::MemorySource>(audio));
    SimulatedClock clock(static_cast<int64_t>(kStart));
    bench::NoDialog dialog;
    CVarnolDoc doc(wave, clock, dialog);
    clock.FollowBlocks(&doc.BlocksProcessed);
    doc.StationMode = StationDcf77;
    doc.StartCapture();
    while (wave.Pump()) doc.ProcessCaptureBuffer();
    resets = doc.LastMinuteOfDay;
    doc.Stopped = 1;  // no snapshot file from a benchmark
  }
  benchmark::DoNotOptimize(resets);
  state.counters["realtime_x"] =
      benchmark::Counter(AudioSeconds() * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Baseline: the same blocks through the front end only (transform, level, trackers, ring).
void BM_FrontEndOnlyOneHour(benchmark::State& state) {
  const auto& audio = HourOfAudio();
  SourceWaveInput wave(std::make_unique<bench::MemorySource>(audio));
  SimulatedClock clock(static_cast<int64_t>(kStart));
  bench::NoDialog dialog;
  auto doc = std::make_unique<CVarnolDoc>(wave, clock, dialog);
  for (auto _ : state) {
    for (size_t s = 0; s + BlockSize <= audio.size(); s += BlockSize) {
      doc->LevelStep(audio.data() + s);
      doc->DecisionStep();
      doc->RingIndex = (doc->RingIndex + 1) % doc->BlocksPerMinute;
      doc->DisplayColumn = (doc->DisplayColumn + 1) % TraceColumns;
    }
  }
  benchmark::DoNotOptimize(doc->Threshold);
  state.counters["realtime_x"] =
      benchmark::Counter(AudioSeconds() * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_FrontEndOnlyOneHour)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WholeLoopOneHour)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
