// SPDX-License-Identifier: GPL-3.0-or-later
// The time service on the simulated DCF77 receiver through the document's own loop: the offset's
// sign and the receiver delay, every label right, and nothing sent across a break in the capture
// stamps (samples lost on the way, or the system clock stepped) or without stamps; each change
// of the lock told once, with its reason, and the offsets sent summed up; a station's leap-second
// announcement passed on with the seconds of the month's last day.
#include "timing/time_service.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "capture/source_wave_input.h"
#include "platform/linux_clock.h"
#include "simulator/encoder.h"
#include "simulator/receiver.h"
#include "unit/app/fakes.h"

namespace {

constexpr int64_t StartUtc = 1796648700;  // 2026-12-07T13:05:00Z
constexpr double Ahead = 0.250;           // seconds the broadcast runs ahead of the system clock
constexpr double Delay = 0.005;           // the receiver delay given to the service

struct Sent {
  double audio_s;  // where in the audio it was sent
  EpochMeasurement m;
};

// Hands the buffers on to the service, their stamps moved by `shift_ns` from `at_s` on (or
// dropped, when `unstamped`), and records what the service sends.
class Feed : public DocObserver, public EpochOutput {
 public:
  Feed(TimeService& s, double at_s, int64_t shift_ns, bool unstamped, double wrong_minute_at_s)
      : service_(s), at_s_(at_s), shift_ns_(shift_ns), unstamped_(unstamped), wrong_at_s_(wrong_minute_at_s) {
    s.AddOutput(this);
  }
  void OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block, int64_t t) override {
    now_s_ = static_cast<double>((first_block - 1) * 128) / 8012.8;
    if (at_s_ >= 0 && now_s_ >= at_s_) t += shift_ns_;
    service_.OnCaptureBuffer(samples, count, first_block, unstamped_ ? 0 : t);
    Note();
  }
  void OnMinuteAccepted(int h, int m, int64_t block) override {
    // One minute read a minute late (13:12 for 13:11), as a misread code would give it.
    if (wrong_at_s_ >= 0 && now_s_ >= wrong_at_s_) {
      wrong_at_s_ = -1;
      m += 1;
    }
    service_.OnMinuteAccepted(h, m, block);
    Note();
  }
  void OnEpoch(const EpochMeasurement& m) override { sent.push_back({now_s_, m}); }
  std::vector<Sent> sent;
  std::vector<std::string> changes;  // the lock's changes, as the log gets them

 private:
  TimeService& service_;
  double at_s_;
  int64_t shift_ns_;
  bool unstamped_;
  double wrong_at_s_;
  double now_s_ = 0;
  int64_t serial_ = 0;

  void Note() {
    const LockChange& c = service_.LastLockChange();
    if (c.serial != serial_) changes.push_back(DescribeLockChange(c));
    serial_ = c.serial;
  }
};

struct ServiceCase {
  const char* name;
  double break_at_s;  // -1: no break
  int64_t shift_ns;   // the stamps' jump at the break
  bool unstamped;
  double wrong_minute_at_s;          // -1: none
  std::vector<std::string> changes;  // how each change of the lock begins, in order
};

class TimeServiceTest : public ::testing::TestWithParam<ServiceCase> {};

TEST_P(TimeServiceTest, SendsOnlyRightLabelsWithTheTrueOffset) {
  const ServiceCase& c = GetParam();
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(StartUtc);
  rs.snr_db = 10.0;
  rs.duration_s = 10 * 60.0;
  SourceWaveInput wave(std::make_unique<SimulatedReceiver>(MakeEncoder("dcf77"), rs));
  CaptureStamps st;
  st.first_ns = StartUtc * 1000000000LL - static_cast<int64_t>(Ahead * 1e9);
  st.samples_per_second = rs.card_rate;
  st.jitter_s = 0.002;
  st.latency_s = 0.020;
  wave.SetCaptureStamps(st);
  SimulatedClock clock(StartUtc);
  RecordingErrors dialog;
  CVarnolDoc doc(wave, clock, dialog);
  doc.StationMode = StationDcf77;
  doc.AutoSetClock = 1;
  clock.FollowBlocks(&doc.BlocksProcessed);
  TimeService service(StationDcf77, Delay);
  Feed feed(service, c.break_at_s, c.shift_ns, c.unstamped, c.wrong_minute_at_s);
  doc.AddObserver(&feed);
  doc.StartCapture();
  while (wave.Pump()) doc.ProcessCaptureBuffer();
  doc.StopCapture();

  ASSERT_EQ(feed.changes.size(), c.changes.size()) << ::testing::PrintToString(feed.changes);
  for (size_t i = 0; i < c.changes.size(); ++i)
    EXPECT_EQ(feed.changes[i].rfind(c.changes[i], 0), 0u) << feed.changes[i];
  EXPECT_EQ(service.TimesLocked(), static_cast<int64_t>((c.changes.size() + 1) / 2));
  EXPECT_EQ(service.Offsets().count, static_cast<int64_t>(feed.sent.size()));

  if (c.unstamped) {
    EXPECT_TRUE(feed.sent.empty());
    EXPECT_GT(service.Unstamped(), 60);  // the seconds were there; only the stamps were not
    return;
  }
  ASSERT_GT(feed.sent.size(), 60u);
  int after_break = 0;
  for (const Sent& s : feed.sent) {
    const bool after = c.break_at_s >= 0 && s.audio_s >= c.break_at_s;
    // Label: the broadcast second whose marker this is lies within the second before it was
    // sent (the estimator may wait for a few seconds more); never a second off.
    const double marker_s = static_cast<double>(s.m.utc - StartUtc);
    EXPECT_LE(marker_s, s.audio_s + 0.3) << s.m.utc;
    EXPECT_GE(marker_s, s.audio_s - 40.0) << s.m.utc;
    // offset = utc - (system time of the marker - delay): the broadcast's lead plus the delay,
    // less the stamps' jump after a break.
    const double want = Ahead + Delay - (after ? static_cast<double>(c.shift_ns) * 1e-9 : 0.0);
    EXPECT_NEAR(s.m.offset, want, 0.002) << s.m.utc << " sent at " << s.audio_s;
    EXPECT_NEAR(static_cast<double>(s.m.system_ns - s.m.utc * 1000000000) * 1e-9 + s.m.offset - Delay, 0.0, 1e-9)
        << "a measurement must say where its marker lay on the system clock";
    if (after) {
      ++after_break;
      // Seconds counted across the break are never sent: the estimator locks anew first.
      EXPECT_GT(s.audio_s, c.break_at_s + 100.0);
    }
  }
  if (c.break_at_s >= 0) {
    EXPECT_GT(after_break, 0) << "locked again after the break";
  } else {
    EXPECT_NEAR(service.Offsets().mean, Ahead + Delay, 0.001);
    EXPECT_LT(service.Offsets().StdDev(), 0.001);
    EXPECT_GT(service.Offsets().StdDev(), 0.0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Capture, TimeServiceTest,
    ::testing::Values(ServiceCase{"steady", -1, 0, false, -1, {"locked: 3 minutes agree"}},
                      ServiceCase{"samples_lost",
                                  330.0,
                                  512000000,
                                  false,
                                  -1,
                                  {"locked: 3 minutes agree", "unlocked: the capture's time stamps broke off",
                                   "locked: 3 minutes agree"}},
                      ServiceCase{"clock_stepped_back",
                                  330.0,
                                  -2000000000,
                                  false,
                                  -1,
                                  {"locked: 3 minutes agree", "unlocked: the capture's time stamps broke off",
                                   "locked: 3 minutes agree"}},
                      ServiceCase{"minute_misread",
                                  -1,
                                  0,
                                  false,
                                  330.0,
                                  {"locked: 3 minutes agree", "unlocked: minute 13:12 disagrees",
                                   "locked: 3 minutes agree"}},
                      ServiceCase{"unstamped", -1, 0, true, -1, {"locked: 3 minutes agree"}}),
    [](const auto& p) { return std::string(p.param.name); });

// JJY locks the seconds from its rising edges; a leap second the station announces for the end
// of the month goes out with every second of the month's last UTC day, and with none after it.
TEST(TimeServiceLeap, AnnouncedLeapGoesWithTheMonthsLastDay) {
  constexpr int64_t Start = 1796082720;  // 2026-11-30T23:52:00Z
  constexpr int64_t December = 1796083200;
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(Start);
  rs.snr_db = 10.0;
  rs.duration_s = 12 * 60.0;
  SourceWaveInput wave(std::make_unique<SimulatedReceiver>(MakeEncoder("jjy"), rs));
  CaptureStamps st;
  st.first_ns = Start * 1000000000LL;
  st.samples_per_second = rs.card_rate;
  wave.SetCaptureStamps(st);
  SimulatedClock clock(Start);
  RecordingErrors dialog;
  CVarnolDoc doc(wave, clock, dialog);
  doc.StationMode = StationJjy;
  clock.FollowBlocks(&doc.BlocksProcessed);
  TimeService service(StationJjy, 0.0);
  const int inserted = 1;
  service.ReadLeapAnnouncements(&inserted);
  Feed feed(service, -1, 0, false, -1);
  doc.AddObserver(&feed);
  doc.StartCapture();
  while (wave.Pump()) doc.ProcessCaptureBuffer();
  doc.StopCapture();

  int before = 0, after = 0;
  for (const Sent& s : feed.sent) {
    EXPECT_EQ(s.m.leap, s.m.utc < December ? 1 : 0) << s.m.utc;
    EXPECT_NEAR(s.m.offset, 0.0, 0.002) << s.m.utc;
    (s.m.utc < December ? before : after) += 1;
  }
  EXPECT_GT(before, 30);
  EXPECT_GT(after, 60);
}

}  // namespace
