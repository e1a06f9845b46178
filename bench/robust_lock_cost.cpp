// SPDX-License-Identifier: GPL-3.0-or-later
// The robust lock's CPU cost: an hour of each station's simulated audio through the loop alone
// and through the loop with the robust lock beside it (its own second-epoch estimator included),
// taking turns on the same audio so that the machine's wandering speed slows both alike. Prints
// each station's ratio; the lock's own share is the difference.
//
// Usage: bench_robust_lock_cost [--minutes N] (default 60) [--snr DB] (the simulator's, over
// 0..4 kHz; default 3: the estimator follows the seconds. At -4 and below it finds none, and the
// lock finds them itself: SecondFinder's cost is then part of the figure.) [--stations a,b]
// (default all).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "loop_bench.h"
#include "platform/linux_clock.h"
#include "simulator/receiver.h"
#include "tracking/lock_guard.h"
#include "tracking/robust_lock.h"

namespace {

constexpr int64_t StartUtc = 1796648700;  // 2026-12-07 13:05 UTC

// The robust lock alone, without the second-epoch estimator beside it: it finds the seconds
// itself.
struct BareLock : DocObserver {
  explicit BareLock(int mode) : lock(mode) {}
  void OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                       int64_t capture_time_ns) override {
    lock.OnBuffer(samples, count, (first_block - 1) * BlockSize, capture_time_ns);
  }
  RobustLock lock;
};

struct Loop {
  // `with_lock`: 0 the loop alone, 1 with the lock and its estimator, 2 with the bare lock
  Loop(const std::vector<int16_t>& audio, int mode, int with_lock)
      : wave(std::make_unique<bench::MemorySource>(audio)),
        clock(StartUtc, 3756.0),
        doc(wave, clock, dialog),
        lock(mode),
        bare(mode),
        with(with_lock) {
    doc.StationMode = mode;
    doc.AutoSetClock = 1;
    clock.FollowBlocks(&doc.BlocksProcessed);
    // Stamped as a sound card's buffers are: the lock finding the seconds itself folds the
    // audio at the capture clock's second, which without stamps is the nominal 8000 samples
    // and slips 12.8 samples a second against the simulated card's rate.
    CaptureStamps stamps;
    stamps.first_ns = StartUtc * 1000000000;
    stamps.samples_per_second = ReceiverSettings{}.card_rate;
    wave.SetCaptureStamps(stamps);
    if (with == 1) doc.AddObserver(&lock);
    if (with == 2) doc.AddObserver(&bare);
    doc.StartCapture();
  }
  ~Loop() {
    doc.StopCapture();
    if (with == 1) doc.RemoveObserver(&lock);
    if (with == 2) doc.RemoveObserver(&bare);
  }
  SourceWaveInput wave;
  SimulatedClock clock;
  bench::NoDialog dialog;
  CVarnolDoc doc;
  LockObserver lock;
  BareLock bare;
  int with;
};

}  // namespace

int main(int argc, char** argv) {
  double minutes = 60.0, snr = 3.0;
  std::string only;  // comma-separated station names; empty: all
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc) minutes = std::atof(argv[++i]);
    if (std::strcmp(argv[i], "--snr") == 0 && i + 1 < argc) snr = std::atof(argv[++i]);
    if (std::strcmp(argv[i], "--stations") == 0 && i + 1 < argc) only = std::string(",") + argv[++i] + ",";
  }
  if (!(minutes >= 5.0)) minutes = 5.0;
  struct Station {
    const char* name;
    int mode;
  };
  for (const Station& s :
       {Station{"dcf77", StationDcf77}, Station{"msf", StationMsf}, Station{"wwvb", StationWwvb},
        Station{"hbg", StationHbg}, Station{"wwv", StationWwv}, Station{"vng", StationVng},
        Station{"rwm", StationRwm}, Station{"jjy", StationJjy}, Station{"chu", StationChu}}) {
    if (!only.empty() && only.find(std::string(",") + s.name + ",") == std::string::npos) continue;
    ReceiverSettings rs;
    rs.start_utc = static_cast<double>(StartUtc);
    rs.duration_s = minutes * 60.0;
    rs.snr_db = snr;
    SimulatedReceiver rx(MakeEncoder(s.name), rs);
    std::vector<int16_t> audio(static_cast<size_t>(rs.duration_s * rs.card_rate) + 1);
    audio.resize(rx.Read(audio.data(), audio.size()));
    Loop a(audio, s.mode, 0), b(audio, s.mode, 1), c(audio, s.mode, 0), d(audio, s.mode, 2);
    auto nothing = [] {};
    bench::TimedLoop<decltype(nothing)> alone{a.wave, a.doc, nothing}, beside{b.wave, b.doc, nothing};
    bench::TakeTurns(alone, beside);
    bench::TimedLoop<decltype(nothing)> alone2{c.wave, c.doc, nothing}, bare{d.wave, d.doc, nothing};
    bench::TakeTurns(alone2, bare);
    std::printf(
        "%-6s %.0f min at %+.0f dB: loop %.2f s CPU, loop + robust lock %.2f s: the lock adds %.0f %% (%s at "
        "the "
        "end)\n",
        s.name, minutes, snr, alone.busy, beside.busy, (beside.busy - alone.busy) / alone.busy * 100.0,
        LockStateName(b.lock.Lock().Status().state));
    std::printf(
        "%-6s %.0f min at %+.0f dB: loop %.2f s CPU, loop + the lock alone (seconds its own) %.2f s: adds "
        "%.0f %% (%s "
        "at the end)\n",
        s.name, minutes, snr, alone2.busy, bare.busy, (bare.busy - alone2.busy) / alone2.busy * 100.0,
        LockStateName(d.bare.lock.Status().state));
    std::fflush(stdout);
  }
  return 0;
}
