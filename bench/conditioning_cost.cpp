// SPDX-License-Identifier: GPL-3.0-or-later
// What conditioning costs beside the clock's loop, per hour of audio: one hour of DCF77 heard as
// a real receiver gives it (a 747 Hz tone at a line output's level, amplitude 8000) through the
// whole per-buffer loop alone, and through the loop behind the conditioning, taking turns.
//   shift=0: the tone finder (the first 20 s, as a recording's look-ahead reads them), the level
//            look-ahead and the automatic gain: what every run pays;
//   shift=1: the same and the tone moved from 747 to 1000 Hz, sample by sample, for the hour.
// BM_FileRate: the same as shift=0, and a recording's tone moved at the recording's own rate
// before it is resampled (rate/from: 747 Hz at 8000, 44100 and 48000 samples a second, DCF77's
// 77.5 kHz carrier sampled at 192 kHz): for each buffer of 2048 samples the loop takes, the
// shift works as many seconds of a sine at `from` in noise (copied into place, timed with it).
// Counters: CPU seconds per hour of audio for each, and their ratio less one; the look-ahead's
// share (the finder and the level probe over 20 s) on its own.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "app/varnol_doc.h"
#include "capture/source_wave_input.h"
#include "conditioning/conditioning.h"
#include "conditioning/gain_stage.h"
#include "conditioning/level_probe.h"
#include "loop_bench.h"
#include "platform/linux_clock.h"
#include "simulator/receiver.h"

namespace {

constexpr double kStart = 1796648700.0;  // 2026-12-07T13:05:00Z

const std::vector<int16_t>& HourAt747Hz() {
  static const std::vector<int16_t> audio = [] {
    ReceiverSettings rs;
    rs.start_utc = kStart;
    rs.duration_s = 3600.0;
    rs.tone_hz = 747.0;
    rs.amplitude = 8000.0;
    rs.snr_db = 20.0;
    rs.card_rate = 8000.0;
    SimulatedReceiver rx(MakeEncoder("dcf77"), rs);
    std::vector<int16_t> v(static_cast<size_t>(3600.0 * rs.card_rate) + 4096);
    v.resize(rx.Read(v.data(), v.size()));
    return v;
  }();
  return audio;
}

struct Setup {
  explicit Setup(const std::vector<int16_t>& audio)
      : wave(std::make_unique<bench::MemorySource>(audio)),
        clock(static_cast<int64_t>(kStart)),
        doc(wave, clock, dialog) {
    clock.FollowBlocks(&doc.BlocksProcessed);
    doc.StationMode = StationDcf77;
    doc.BlocksPerMinute = 3750;
  }
  void Start() { doc.StartCapture(); }
  ~Setup() {
    doc.Stopped = 1;  // no snapshot file from a benchmark
    doc.InputFilter = nullptr;
  }
  SourceWaveInput wave;
  SimulatedClock clock;
  bench::NoDialog dialog;
  CVarnolDoc doc;
};

// Work for the conditioned loop after each buffer (none, or the shift at a recording's rate).
template <class After>
void Measure(benchmark::State& state, bool shift, After after) {
  const auto& audio = HourAt747Hz();
  double loop = 0.0, with = 0.0, ahead = 0.0;
  for (auto _ : state) {
    Setup a(audio), b(audio);
    // The look-ahead: 20 s through the finder and the level probe, timed with the conditioned run.
    const double t0 = bench::ThreadCpuSeconds();
    const auto first = static_cast<int>(LookAheadSeconds * 8000.0);
    ToneFinder finder;
    finder.Add(audio.data(), first);
    const ToneDecision tone = DecideTone(ToneSetting{}, finder.Result(), StationDcf77);
    std::optional<ToneShift> moved;
    std::vector<int16_t> head(audio.begin(), audio.begin() + first);
    if (tone.shifted) {
      moved.emplace(8000.0, tone.from_hz, FrontEndToneHz);
      moved->Process(head.data(), head.size());
    }
    LevelProbe probe(StationDcf77);
    probe.Add(head.data(), first);
    const double look_ahead = bench::ThreadCpuSeconds() - t0;
    GainStage gain(b.doc, LookAheadGainDb(probe, StationDcf77));
    LiveToneStage stage(
        shift ? ToneSetting{ToneSetting::Mode::Fixed, tone.from_hz} : ToneSetting{ToneSetting::Mode::Off, 0},
        StationDcf77);
    FilterChain chain;
    chain.Add(&stage);
    chain.Add(&gain);
    b.doc.InputFilter = &chain;
    a.Start();
    b.Start();
    auto nothing = [] {};
    bench::TimedLoop<decltype(nothing)> alone{a.wave, a.doc, nothing};
    bench::TimedLoop<After> conditioned{b.wave, b.doc, after};
    bench::TakeTurns(alone, conditioned);
    loop += alone.busy;
    with += conditioned.busy + look_ahead;
    ahead += look_ahead;
    benchmark::DoNotOptimize(b.doc.LastMinuteOfDay);
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["loop_s_per_hour"] = loop / iterations;
  state.counters["conditioned_s_per_hour"] = with / iterations;
  state.counters["cost_vs_loop"] = (with - loop) / loop;
  state.counters["look_ahead_vs_loop"] = ahead / loop;
}

void BM_Cost(benchmark::State& state) {
  Measure(state, state.range(0) != 0, [] {});
}

// The shift at a recording's own rate: 16 s of a sine at `from` (amplitude 0.25 of full scale)
// in noise, gone through one buffer's worth at a time.
class FileRateShift {
 public:
  FileRateShift(double rate, double from) : rate_(rate), shift_(rate, from, FrontEndToneHz) {
    source_.resize(static_cast<size_t>(16.0 * rate));
    uint32_t noise = 1;
    for (size_t i = 0; i < source_.size(); ++i) {
      noise = noise * 1664525u + 1013904223u;
      source_[i] = static_cast<float>(
          0.25 * std::sin(2.0 * 3.14159265358979323846 * from * static_cast<double>(i) / rate) +
          0.01 * (static_cast<double>(noise >> 8) / 16777216.0 - 0.5));
    }
    work_.resize(static_cast<size_t>(BufferSamples * rate / 8000.0) + 2);
  }
  void Buffer() {
    // As many samples at the file's rate as one buffer of 2048 at 8000 Hz, kept in step.
    ++buffers_;
    const auto upto =
        static_cast<size_t>(std::llround(static_cast<double>(buffers_) * BufferSamples * rate_ / 8000.0));
    size_t n = upto - done_;
    done_ = upto;
    for (size_t at = 0; n > 0;) {
      const size_t take = std::min(n, source_.size() - pos_);
      std::copy_n(source_.begin() + static_cast<std::ptrdiff_t>(pos_), take,
                  work_.begin() + static_cast<std::ptrdiff_t>(at));
      shift_.Process(work_.data() + at, take);
      pos_ = (pos_ + take) % source_.size();
      at += take;
      n -= take;
    }
    benchmark::DoNotOptimize(work_.data());
  }

 private:
  double rate_;
  ToneShift shift_;
  std::vector<float> source_, work_;
  size_t pos_ = 0, done_ = 0;
  int64_t buffers_ = 0;
};

void BM_FileRate(benchmark::State& state) {
  FileRateShift file(static_cast<double>(state.range(0)), static_cast<double>(state.range(1)));
  Measure(state, false, [&file] { file.Buffer(); });
}

}  // namespace

BENCHMARK(BM_Cost)->Arg(0)->Arg(1)->ArgName("shift")->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_FileRate)
    ->Args({8000, 747})
    ->Args({44100, 747})
    ->Args({48000, 747})
    ->Args({192000, 77500})
    ->ArgNames({"rate", "from"})
    ->Iterations(3)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

BENCHMARK_MAIN();
