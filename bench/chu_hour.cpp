// SPDX-License-Identifier: GPL-3.0-or-later
// CHU: what its Bell 103 demodulator costs, and where the station decodes.
//
// BM_ChuLoopCost: one hour of CHU's simulated audio through the whole loop twice, taking turns
// (bench/loop_bench.h): once as CHU (front end, minute marker, demodulator, frame reader, clock
// step) and once as DCF77 (the same front end and a decoder, no demodulator). Counters:
// chu_s_per_hour and base_s_per_hour, CPU seconds per hour of audio; fsk_share = (chu - base) /
// base, the share of the loop that CHU's code adds; fsk_alone_share, the demodulator alone over
// the same hour, timed in the same run, over the baseline loop.
//
// BM_ChuReception: ten minutes of audio at a given tone-to-noise ratio over 0..4 kHz
// (receiver's snr_db), amplitude and fading depth (60 s period), two seeds; counters:
// right_writes and wrong_writes (a write is right when it is within 20 ms of the true time of
// the block that made it), of 20 minutes heard; first_s, the audio before the first write of the
// first seed (the run starts at 13:05:00).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "app/varnol_doc.h"
#include "capture/source_wave_input.h"
#include "decoders/chu_fsk.h"
#include "loop_bench.h"
#include "platform/linux_clock.h"
#include "simulator/chu_code.h"
#include "simulator/receiver.h"

namespace {

constexpr int64_t StartUtc = 1796648700;  // 2026-12-07 13:05:00 UTC
constexpr double CardRate = 3756.0 * 128.0 / 60.0;

std::vector<int16_t> Audio(double seconds, double snr_db, double amplitude, double fade, uint64_t seed) {
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(StartUtc);
  rs.duration_s = seconds;
  rs.snr_db = snr_db;
  rs.amplitude = amplitude;
  rs.fade_depth = fade;
  rs.seed = seed;
  SimulatedReceiver rx(MakeChuEncoder(), rs);
  std::vector<int16_t> samples(static_cast<size_t>(seconds * rs.card_rate) + BufferSamples);
  samples.resize(rx.Read(samples.data(), samples.size()));
  return samples;
}

struct Run {
  explicit Run(const std::vector<int16_t>& audio, int mode)
      : wave(std::make_unique<bench::MemorySource>(audio)), clock(StartUtc), doc(wave, clock, dialog) {
    doc.StationMode = mode;
    doc.AutoSetClock = 1;
    clock.FollowBlocks(&doc.BlocksProcessed);
    doc.SnapshotPath.clear();
    doc.StartCapture();
  }
  SourceWaveInput wave;
  SimulatedClock clock;
  bench::NoDialog dialog;
  CVarnolDoc doc;
};

void BM_ChuLoopCost(benchmark::State& state) {
  const std::vector<int16_t> audio = Audio(3600.0, 10.0, 600.0, 0.0, 1);
  const double hours = static_cast<double>(audio.size()) / CardRate / 3600.0;
  double chu = 0.0, base = 0.0, alone = 0.0;
  for (auto _ : state) {
    Run a(audio, StationChu), b(audio, StationDcf77);
    auto none = [] {};
    bench::TimedLoop<decltype(none)> ta{a.wave, a.doc, none}, tb{b.wave, b.doc, none};
    bench::TakeTurns(ta, tb);
    chu += ta.busy;
    base += tb.busy;
    ChuFsk fsk;
    const double t0 = bench::ThreadCpuSeconds();
    for (size_t pos = 0; pos + BlockSize <= audio.size(); pos += BlockSize) {
      fsk.Process(audio.data() + pos, BlockSize);
      ChuFrame f;
      while (fsk.TakeFrame(f)) benchmark::DoNotOptimize(f);
    }
    alone += bench::ThreadCpuSeconds() - t0;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["chu_s_per_hour"] = chu / n / hours;
  state.counters["base_s_per_hour"] = base / n / hours;
  state.counters["fsk_share"] = (chu - base) / base;
  state.counters["fsk_alone_share"] = alone / base;
}

class Writes : public DocObserver {
 public:
  explicit Writes(const CVarnolDoc& doc) : doc_(doc) {}
  void OnClockWrite(const SYSTEMTIME& st, bool ok) override {
    if (!ok) return;
    const double written = static_cast<double>(UnixFromSystemTime(st)) + st.wMilliseconds / 1000.0;
    const double truth =
        static_cast<double>(StartUtc) + static_cast<double>(doc_.BlocksProcessed) * 128.0 / CardRate;
    (std::fabs(written - truth) <= 0.020 ? right : wrong) += 1;
    if (first < 0) first = truth - static_cast<double>(StartUtc);
  }
  int right = 0, wrong = 0;
  double first = -1.0;

 private:
  const CVarnolDoc& doc_;
};

void BM_ChuReception(benchmark::State& state) {
  const double snr = static_cast<double>(state.range(0));
  const double amplitude = static_cast<double>(state.range(1));
  const double fade = static_cast<double>(state.range(2)) / 10.0;
  int right = 0, wrong = 0;
  double first = -1.0;
  for (auto _ : state) {
    right = wrong = 0;
    for (uint64_t seed = 1; seed <= 2; ++seed) {
      const std::vector<int16_t> audio = Audio(600.0, snr, amplitude, fade, seed);
      Run r(audio, StationChu);
      Writes w(r.doc);
      r.doc.AddObserver(&w);
      while (r.wave.Pump()) r.doc.ProcessCaptureBuffer();
      r.doc.RemoveObserver(&w);
      right += w.right;
      wrong += w.wrong;
      if (seed == 1) first = w.first;
    }
  }
  state.counters["right_writes"] = right;
  state.counters["wrong_writes"] = wrong;
  state.counters["first_s"] = first;
}

}  // namespace

BENCHMARK(BM_ChuLoopCost)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
// snr dB, amplitude, fading depth in tenths
BENCHMARK(BM_ChuReception)
    ->ArgsProduct({{10, 3, 0, -3, -6}, {600}, {0}})
    ->ArgsProduct({{10, 3}, {50, 3000}, {0}})
    ->ArgsProduct({{10, 3}, {600}, {5, 8}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

BENCHMARK_MAIN();
