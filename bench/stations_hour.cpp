// SPDX-License-Identifier: GPL-3.0-or-later
// One hour of each station's simulated receiver audio through the clock's whole processing
// loop (wave-input buffers, front end or 100 Hz detector, decoder, clock step). The audio is
// made once per station before timing starts; the timed region is the loop alone.
//
// Counters: x_realtime = seconds of audio processed per second of run time (the real-time
// factor); s_per_hour = run time for one hour of audio; vs_dcf77 = this station's time per
// hour over DCF77's, measured in the same run (DCF77 runs first).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/varnol_doc.h"
#include "capture/sample_source.h"
#include "capture/source_wave_input.h"
#include "platform/linux_clock.h"
#include "simulator/receiver.h"
#include "loop_bench.h"

namespace {

constexpr double HourSeconds = 3600.0;
constexpr int64_t StartUtc = 1796648400;  // 2026-12-07 13:00:00 UTC

class CountClockWrites : public DocObserver {
 public:
  void OnClockWrite(const SYSTEMTIME&, bool ok) override { writes += ok ? 1 : 0; }
  int writes = 0;
};

// One hour of a station's audio at the default receiver settings, made once.
const std::vector<int16_t>& HourOfAudio(const std::string& station) {
  static std::map<std::string, std::vector<int16_t>> cache;
  auto it = cache.find(station);
  if (it != cache.end()) return it->second;
  cache.clear();  // one station at a time: an hour is 58 MB
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(StartUtc);
  rs.duration_s = HourSeconds;
  SimulatedReceiver rx(MakeEncoder(station), rs);
  std::vector<int16_t> samples(static_cast<size_t>(HourSeconds * rs.card_rate) + BufferSamples);
  samples.resize(rx.Read(samples.data(), samples.size()));
  return cache.emplace(station, std::move(samples)).first->second;
}

std::map<std::string, double> g_seconds_per_hour;

void BM_StationHour(benchmark::State& state, const std::string& station, int mode) {
  const std::vector<int16_t>& audio = HourOfAudio(station);
  int writes = 0;
  double loop_seconds = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    auto wave = std::make_unique<SourceWaveInput>(std::make_unique<bench::MemorySource>(audio));
    SourceWaveInput* source = wave.get();
    SimulatedClock clock(StartUtc);
    bench::NoDialog dialog;
    auto doc = std::make_unique<CVarnolDoc>(*wave, clock, dialog);
    doc->StationMode = mode;
    doc->AutoSetClock = 1;
    clock.FollowBlocks(&doc->BlocksProcessed);
    CountClockWrites counter;
    doc->AddObserver(&counter);
    doc->StartCapture();
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    while (source->Pump()) doc->ProcessCaptureBuffer();
    loop_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.PauseTiming();
    writes = counter.writes;
    doc->StopCapture();
    doc->RemoveObserver(&counter);
    state.ResumeTiming();
  }
  const double audio_seconds = static_cast<double>(audio.size()) / (3756.0 * 128.0 / 60.0);
  state.counters["x_realtime"] = benchmark::Counter(audio_seconds * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
  // hours of audio per second of run time, inverted: seconds of run time per hour of audio
  state.counters["s_per_hour"] =
      benchmark::Counter(audio_seconds / HourSeconds * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["clock_writes"] = writes;
  const double per_hour =
      loop_seconds / static_cast<double>(state.iterations()) * HourSeconds / audio_seconds;
  g_seconds_per_hour[station] = per_hour;
  const auto dcf77 = g_seconds_per_hour.find("dcf77");
  if (dcf77 != g_seconds_per_hour.end() && dcf77->second > 0.0)
    state.counters["vs_dcf77"] = per_hour / dcf77->second;
}

}  // namespace

BENCHMARK_CAPTURE(BM_StationHour, dcf77, std::string("dcf77"), StationDcf77)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_StationHour, msf, std::string("msf"), StationMsf)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_StationHour, hbg, std::string("hbg"), StationHbg)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_StationHour, wwvb, std::string("wwvb"), StationWwvb)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_StationHour, vng, std::string("vng"), StationVng)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_StationHour, rwm, std::string("rwm"), StationRwm)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_StationHour, wwv, std::string("wwv"), StationWwv)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_StationHour, jjy, std::string("jjy"), StationJjy)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

BENCHMARK_MAIN();
