// What conditioning costs beside the clock's loop, per hour of audio: one hour of DCF77 heard as
// a real receiver gives it (a 747 Hz tone at a line output's level, amplitude 8000) through the
// whole per-buffer loop alone, and through the loop behind the conditioning, taking turns.
//   shift=0: the tone finder (the first 20 s, as a recording's look-ahead reads them), the level
//            look-ahead and the automatic gain: what every run pays;
//   shift=1: the same and the tone moved from 747 to 1000 Hz, sample by sample, for the hour.
// Counters: CPU seconds per hour of audio for each, and their ratio less one.
#include <benchmark/benchmark.h>

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

void BM_Cost(benchmark::State& state) {
  const auto& audio = HourAt747Hz();
  const bool shift = state.range(0) != 0;
  double loop = 0.0, with = 0.0;
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
    bench::TimedLoop<decltype(nothing)> conditioned{b.wave, b.doc, nothing};
    bench::TakeTurns(alone, conditioned);
    loop += alone.busy;
    with += conditioned.busy + look_ahead;
    benchmark::DoNotOptimize(b.doc.LastMinuteOfDay);
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["loop_s_per_hour"] = loop / iterations;
  state.counters["conditioned_s_per_hour"] = with / iterations;
  state.counters["cost_vs_loop"] = (with - loop) / loop;
}

}  // namespace

BENCHMARK(BM_Cost)->Arg(0)->Arg(1)->ArgName("shift")->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
