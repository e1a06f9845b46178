// SPDX-License-Identifier: GPL-3.0-or-later
// How well the second epochs find the seconds, on the simulated receiver through the whole
// processing loop (the document's decoders accept the minutes that label the seconds):
//
//   BM_Accuracy/<station>/<snr>/<card>: 15 minutes with slow fading (depth 0.5, 300 s period),
//     the card 0.1 % fast or slow (CHU: 0, 3 and 10 dB, the card 0.1 % fast or nominal).
//     Counters: med_ms and p95_ms = median and 95th percentile of
//     |epoch's sample - true sample of that second's marker| in milliseconds; share = epochs
//     yielded per second of audio; share_locked = the same from the first epoch on;
//     wrong = epochs whose label is not the second they mark (must be 0).
//   BM_Day/<station>: 24 hours at 10 dB with fading (depth 0.6, 300 s period) and noise bursts
//     (50 ms to 2 s of strong noise every 45 to 150 s): seconds = epochs yielded, wrong = wrongly
//     labelled ones among them, plus med_ms and p95_ms.
//   BM_Cost: one hour of DCF77 through the loop alone and through the loop with the epochs
//     beside it, in the same run, taking turns of 16 s of audio: epochs_vs_loop = the extra
//     time over the loop's own.
//
// The audio is made as it is consumed (a day would not fit in memory); the simulated receiver
// is the same for every case, so its cost is common to all.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/varnol_doc.h"
#include "capture/sample_source.h"
#include "capture/source_wave_input.h"
#include "platform/linux_clock.h"
#include "simulator/receiver.h"
#include "timing/second_epochs.h"
#include "loop_bench.h"

namespace {

constexpr int64_t StartUtc = 1796648400;  // 2026-12-07 13:00:00 UTC
constexpr double StartOffset = 17.3;      // seconds: the capture starts mid-minute
constexpr double NominalRate = 3756.0 * 128.0 / 60.0;

// Strong noise now and then over the receiver's audio: lightning crashes, a motor nearby.
class NoiseBursts : public SampleSource {
 public:
  NoiseBursts(std::unique_ptr<SampleSource> inner, uint64_t seed) : inner_(std::move(inner)), rng_(seed) {
    ScheduleNext();
  }
  size_t Read(int16_t* out, size_t count) override {
    const size_t n = inner_->Read(out, count);
    for (size_t i = 0; i < n; ++i, ++pos_) {
      if (pos_ >= burst_end_) ScheduleNext();
      if (pos_ < burst_begin_) continue;
      const double v = out[i] + 3000.0 * normal_(rng_);
      out[i] = static_cast<int16_t>(std::clamp(std::round(v), -32768.0, 32767.0));
    }
    return n;
  }

 private:
  void ScheduleNext() {
    std::uniform_real_distribution<double> gap(45.0, 150.0), length(0.05, 2.0);
    burst_begin_ = pos_ + static_cast<int64_t>(gap(rng_) * NominalRate);
    burst_end_ = burst_begin_ + static_cast<int64_t>(length(rng_) * NominalRate);
  }
  std::unique_ptr<SampleSource> inner_;
  std::mt19937_64 rng_;
  std::normal_distribution<double> normal_{0.0, 1.0};
  int64_t pos_ = 0, burst_begin_ = 0, burst_end_ = 0;
};

struct RunResult {
  std::vector<double> errors_ms;  // |error| of every rightly labelled epoch
  int64_t wrong = 0;
  double seconds = 0.0;         // of audio
  double first_epoch_s = -1.0;  // seconds of audio before the first epoch
};

RunResult Run(const std::string& station, int mode, ReceiverSettings rs, bool bursts) {
  std::unique_ptr<SampleSource> source = std::make_unique<SimulatedReceiver>(MakeEncoder(station), rs);
  if (bursts) source = std::make_unique<NoiseBursts>(std::move(source), rs.seed + 99);
  SourceWaveInput wave(std::move(source));
  CaptureStamps stamps;
  stamps.first_ns = static_cast<int64_t>(rs.start_utc * 1e9);
  stamps.samples_per_second = rs.card_rate;
  wave.SetCaptureStamps(stamps);
  SimulatedClock clock(StartUtc);
  bench::NoDialog dialog;
  CVarnolDoc doc(wave, clock, dialog);
  doc.StationMode = mode;
  doc.AdjustCalibration = 1;
  clock.FollowBlocks(&doc.BlocksProcessed);
  SecondEpochs epochs(mode);
  doc.AddObserver(&epochs);
  doc.StartCapture();
  RunResult result;
  SecondEpoch out[64];
  while (wave.Pump()) {
    doc.ProcessCaptureBuffer();
    const int n = epochs.TakeEpochs(out, 64);
    for (int i = 0; i < n; ++i) {
      const double truth = (static_cast<double>(out[i].utc) - rs.start_utc) * rs.card_rate;
      const double error_ms = std::fabs(out[i].sample - truth) / rs.card_rate * 1000.0;
      if (error_ms > 500.0) {
        ++result.wrong;  // a label one or more seconds off
      } else {
        result.errors_ms.push_back(error_ms);
      }
      if (result.first_epoch_s < 0.0) result.first_epoch_s = out[i].sample / rs.card_rate;
    }
  }
  doc.StopCapture();
  doc.RemoveObserver(&epochs);
  result.seconds = static_cast<double>(doc.BlocksProcessed * BlockSize) / rs.card_rate;
  return result;
}

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return -1.0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1))];
}

void Report(benchmark::State& state, const RunResult& r) {
  const double yielded = static_cast<double>(r.errors_ms.size() + static_cast<size_t>(r.wrong));
  state.counters["med_ms"] = Percentile(r.errors_ms, 0.5);
  state.counters["p95_ms"] = Percentile(r.errors_ms, 0.95);
  state.counters["share"] = yielded / r.seconds;
  state.counters["share_locked"] = r.first_epoch_s < 0 ? 0.0 : yielded / (r.seconds - r.first_epoch_s);
  state.counters["epochs"] = yielded;
  state.counters["wrong"] = static_cast<double>(r.wrong);
}

void BM_Accuracy(benchmark::State& state, const std::string& station, int mode) {
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(StartUtc) + StartOffset;
  rs.snr_db = static_cast<double>(state.range(0));
  constexpr double Cards[] = {0.999, 1.001, 1.0};  // the second argument: 0 slow, 1 fast, 2 nominal
  rs.card_rate = NominalRate * Cards[std::clamp<int64_t>(state.range(1), 0, 2)];
  rs.fade_depth = 0.5;
  rs.fade_period_s = 300.0;
  rs.duration_s = 15 * 60.0;
  rs.seed = 3;
  RunResult r;
  for (auto _ : state) r = Run(station, mode, rs, false);
  Report(state, r);
}

void BM_Day(benchmark::State& state, const std::string& station, int mode) {
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(StartUtc) + StartOffset;
  rs.snr_db = 10.0;
  rs.card_rate = NominalRate * 1.001;
  rs.fade_depth = 0.6;
  rs.fade_period_s = 300.0;
  rs.duration_s = 24 * 3600.0;
  rs.seed = 5;
  RunResult r;
  for (auto _ : state) r = Run(station, mode, rs, true);
  Report(state, r);
}

// The processing loop over `audio`, set up for the cost figures, with or without the epochs.
struct CostSetup {
  CostSetup(const std::vector<int16_t>& audio, bool with_epochs)
      : wave(std::make_unique<bench::MemorySource>(audio)), clock(StartUtc), doc(wave, clock, dialog),
        epochs(StationDcf77), with(with_epochs) {
    doc.StationMode = StationDcf77;
    clock.FollowBlocks(&doc.BlocksProcessed);
    if (with) doc.AddObserver(&epochs);
    doc.StartCapture();
  }
  ~CostSetup() {
    doc.StopCapture();
    if (with) doc.RemoveObserver(&epochs);
  }
  SourceWaveInput wave;
  SimulatedClock clock;
  bench::NoDialog dialog;
  CVarnolDoc doc;
  SecondEpochs epochs;
  bool with;
  SecondEpoch out[64];
};

void BM_Cost(benchmark::State& state) {
  static const std::vector<int16_t> audio = [] {
    ReceiverSettings rs;
    rs.start_utc = static_cast<double>(StartUtc) + StartOffset;
    rs.duration_s = 3600.0;
    SimulatedReceiver rx(MakeEncoder("dcf77"), rs);
    std::vector<int16_t> samples(static_cast<size_t>(3600.0 * rs.card_rate) + 4096);
    samples.resize(rx.Read(samples.data(), samples.size()));
    return samples;
  }();
  double loop = 0.0, with = 0.0;
  for (auto _ : state) {
    CostSetup a(audio, false), b(audio, true);
    auto nothing = [] {};
    auto take = [&b] { b.epochs.TakeEpochs(b.out, 64); };
    bench::TimedLoop<decltype(nothing)> alone{a.wave, a.doc, nothing};
    bench::TimedLoop<decltype(take)> beside{b.wave, b.doc, take};
    bench::TakeTurns(alone, beside);
    loop += alone.busy;
    with += beside.busy;
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["loop_s_per_hour"] = loop / iterations;
  state.counters["with_epochs_s_per_hour"] = with / iterations;
  state.counters["epochs_vs_loop"] = (with - loop) / loop;
}

// One run, timed in seconds of wall time.
void OnceInSeconds(benchmark::internal::Benchmark* b) {
  b->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
}

void AccuracyArgs(benchmark::internal::Benchmark* b) {
  for (int snr : {0, 10, 20})
    for (int fast : {0, 1}) b->Args({snr, fast});
  b->ArgNames({"snr", "fast"});
  OnceInSeconds(b);
}

// CHU, a short-wave station, nearer its floor (its code holds down to about 3 dB): the card
// 0.1 % fast (1) and nominal (2).
void ChuAccuracyArgs(benchmark::internal::Benchmark* b) {
  for (int snr : {0, 3, 10})
    for (int card : {1, 2}) b->Args({snr, card});
  b->ArgNames({"snr", "card"});
  OnceInSeconds(b);
}

}  // namespace

BENCHMARK_CAPTURE(BM_Accuracy, dcf77, std::string("dcf77"), StationDcf77)->Apply(AccuracyArgs);
BENCHMARK_CAPTURE(BM_Accuracy, msf, std::string("msf"), StationMsf)->Apply(AccuracyArgs);
BENCHMARK_CAPTURE(BM_Accuracy, wwvb, std::string("wwvb"), StationWwvb)->Apply(AccuracyArgs);
BENCHMARK_CAPTURE(BM_Accuracy, wwv, std::string("wwv"), StationWwv)->Apply(AccuracyArgs);
BENCHMARK_CAPTURE(BM_Accuracy, hbg, std::string("hbg"), StationHbg)->Apply(AccuracyArgs);
BENCHMARK_CAPTURE(BM_Accuracy, vng, std::string("vng"), StationVng)->Apply(AccuracyArgs);
BENCHMARK_CAPTURE(BM_Accuracy, jjy, std::string("jjy"), StationJjy)->Apply(AccuracyArgs);
BENCHMARK_CAPTURE(BM_Accuracy, chu, std::string("chu"), StationChu)->Apply(ChuAccuracyArgs);

BENCHMARK_CAPTURE(BM_Day, dcf77, std::string("dcf77"), StationDcf77)->Apply(OnceInSeconds);
BENCHMARK_CAPTURE(BM_Day, msf, std::string("msf"), StationMsf)->Apply(OnceInSeconds);
BENCHMARK_CAPTURE(BM_Day, wwvb, std::string("wwvb"), StationWwvb)->Apply(OnceInSeconds);
BENCHMARK_CAPTURE(BM_Day, wwv, std::string("wwv"), StationWwv)->Apply(OnceInSeconds);
BENCHMARK_CAPTURE(BM_Day, hbg, std::string("hbg"), StationHbg)->Apply(OnceInSeconds);
BENCHMARK_CAPTURE(BM_Day, vng, std::string("vng"), StationVng)->Apply(OnceInSeconds);
BENCHMARK_CAPTURE(BM_Day, jjy, std::string("jjy"), StationJjy)->Apply(OnceInSeconds);
BENCHMARK_CAPTURE(BM_Day, chu, std::string("chu"), StationChu)->Apply(OnceInSeconds);

BENCHMARK(BM_Cost)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
