// SPDX-License-Identifier: GPL-3.0-or-later
// The time service labelled by the robust lock, on the simulated DCF77 receiver through the
// document's own loop: in noise where the document accepts no minute, every second sent carries
// its true label and the true offset; with no signal nothing is sent; over the last minute of
// the year nothing is sent in that minute and the lock is taken afresh after it; through a fade
// the seconds go on, counted on the capture clock; decoded minutes that agree on a wrong time
// keep every second back. The seconds' phase is handed to the lock as a
// perfect estimator would give it (and not at all during the fade).
#include "tracking/lock_labels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "capture/source_wave_input.h"
#include "platform/linux_clock.h"
#include "simulator/receiver.h"
#include "unit/app/fakes.h"

namespace {

constexpr double CardRate = 3756.0 * 128.0 / 60.0;  // 8012.8 samples per second
constexpr double PassbandGainDb = 11.25;            // 0..4 kHz noise over a 300 Hz passband's
constexpr double Ahead = 0.250;                     // the broadcast's lead on the system clock, s
constexpr double Delay = 0.005;                     // the receiver delay given to the service, s

// Feeds each buffer to the lock (with the true seconds' line) and then to the service; records
// the minutes the document accepts and the seconds the service sends.
class Feed : public DocObserver, public EpochOutput {
 public:
  Feed(RobustLock& lock, TimeService& service, double first_second_sample, double fade_from_s, double fade_s,
       double noise_sigma, bool misread)
      : misread_(misread),
        lock_(lock),
        service_(service),
        line_(first_second_sample),
        fade_from_(fade_from_s * CardRate),
        fade_to_((fade_from_s + fade_s) * CardRate),
        noise_(0.0, noise_sigma) {
    service.AddOutput(this);
  }
  void OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block, int64_t t) override {
    const int64_t first = (first_block - 1) * BlockSize;
    if (static_cast<double>(first) >= fade_from_ && static_cast<double>(first) < fade_to_) {
      // The station gone, the receiver's noise alone; no seconds' line.
      faded_.resize(static_cast<size_t>(count));
      for (int16_t& v : faded_)
        v = static_cast<int16_t>(std::clamp(std::lround(noise_(rng_)), -32768L, 32767L));
      samples = faded_.data();
      in_fade = true;
    } else {
      lock_.SetSecondLine(line_, CardRate);
      in_fade = false;
    }
    lock_.OnBuffer(samples, count, first, t);
    newest_ = first + count;
    service_.OnCaptureBuffer(samples, count, first_block, t);
  }
  void OnMinuteAccepted(int h, int m, int64_t block) override {
    ++accepted;
    // Misread, every minute names the next one: the decoded minutes agree on a wrong time.
    service_.OnMinuteAccepted(h, misread_ ? m + 1 : m, block);
  }
  void OnEpoch(const EpochMeasurement& m) override { sent.push_back({newest_, in_fade, m}); }

  struct Sent {
    int64_t newest;  // one past the newest sample when it was sent
    bool in_fade;
    EpochMeasurement m;
  };
  bool in_fade = false;
  bool misread_;
  std::vector<Sent> sent;
  int accepted = 0;

 private:
  RobustLock& lock_;
  TimeService& service_;
  double line_;
  double fade_from_, fade_to_;  // samples
  std::normal_distribution<double> noise_;
  std::mt19937_64 rng_{8};
  std::vector<int16_t> faded_;
  int64_t newest_ = 0;
};

struct LabelCase {
  const char* name;
  int64_t start_utc;  // a minute's start; the capture starts 17.3 s later
  double snr_300hz_db;
  double amplitude;
  int minutes;
  int min_sent;        // seconds sent at least (0: none may be)
  bool none_accepted;  // the document accepts no minute
  int64_t quiet_from;  // no second labelled in [quiet_from, quiet_to) (0: no such span)
  int64_t quiet_to;
  int fade_from_minute = -1;  // the station gone from here (minutes of audio) ...
  int fade_minutes = 0;       // ... for this long
  bool misread = false;       // every decoded minute handed on a minute late
};

class LockLabelsTest : public ::testing::TestWithParam<LabelCase> {};

TEST_P(LockLabelsTest, EverySecondSentCarriesItsTrueLabel) {
  const LabelCase& c = GetParam();
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(c.start_utc) + 17.3;
  rs.card_rate = CardRate;
  rs.snr_db = c.snr_300hz_db - PassbandGainDb;
  rs.amplitude = c.amplitude;
  rs.duration_s = c.minutes * 60.0;
  rs.seed = 3;
  SourceWaveInput wave(std::make_unique<SimulatedReceiver>(MakeEncoder("dcf77"), rs));
  CaptureStamps st;
  st.first_ns = static_cast<int64_t>((rs.start_utc - Ahead) * 1e9);
  st.samples_per_second = CardRate;
  st.jitter_s = 0.002;
  wave.SetCaptureStamps(st);
  SimulatedClock clock(static_cast<int64_t>(rs.start_utc));
  RecordingErrors dialog;
  CVarnolDoc doc(wave, clock, dialog);
  doc.StationMode = StationDcf77;
  doc.AutoSetClock = 1;
  clock.FollowBlocks(&doc.BlocksProcessed);

  RobustLock lock(StationDcf77);
  LockLabels labels(lock);
  TimeService service(StationDcf77, Delay);
  service.SetLabeller(&labels);
  const double first_second_sample = (std::ceil(rs.start_utc) - rs.start_utc) * CardRate;
  const double noise_sigma = rs.amplitude / std::sqrt(2.0) / std::pow(10.0, rs.snr_db / 20.0);
  Feed feed(lock, service, first_second_sample, c.fade_from_minute * 60.0, c.fade_minutes * 60.0, noise_sigma,
            c.misread);
  doc.AddObserver(&feed);
  doc.StartCapture();
  while (wave.Pump()) doc.ProcessCaptureBuffer();
  doc.StopCapture();

  if (c.none_accepted) {
    EXPECT_EQ(feed.accepted, 0) << "the document decoded a minute here";
  }
  if (c.misread) {
    EXPECT_GT(service.Contradicted(), 300);
  } else {
    EXPECT_EQ(service.Contradicted(), 0);
  }
  ASSERT_GE(static_cast<int>(feed.sent.size()), c.min_sent);
  if (c.min_sent == 0 && !c.misread) {
    EXPECT_TRUE(feed.sent.empty()) << feed.sent.front().m.utc;
    EXPECT_EQ(service.TimesLocked(), 0);
    return;
  }
  int64_t previous = 0;
  for (const Feed::Sent& s : feed.sent) {
    // The second's true start in the audio: heard by the time it is sent.
    const double start =
        first_second_sample + (static_cast<double>(s.m.utc) - std::ceil(rs.start_utc)) * CardRate;
    EXPECT_LE(start, static_cast<double>(s.newest)) << s.m.utc;
    EXPECT_GE(start + 3 * CardRate, static_cast<double>(s.newest)) << s.m.utc << " sent late";
    EXPECT_NEAR(s.m.offset, Ahead + Delay, 0.002) << s.m.utc;
    EXPECT_GT(s.m.utc, previous) << "each second once, in order";
    previous = s.m.utc;
    if (c.quiet_to != 0) {
      EXPECT_FALSE(s.m.utc >= c.quiet_from && s.m.utc < c.quiet_to) << s.m.utc;
    }
  }
  if (!feed.sent.empty()) {
    EXPECT_NEAR(service.Offsets().mean, Ahead + Delay, 0.001);
  }
  if (c.fade_minutes > 0) {
    // Through the fade the seconds went on, counted on the capture clock (and said so).
    int64_t held_over = 0;
    for (const Feed::Sent& s : feed.sent) held_over += s.in_fade && s.m.quality == 0.5;
    EXPECT_GT(held_over, (c.fade_minutes - 1) * 60);
  }
  if (c.quiet_to != 0) {
    // Labelled again after the minute, once the lock was found afresh (not at once).
    EXPECT_GT(feed.sent.back().m.utc, c.quiet_to + 120);
    EXPECT_EQ(service.TimesLocked(), 2);
    // ... on the minutes heard after it alone.
    ASSERT_TRUE(lock.Locked());
    EXPECT_LE(lock.Status().minutes, (feed.sent.back().m.utc - c.quiet_to) / 60 + 1);
  }
}

constexpr int64_t Afternoon = 1796648400;  // 2026-12-07 13:00 UTC
constexpr int64_t NewYear = 1798761600;    // 2027-01-01 00:00 UTC

INSTANTIATE_TEST_SUITE_P(
    Dcf77, LockLabelsTest,
    ::testing::Values(
        // -5 dB in a 300 Hz passband: the document decodes nothing, the lock holds within 15 min.
        LabelCase{"noise_below_the_decoders", Afternoon, -5.0, 600.0, 20, 300, true, 0, 0},
        // A tone 46 dB below the noise: no station to lock to, so nothing is sent.
        LabelCase{"no_signal", Afternoon, -35.0, 3.0, 20, 0, true, 0, 0},
        LabelCase{"last_minute_of_the_year", NewYear - 15 * 60, 10.0, 600.0, 26, 300, false, NewYear - 60,
                  NewYear},
        LabelCase{"a_five_minute_fade", Afternoon, 5.0, 600.0, 18, 600, false, 0, 0, 9, 5},
        LabelCase{"minutes_misread", Afternoon, 10.0, 600.0, 15, 0, false, 0, 0, -1, 0, true}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
