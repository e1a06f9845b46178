// SPDX-License-Identifier: GPL-3.0-or-later
// The robust lock on its own, fed the simulated receiver's audio and finding the seconds itself
// (no seconds' line handed over), many times faster than real time:
//
//   BM_Lock/<station>/<snr>: SNR in a 300 Hz receiver passband (the simulator's --snr is 11.25 dB
//     lower), slow fading of depth 0.5 and period 97 s (not locked to the minute) and two static
//     crashes a minute; 30 minutes (60 at -10 dB). Counters: lock_min = minutes of audio before
//     the first lock (-1: none); med_ms, p95_ms = median and 95th percentile of |the labelled
//     second's start - the true one| in milliseconds; bias_ms = the median of that error with its
//     sign (positive: placed late); seconds = seconds labelled; wrong = labels naming another
//     second (must be 0).
//   BM_Soak/<station>/<snr>/<segment>: the "no wrong label" run. Fading of depth 0.6 locked to the
//     minute (the same seconds faded every minute), two static crashes a minute, the signal gone
//     for 10 s, 1 min, 5 min and 30 min, and the station off for an hour. Segment 0: <hours>
//     (24 or 12) centred on midnight of 31 December, a leap second inserted at midnight (the
//     second after 23:59:59 is sent again, and every later one is a second later than the
//     audio's count); segment 1:
//     6 hours across the spring change to summer time (the night of 27/28 March 2027 for the
//     European stations, 14 March 2027 for WWVB and WWV). Counters: seconds labelled, wrong
//     labels, lock_min, locks (times it locked), med_ms.
//   BM_Week/<station>: a week centred on a leap second, the SNR stepping through +10, 0, -5
//     and -10 dB, with the same fading, crashes, gaps and hours off (see BM_Week); the same
//     counters.
//
// The receiver's noise is seeded from the environment's BENCH_SEED (5 when unset), and BM_Lock's
// run starts BENCH_START_MIN minutes after 13:00:17.3 UTC (0 when unset: the hour's mark of WWV
// and WWVH comes only at the run's end, so that start shows the lock without it); with BENCH_TRACE
// set, each run ends with a line on stderr: the lock's state, the finder's and the margins.
//
// Every label is checked against the true time of the second it names.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "app/varnol_doc.h"
#include "simulator/receiver.h"
#include "tracking/robust_lock.h"

namespace {

constexpr double CardRate = 3756.0 * 128.0 / 60.0;  // 8012.8 samples per second
constexpr double PassbandGainDb = 11.25;
constexpr int Buffer = 2048;

struct Gap {
  double from_s, seconds;  // seconds of audio
};

struct Run {
  const char* station;
  int station_mode;
  double start_utc;
  double snr_300hz_db;
  double minutes;
  double fade_depth, fade_period_s;
  std::vector<Gap> gaps;
  double leap_at_s = -1.0;  // seconds of audio at which a second is inserted (-1: none)
  // When not empty: the SNR in 300 Hz (dB) for each stretch of `snr_every_s` seconds in turn,
  // over and over (snr_300hz_db is then unused): the receiver's own noise is kept 30 dB under
  // the best of them and the rest is added here.
  std::vector<double> snr_steps = {};
  double snr_every_s = 0.0;
};

struct Result {
  double lock_min = -1.0;
  int locks = 0;
  int64_t seconds = 0, wrong = 0;
  std::vector<double> errors_ms;
  std::vector<double> signed_ms;  // positive: the second placed late
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return -1.0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

Result RunLock(const Run& run) {
  ReceiverSettings rs;
  rs.start_utc = run.start_utc;
  rs.card_rate = CardRate;
  const double best_snr = run.snr_steps.empty()
                              ? run.snr_300hz_db
                              : *std::max_element(run.snr_steps.begin(), run.snr_steps.end()) + 30.0;
  rs.snr_db = best_snr - PassbandGainDb;
  rs.fade_depth = run.fade_depth;
  rs.fade_period_s = run.fade_period_s;
  rs.static_per_minute = 2.0;
  rs.seed = std::getenv("BENCH_SEED") ? std::atoi(std::getenv("BENCH_SEED")) : 5;
  // The audio after an inserted second comes from a receiver whose broadcast is a second later.
  SimulatedReceiver before(MakeEncoder(run.station), rs);
  const int64_t leap_sample = run.leap_at_s < 0.0 ? INT64_MAX : std::llround(run.leap_at_s * CardRate);
  ReceiverSettings after_rs = rs;
  after_rs.seed = 6;
  // its first sample is the audio's sample leap_sample, sending the second before midnight again
  if (run.leap_at_s >= 0.0)
    after_rs.start_utc = run.start_utc + static_cast<double>(leap_sample) / CardRate - 1.0;
  SimulatedReceiver after(MakeEncoder(run.station), after_rs);
  const double noise_sigma = rs.amplitude / std::sqrt(2.0) / std::pow(10.0, rs.snr_db / 20.0);
  std::mt19937_64 rng(9);
  std::normal_distribution<double> normal(0.0, 1.0);
  // the noise's deviation at a given SNR in 300 Hz
  auto sigma_at = [&](double snr_300hz_db) {
    return rs.amplitude / std::sqrt(2.0) / std::pow(10.0, (snr_300hz_db - PassbandGainDb) / 20.0);
  };

  RobustLock lock(run.station_mode);
  Result r;
  const int64_t total = std::llround(run.minutes * 60.0 * CardRate);
  std::vector<int16_t> audio(Buffer);
  bool was_locked = false;
  int64_t last_labelled = INT64_MIN;
  for (int64_t at = 0; at + Buffer <= total; at += Buffer) {
    if (at + Buffer <= leap_sample) {
      before.Read(audio.data(), Buffer);
    } else if (at >= leap_sample) {
      after.Read(audio.data(), Buffer);
    } else {
      const size_t n = static_cast<size_t>(leap_sample - at);
      before.Read(audio.data(), n);
      after.Read(audio.data() + n, Buffer - n);
    }
    const double t = static_cast<double>(at) / CardRate;
    double sigma = noise_sigma, extra = 0.0;
    if (!run.snr_steps.empty()) {
      const auto step = static_cast<size_t>(t / run.snr_every_s) % run.snr_steps.size();
      sigma = sigma_at(run.snr_steps[step]);
      extra = std::sqrt(std::max(sigma * sigma - noise_sigma * noise_sigma, 0.0));
    }
    bool gone = false;
    for (const Gap& g : run.gaps)
      gone = gone || (t + Buffer / CardRate > g.from_s && t < g.from_s + g.seconds);
    if (gone || extra > 0.0)
      for (int16_t& x : audio) {
        const double v = (gone ? 0.0 : x) + normal(rng) * (gone ? sigma : extra);
        x = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
      }
    lock.OnBuffer(audio.data(), Buffer, at, static_cast<int64_t>((run.start_utc + t) * 1e9));
    const bool locked = lock.Locked();
    if (locked && !was_locked) {
      ++r.locks;
      if (r.lock_min < 0.0) r.lock_min = t / 60.0;
    }
    was_locked = locked;
    if (!locked) continue;
    int64_t utc = 0;
    double start = 0.0;
    if (!lock.UtcNear(static_cast<double>(at), &utc, &start) || utc == last_labelled) continue;
    last_labelled = utc;
    // the true UTC at that sample: after the inserted second, a second less than the count; the
    // inserted second itself (23:59:60) has no label of its own, any label on it is wrong
    const bool inserted = start >= static_cast<double>(leap_sample) - 0.5 * CardRate &&
                          start < static_cast<double>(leap_sample) + 0.5 * CardRate;
    const double truth =
        inserted ? -1e9
                 : run.start_utc + start / CardRate - (start >= static_cast<double>(leap_sample) ? 1.0 : 0.0);
    const double error = truth - static_cast<double>(utc);
    ++r.seconds;
    if (std::fabs(error) >= 0.5) {
      ++r.wrong;
      if (r.wrong <= 5)
        std::fprintf(stderr, "%s: wrong label at %.0f s: %lld, truth %.3f\n", run.station, t,
                     static_cast<long long>(utc), truth);
    } else {
      r.errors_ms.push_back(std::fabs(error) * 1000.0);
      r.signed_ms.push_back(error * 1000.0);
    }
  }
  if (std::getenv("BENCH_TRACE") != nullptr) {
    const LockStatus st = lock.Status();
    std::fprintf(stderr,
                 "%s end: %s, finder %s %.1f sigma (lead %.1f), tick %.1f sigma, phase margin %.1f, margin %.1f, "
                 "%d minutes\n",
                 run.station, LockStateName(st.state), lock.Finder().Found() ? "found" : "searching",
                 lock.Finder().Sigmas(), lock.Finder().LeadSigmas(), lock.Tick().Sigmas(), st.phase_margin,
                 st.margin, st.minutes);
  }
  return r;
}

void Report(benchmark::State& state, const Result& r) {
  state.counters["lock_min"] = r.lock_min;
  state.counters["locks"] = r.locks;
  state.counters["seconds"] = static_cast<double>(r.seconds);
  state.counters["wrong"] = static_cast<double>(r.wrong);
  state.counters["med_ms"] = Percentile(r.errors_ms, 0.5);
  state.counters["p95_ms"] = Percentile(r.errors_ms, 0.95);
  state.counters["bias_ms"] = r.signed_ms.empty() ? 0.0 : Percentile(r.signed_ms, 0.5);
}

constexpr double Afternoon = 1796648400.0 + 17.3;  // 2026-12-07 13:00:17.3 UTC

int StartMinutes() {
  return std::getenv("BENCH_START_MIN") ? std::atoi(std::getenv("BENCH_START_MIN")) : 0;
}

void BM_Lock(benchmark::State& state, const char* station, int mode) {
  const double snr = static_cast<double>(state.range(0));
  Result r;
  for (auto _ : state)
    r = RunLock({station, mode, Afternoon + 60.0 * StartMinutes(), snr, snr <= -10.0 ? 60.0 : 30.0, 0.5, 97.0, {}});
  Report(state, r);
}

void BM_Soak(benchmark::State& state, const char* station, int mode) {
  const double snr = static_cast<double>(state.range(0));
  const bool summer = state.range(1) == 1;
  const double hours = static_cast<double>(state.range(2));
  Run run{station, mode, 0.0, snr, hours * 60.0, 0.6, 60.0, {}};
  if (summer) {
    // 22:00 UTC the evening before the change: 2027-03-27 for Europe, 2027-03-13 for WWVB
    run.start_utc = (mode == StationWwvb || mode == StationWwv ? 1804975200.0 : 1806184800.0) + 0.4;
    run.gaps = {{1800, 10}, {5400, 60}, {9000, 300}};
  } else {
    const double h = hours / 24.0;                        // the gaps' places scale with the run
    run.start_utc = 1798761600.0 - hours * 1800.0 + 0.4;  // 2027-01-01 00:00 UTC less half the run
    run.leap_at_s = hours * 1800.0 - 0.4;
    run.gaps = {{2 * 3600 * h, 10},
                {4 * 3600 * h, 60},
                {6 * 3600 * h, 300},
                {9 * 3600 * h, 1800},
                {15 * 3600 * h, 3600}};
  }
  Result r;
  for (auto _ : state) r = RunLock(run);
  Report(state, r);
}

// A simulated week centred on the leap second at midnight of 31 December: the SNR in 300 Hz
// +10, 0, -5 and -10 dB by turns for six hours each, fading of depth 0.6 locked to the minute,
// two static crashes a minute, and every day the signal gone for 10 s, 1 min, 5 min and
// 30 min, and on two of the days the station off for an hour.
void BM_Week(benchmark::State& state, const char* station, int mode) {
  constexpr double Day = 86400.0;
  Run run{station, mode, 1798761600.0 - 3.5 * Day + 0.4, 0.0, 7.0 * 24.0 * 60.0, 0.6, 60.0, {}};
  run.leap_at_s = 3.5 * Day - 0.4;
  run.snr_steps = {10.0, 0.0, -5.0, -10.0};
  run.snr_every_s = 6.0 * 3600.0;
  for (int d = 0; d < 7; ++d) {
    const double day = d * Day;
    run.gaps.push_back({day + 2.5 * 3600.0, 10});
    run.gaps.push_back({day + 8.5 * 3600.0, 60});
    run.gaps.push_back({day + 14.5 * 3600.0, 300});
    run.gaps.push_back({day + 20.5 * 3600.0, 1800});
    if (d == 1 || d == 5) run.gaps.push_back({day + 16.0 * 3600.0, 3600});
  }
  Result r;
  for (auto _ : state) r = RunLock(run);
  Report(state, r);
}

// each run once, timed in seconds of wall time
void OnceArgs(benchmark::internal::Benchmark* b) {
  b->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
}

void SnrArgs(benchmark::internal::Benchmark* b) {
  for (int snr : {10, 0, -5, -10}) b->Arg(snr);
  OnceArgs(b);
}

void SoakArgs(benchmark::internal::Benchmark* b) {
  b->Args({-5, 0, 24})->Args({-5, 0, 12})->Args({-5, 1, 6});
  OnceArgs(b);
}

}  // namespace

BENCHMARK_CAPTURE(BM_Lock, dcf77, "dcf77", StationDcf77)->Apply(SnrArgs);
BENCHMARK_CAPTURE(BM_Lock, msf, "msf", StationMsf)->Apply(SnrArgs);
BENCHMARK_CAPTURE(BM_Lock, wwvb, "wwvb", StationWwvb)->Apply(SnrArgs);
BENCHMARK_CAPTURE(BM_Lock, hbg, "hbg", StationHbg)->Apply(SnrArgs);
BENCHMARK_CAPTURE(BM_Lock, wwv, "wwv", StationWwv)->Apply(SnrArgs);
BENCHMARK_CAPTURE(BM_Lock, jjy, "jjy", StationJjy)->Apply(SnrArgs);
BENCHMARK_CAPTURE(BM_Lock, chu, "chu", StationChu)->Apply(SnrArgs);
BENCHMARK_CAPTURE(BM_Soak, dcf77, "dcf77", StationDcf77)->Apply(SoakArgs);
BENCHMARK_CAPTURE(BM_Soak, msf, "msf", StationMsf)->Apply(SoakArgs);
BENCHMARK_CAPTURE(BM_Soak, wwvb, "wwvb", StationWwvb)->Apply(SoakArgs);
BENCHMARK_CAPTURE(BM_Soak, hbg, "hbg", StationHbg)->Apply(SoakArgs);
BENCHMARK_CAPTURE(BM_Soak, wwv, "wwv", StationWwv)->Apply(SoakArgs);
BENCHMARK_CAPTURE(BM_Week, dcf77, "dcf77", StationDcf77)->Apply(OnceArgs);
BENCHMARK_CAPTURE(BM_Week, msf, "msf", StationMsf)->Apply(OnceArgs);
BENCHMARK_CAPTURE(BM_Week, wwvb, "wwvb", StationWwvb)->Apply(OnceArgs);
BENCHMARK_CAPTURE(BM_Week, hbg, "hbg", StationHbg)->Apply(OnceArgs);
BENCHMARK_CAPTURE(BM_Week, wwv, "wwv", StationWwv)->Apply(OnceArgs);

BENCHMARK_MAIN();
