// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostics: level and clipping judgements at their boundaries, the run summary's
// reasons, the gain stage's arithmetic and its automatic settling, the signal report on
// simulated reception, and the run chart's picture.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "capture/source_wave_input.h"
#include "conditioning/gain_stage.h"
#include "diagnostics/other_stations.h"
#include "diagnostics/run_chart.h"
#include "diagnostics/signal_health.h"
#include "platform/linux_clock.h"
#include "simulator/receiver.h"
#include "tools/diagnostics_cli.h"
#include "unit/app/fakes.h"

namespace {

constexpr int64_t Start = 1796648700;  // 2026-12-07 13:05:00 UTC

// ---- Level judgement ----------------------------------------------------------------------

struct LevelCase {
  const char* name;
  LevelInputs in;
  LevelVerdict want;
};

LevelInputs L(int level, double ceiling, double clip, bool tone = true, int mode = StationDcf77) {
  LevelInputs in;
  in.station_mode = mode;
  in.tone_level = level;
  in.ceiling_fraction = ceiling;
  in.clip_fraction = clip;
  in.tone_present = tone;
  return in;
}

class LevelJudgement : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LevelJudgement, AtItsBoundaries) {
  EXPECT_EQ(JudgeLevel(GetParam().in), GetParam().want) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LevelJudgement,
    ::testing::Values(
        LevelCase{"clean mid level", L(300, 0.0, 0.0), LevelVerdict::Good},
        LevelCase{"clipping at one in ten thousand", L(300, 0.0, 1e-4), LevelVerdict::TooStrong},
        LevelCase{"clipping just below", L(300, 0.0, 0.99e-4), LevelVerdict::Good},
        LevelCase{"ceiling in 1 % of blocks", L(700, 0.01, 0.0), LevelVerdict::TooStrong},
        LevelCase{"ceiling just below 1 %", L(700, 0.0099, 0.0), LevelVerdict::Good},
        LevelCase{"weakest good level", L(WeakToneLevel, 0.0, 0.0), LevelVerdict::Good},
        LevelCase{"one below", L(WeakToneLevel - 1, 0.0, 0.0), LevelVerdict::Weak},
        LevelCase{"no tone", L(300, 0.0, 0.0, false), LevelVerdict::NoTone},
        LevelCase{"clipped and no tone: the level first", L(0, 0.0, 0.5, false), LevelVerdict::TooStrong},
        LevelCase{"wwv at its ceiling", L(1536, 0.02, 0.0, true, StationWwv), LevelVerdict::TooStrong}));

// ---- Run summary ----------------------------------------------------------------------------

SignalReport Report(LevelVerdict v, double snr = 10.0, double strongest_hz = 1000.0,
                    bool strongest_is_tone = true) {
  SignalReport r;
  r.verdict = v;
  r.snr_db = snr;
  r.strongest_hz = strongest_hz;
  r.strongest_is_tone = strongest_is_tone;
  return r;
}

struct SummaryCase {
  const char* name;
  SummaryInputs in;
  const char* first;        // words the first reason contains
  const char* also;         // words some reason contains ("" for none)
  const char* absent = "";  // words no reason contains ("" for none)
};

SummaryInputs S(double minutes, int minute_markers, int decoded, std::vector<SignalReport> reports,
                std::vector<OtherStationSeen> others = {}, double fading = 0.1, int disagreeing = 0) {
  SummaryInputs in;
  in.minutes = minutes;
  in.markers = minute_markers;
  in.minute_markers = minute_markers;
  in.decoded = decoded;
  in.reports = std::move(reports);
  in.others = std::move(others);
  in.fading_depth = fading;
  in.disagreeing = disagreeing;
  return in;
}

class SummaryReasons : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(SummaryReasons, MostLikelyFirst) {
  const SummaryCase& c = GetParam();
  const RunSummary s = Summarise(c.in);
  ASSERT_FALSE(s.reasons.empty()) << c.name;
  EXPECT_NE(s.reasons[0].find(c.first), std::string::npos) << c.name << ": " << s.reasons[0];
  if (*c.also != 0) {
    bool found = false;
    for (const std::string& r : s.reasons) found = found || r.find(c.also) != std::string::npos;
    EXPECT_TRUE(found) << c.name;
  }
  if (*c.absent != 0) {
    for (const std::string& r : s.reasons)
      EXPECT_EQ(r.find(c.absent), std::string::npos) << c.name << ": " << r;
  }
}

const std::vector<SignalReport> Good5(5, Report(LevelVerdict::Good));
const std::vector<SignalReport> Strong5(5, Report(LevelVerdict::TooStrong));

INSTANTIATE_TEST_SUITE_P(
    Cases, SummaryReasons,
    ::testing::Values(
        SummaryCase{"wrong station", S(5, 0, 0, Good5, {{"msf", 4, 3}, {"hbg", 0, 0}}),
                    "is this the right station? markers of MSF were seen", ""},
        SummaryCase{"a long noisy hour: two markers of another station are noise, not that station",
                    S(60, 0, 0, std::vector<SignalReport>(5, Report(LevelVerdict::Good, -4.0)), {{"hbg", 2, 0}}),
                    "no minute markers of DCF77", "", "markers of HBG"},
        SummaryCase{"too strong: another station's markers then come from the clipping's harmonics",
                    S(5, 0, 0, Strong5, {{"dcf77", 2, 0}}), "too strong", "", "markers of DCF77"},
        SummaryCase{"no tone, another tone elsewhere",
                    S(5, 0, 0, std::vector<SignalReport>(5, Report(LevelVerdict::NoTone, 0, 1500.0))),
                    "No tone near 1000 Hz: the strongest tone is at 1500 Hz, tune the receiver by -500 Hz",
                    ""},
        SummaryCase{"weak", S(5, 0, 0, std::vector<SignalReport>(5, Report(LevelVerdict::Weak))),
                    "no minute markers of DCF77", "weak"},
        SummaryCase{"noise", S(5, 3, 0, std::vector<SignalReport>(5, Report(LevelVerdict::Good, -4.0))),
                    "Much noise: signal-to-noise about -4 dB", "Minute markers were seen"},
        SummaryCase{"noise that WWV still decodes through",
                    [] {
                      SummaryInputs in = S(5, 3, 0, std::vector<SignalReport>(5, Report(LevelVerdict::Good, -4.0)));
                      in.station_mode = StationWwv;
                      return in;
                    }(),
                    "Minute markers were seen", "", "Much noise"},
        SummaryCase{"fading with minutes decoded", S(10, 9, 8, Good5, {}, 0.8), "Deep fading", ""},
        SummaryCase{"fading, nothing decoded", S(10, 3, 0, Good5, {}, 0.6), "Deep fading",
                    "Minute markers were seen"},
        SummaryCase{"decoded minutes that contradict the audio", S(10, 9, 8, Good5, {}, 0.1, 2),
                    "2 decoded minutes did not follow the time elapsed", ""},
        SummaryCase{"too short", S(1.5, 0, 0, {}), "Only 1.5 minutes of audio", ""}));

TEST(SummaryReasons, NoneWhenAllWentWell) {
  EXPECT_TRUE(Summarise(S(10, 9, 8, Good5)).reasons.empty());
}

// ---- Gain stage arithmetic -------------------------------------------------------------------

struct ScaleCase {
  int16_t in;
  double db;
  int16_t want;
};

class GainScale : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(GainScale, RoundsToNearestAndHoldsTheLimits) {
  const ScaleCase& c = GetParam();
  GainStage g(c.db);
  int16_t buffer[3] = {c.in, c.in, c.in};
  g.Apply(buffer, 3);
  for (int16_t v : buffer) EXPECT_EQ(v, c.want) << c.in << " at " << c.db << " dB";
}

INSTANTIATE_TEST_SUITE_P(Cases, GainScale,
                         ::testing::Values(ScaleCase{1000, 0.0, 1000}, ScaleCase{-32768, 0.0, -32768},
                                           ScaleCase{32767, 0.0, 32767}, ScaleCase{1000, -20.0, 100},
                                           ScaleCase{-1000, -20.0, -100}, ScaleCase{1000, 20.0, 10000},
                                           ScaleCase{3277, 20.0, 32767},    // 32770 held at the top
                                           ScaleCase{3276, 20.0, 32760},    // just inside
                                           ScaleCase{-3277, 20.0, -32768},  // -32770 held at the bottom
                                           ScaleCase{-3276, 20.0, -32760}, ScaleCase{32767, 60.0, 32767},
                                           ScaleCase{-32768, 60.0, -32768},
                                           ScaleCase{15, -20.0, 2},    // 1.5 rounds away from zero
                                           ScaleCase{-15, -20.0, -2},  // -1.5 likewise
                                           ScaleCase{14, -20.0, 1}, ScaleCase{1, -60.0, 0}));

TEST(GainSettingText, ReadsAutoAndDecibelsWithinRange) {
  EXPECT_TRUE(ParseGainSetting("auto")->automatic);
  EXPECT_EQ(ParseGainSetting("-20")->db, -20.0);
  EXPECT_EQ(ParseGainSetting("60")->db, 60.0);
  EXPECT_EQ(ParseGainSetting("-60")->db, -60.0);
  for (const char* bad : {"", "60.1", "-61", "abc", "6dB", "nan", "inf", "Auto"})
    EXPECT_FALSE(ParseGainSetting(bad).has_value()) << bad;
}

// ---- Through the clock's processing loop on simulated reception --------------------------------

// A document fed by the simulated receiver, with the clock following the audio.
struct Loop {
  Loop(const char* station, int mode, ReceiverSettings rs, double minutes)
      : wave(std::make_unique<SimulatedReceiver>(MakeEncoder(station), Settings(rs, minutes))),
        clock(Start),
        doc(wave, clock, errors) {
    doc.StationMode = mode;
    doc.AutoSetClock = 1;
    clock.FollowBlocks(&doc.BlocksProcessed);
  }
  static ReceiverSettings Settings(ReceiverSettings rs, double minutes) {
    rs.start_utc = static_cast<double>(Start);
    rs.duration_s = minutes * 60.0;
    return rs;
  }
  // Processes the audio, calling `each` before every buffer.
  template <typename Each>
  void Play(Each each) {
    doc.StartCapture();
    while (wave.Pump()) {
      each();
      doc.ProcessCaptureBuffer();
    }
    doc.Stopped = 1;  // no snapshot file from a test
    doc.CloseWaveDevice();
  }
  void Play() {
    Play([] {});
  }
  SourceWaveInput wave;
  SimulatedClock clock;
  RecordingErrors errors;
  CVarnolDoc doc;
};

struct Resets : DocObserver {
  void OnStatusText(const char* text) override {
    if (std::string(text).rfind("Reset", 0) == 0) resets += 1;
  }
  int resets = 0;
};

ReceiverSettings Rx(double amplitude, double snr = 3.0) {
  ReceiverSettings rs;
  rs.amplitude = amplitude;
  rs.snr_db = snr;
  rs.seed = 5;
  return rs;
}

// Plays the run through `gain`; the resets the document announced.
int PlayWithGain(Loop& run, GainStage& gain) {
  run.doc.InputFilter = &gain;
  Resets r;
  run.doc.AddObserver(&r);
  run.Play();
  run.doc.RemoveObserver(&r);
  return r.resets;
}

// Full-scale WWV passes the peak tracker's cap and decodes nothing; the automatic gain brings it
// into range within seconds, long before the first minute marker, and then leaves it alone.
TEST(AutoGain, SettlesFullScaleWwvWithinTwentySeconds) {
  Loop run("wwv", StationWwv, Rx(32767), 5);
  GainStage gain(run.doc);
  const int resets = PlayWithGain(run, gain);
  const double settled_s = static_cast<double>(gain.LastStepBlock()) * 128.0 / 8000.0;
  EXPECT_GT(gain.Steps(), 0);
  EXPECT_LE(settled_s, 20.0);
  EXPECT_LE(gain.GainDb(), -30.0);
  EXPECT_GE(resets, 2);
}

// Once minute markers come, the gain moves only on the buffer just after a marker run has
// ended, never while a minute's code is being received; decoding goes on after the step.
TEST(AutoGain, StepsOnlyBetweenMinutesOnceMarkersCome) {
  Loop run("dcf77", StationDcf77, Rx(2500), 7);
  GainStage gain(run.doc);
  Resets r;
  run.doc.AddObserver(&r);
  // Notes the document's marker state whenever the gain moves.
  struct Watch : CaptureFilter {
    Watch(GainStage& g, const CVarnolDoc& d) : gain(g), doc(d) {}
    void Apply(int16_t* samples, int count) override {
      const int since = doc.BlocksSinceMarker;
      const int runlen = doc.MarkerRunLength;
      const double before = gain.GainDb();
      gain.Apply(samples, count);
      if (gain.GainDb() != before) at_step.emplace_back(since, runlen);
    }
    GainStage& gain;
    const CVarnolDoc& doc;
    std::vector<std::pair<int, int>> at_step;  // BlocksSinceMarker and MarkerRunLength
  } watch(gain, run.doc);
  int64_t buffers = 0;
  run.Play([&] {
    // Attached after two and a half minutes: markers are being read by then.
    if (++buffers == 600) run.doc.InputFilter = &watch;
  });
  const auto& at_step = watch.at_step;
  run.doc.RemoveObserver(&r);
  ASSERT_FALSE(at_step.empty()) << "amplitude 2500 saturates the tone bin: the gain should have moved";
  for (auto [since, runlen] : at_step) {
    EXPECT_EQ(runlen, 0);
    EXPECT_GE(since, 0);
    EXPECT_LT(since, 64);
  }
  EXPECT_GE(r.resets, 3);
}

// Static crashes (six a minute, 2 to 30 times the carrier, a few blocks each) are not taken
// for a tone that is too strong: the gain stays where the tone puts it and every minute decodes.
TEST(AutoGain, StaticCrashesDoNotStepItDown) {
  for (const uint64_t seed : {1u, 2u, 3u}) {
    ReceiverSettings rs = Rx(600.0);
    rs.seed = seed;
    rs.static_per_minute = 6.0;
    Loop run("dcf77", StationDcf77, rs, 6);
    GainStage gain(run.doc);
    EXPECT_GE(PlayWithGain(run, gain), 4) << "seed " << seed;  // minutes decoded
    EXPECT_GE(gain.GainDb(), -6.0) << "seed " << seed;
  }
}

// ---- Signal report --------------------------------------------------------------------------

std::vector<SignalReport> Reports(const char* station, int mode, ReceiverSettings rs, double minutes,
                                  RunSummary* summary = nullptr, double card_bpm = 3756.0,
                                  bool adjust = false) {
  rs.card_rate = card_bpm * 128.0 / 60.0;
  Loop run(station, mode, rs, minutes);
  run.doc.AdjustCalibration = adjust ? 1 : 0;
  SignalHealth health(run.doc, nullptr);
  run.doc.AddObserver(&health);
  run.Play();
  run.doc.RemoveObserver(&health);
  const RunSummary s = health.Finish();
  if (summary != nullptr) *summary = s;
  return health.Reports();
}

// The report's spectrum against its defining sum worked out in long double: |X[k]|^2 of the
// Hann-windowed frame, for noise, a tone between two bins, the 16-bit extremes and silence,
// added to what the sum held. The fast transform's rounding stays far below 1e-12 of the
// frame's energy; a wrong twiddle factor or a sample out of place shows at 1e-4 and more.
TEST(FramePower, MatchesTheDefiningSum) {
  constexpr int N = FramePower::Size;
  std::vector<std::vector<int16_t>> frames(4, std::vector<int16_t>(N));
  uint32_t seed = 12345;
  for (int n = 0; n < N; ++n) {
    seed = seed * 1664525u + 1013904223u;
    frames[0][n] = static_cast<int16_t>(static_cast<int>(seed >> 16) - 32768);
    frames[1][n] = static_cast<int16_t>(std::lround(9000.0 * std::sin(2 * M_PI * 1015.6 * n / 8000.0)));
    frames[2][n] = n % 3 == 0 ? int16_t{-32768} : int16_t{32767};
  }
  FramePower spectrum;
  for (size_t f = 0; f < frames.size(); ++f) {
    std::array<double, N / 2 + 1> power;
    power.fill(7.0);
    spectrum.AddTo(frames[f].data(), power);
    std::vector<long double> want(N / 2 + 1);
    long double energy = 0;
    for (int k = 0; k <= N / 2; ++k) {
      long double re = 0, im = 0;
      for (int n = 0; n < N; ++n) {
        const long double w = 0.5L - 0.5L * std::cos(2 * 3.14159265358979323846264L * n / N);
        const long double a = -2 * 3.14159265358979323846264L * k * n / N;
        re += w * frames[f][n] * std::cos(a);
        im += w * frames[f][n] * std::sin(a);
      }
      want[k] = re * re + im * im;
      energy += want[k];
    }
    for (int k = 0; k <= N / 2; ++k)
      EXPECT_NEAR(power[k] - 7.0, static_cast<double>(want[k]), 1e-12 * static_cast<double>(energy) + 1e-9)
          << "frame " << f << ", bin " << k;
  }
}

TEST(SignalReport, EstimatesTheSignalToNoiseRatio) {
  for (double snr : {0.0, 10.0}) {
    const auto reports = Reports("dcf77", StationDcf77, Rx(600, snr), 2);
    ASSERT_EQ(reports.size(), 2u);
    // The tone is off for a tenth or two of every second: its mean power is up to 1 dB lower.
    EXPECT_NEAR(reports[1].snr_db, snr - 0.5, 1.5) << snr;
    EXPECT_EQ(reports[1].verdict, LevelVerdict::Good);
    EXPECT_NEAR(reports[1].tone_hz, 1000.0, 32.0);
  }
}

// The tone's frequency between the spectrum's 31.25 Hz bins: WWV's 100 Hz code lies between
// two of them and must not read as the nearer one's 94 Hz.
TEST(SignalReport, ReadsTheToneBetweenTheBins) {
  for (const auto& [station, mode, hz] :
       {std::tuple{"dcf77", StationDcf77, 1000}, std::tuple{"wwv", StationWwv, 100}}) {
    const auto reports = Reports(station, mode, Rx(600, 6), 2);
    ASSERT_EQ(reports.size(), 2u) << station;
    EXPECT_NEAR(reports[1].tone_hz, hz, 2.0) << station;
    EXPECT_NE(reports[1].text.find("Tone at " + std::to_string(hz) + " Hz"), std::string::npos)
        << station << ": " << reports[1].text;
  }
}

// The level's "good" and the noise's word are separate: a good level with a poor ratio must
// not read as good reception.
struct SnrWordCase {
  int station;
  double snr_db;
  const char* words;
};

class SnrWords : public ::testing::TestWithParam<SnrWordCase> {};

TEST_P(SnrWords, TheRatioCarriesItsOwnWord) {
  SignalReport r = Report(LevelVerdict::Good, GetParam().snr_db);
  r.station_mode = GetParam().station;
  r.level.station_mode = GetParam().station;
  r.tone_hz = 1000.0;
  const std::string text = DescribeSignal(r);
  EXPECT_NE(text.find(GetParam().words), std::string::npos) << text;
  EXPECT_NE(text.find(": a good level;"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SnrWords,
    ::testing::Values(SnrWordCase{StationDcf77, -4.0, "about -4 dB over 0..4 kHz (much noise: below -3 dB)"},
                      SnrWordCase{StationDcf77, -1.5, "(marginal: much noise below -3 dB)"},
                      SnrWordCase{StationDcf77, 6.0,
                                  "about 6 dB over 0..4 kHz (good: much noise only below -3 dB)"},
                      SnrWordCase{StationWwv, -4.0, "(good: much noise only below -10 dB)"},
                      SnrWordCase{StationWwv, -12.0, "(much noise: below -10 dB)"}));

// Also a loud tone 250 Hz off with little noise: its keying sidebands near 1000 Hz are no tone there.
TEST(SignalReport, SaysWhereTheToneIsWhenNotNearTheStationsFrequency) {
  struct Case {
    const char* station;
    int mode;
    double hz, amplitude, snr;
    const char* words;
  };
  for (const Case& c : {Case{"msf", StationMsf, 1500.0, 600, 10, "the strongest tone is at 1500 Hz"},
                        Case{"dcf77", StationDcf77, 750.0, 8000, 60, "the strongest tone is at 750 Hz"}}) {
    ReceiverSettings rs = Rx(c.amplitude, c.snr);
    rs.tone_hz = c.hz;
    const auto reports = Reports(c.station, c.mode, rs, 1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].verdict, LevelVerdict::NoTone) << c.hz;
    EXPECT_NEAR(reports[0].strongest_hz, c.hz, 32.0);
    EXPECT_NE(reports[0].text.find(std::string("No tone near 1000 Hz (") + c.words), std::string::npos)
        << reports[0].text;
  }
}

TEST(SignalReport, EstimatesTheCardRateFromTheMarkers) {
  const auto reports = Reports("dcf77", StationDcf77, Rx(600, 6), 5, nullptr, 3762.0);
  ASSERT_TRUE(reports.back().card_blocks_per_minute.has_value());
  EXPECT_NEAR(*reports.back().card_blocks_per_minute, 3762.0, 1.0);
}

TEST(SignalReport, FullScaleIsTooStrongAndDeepFadingIsReported) {
  RunSummary s;
  const auto strong = Reports("wwv", StationWwv, Rx(32767), 3, &s);
  for (const SignalReport& r : strong) EXPECT_EQ(r.verdict, LevelVerdict::TooStrong) << r.text;
  ASSERT_FALSE(s.reasons.empty());
  EXPECT_NE(s.reasons[0].find("too strong"), std::string::npos) << s.reasons[0];

  ReceiverSettings rs = Rx(600, 10);
  rs.fade_depth = 0.8;
  Reports("msf", StationMsf, rs, 4, &s);
  EXPECT_GE(s.in.fading_depth, DeepFadingDepth);
  bool fading = false;
  for (const std::string& r : s.reasons) fading = fading || r.find("Deep fading") != std::string::npos;
  EXPECT_TRUE(fading);

  // CHU's seconds with only a tick are the station's pattern, not a fade.
  rs.fade_depth = 0.0;
  Reports("chu", StationChu, rs, 3, &s);
  EXPECT_LT(s.in.fading_depth, 0.2);
}

// ---- Other stations ---------------------------------------------------------------------------

// `signal` heard while `selected` is chosen: nothing decodes, and the summary says so in `words`,
// naming the station as `name`.
void ExpectOtherStationNamed(const char* signal, int selected, const char* words, const char* name) {
  Loop run(signal, selected, Rx(600, 6), 4);
  SignalHealth health(run.doc, nullptr);
  OtherStations others(selected);
  health.SetOtherStations([&] { return others.Seen(); });
  run.doc.AddObserver(&health);
  run.doc.AddObserver(&others);
  run.Play();
  run.doc.RemoveObserver(&health);
  run.doc.RemoveObserver(&others);
  const RunSummary s = health.Finish();
  EXPECT_EQ(s.in.decoded, 0);
  ASSERT_FALSE(s.reasons.empty());
  EXPECT_NE(s.reasons[0].find(words), std::string::npos) << s.reasons[0];
  EXPECT_NE(s.reasons[0].find(name), std::string::npos) << s.reasons[0];
  EXPECT_EQ(run.doc.LastMinuteOfDay, NoPreviousMinute);  // the shadows never touch the clock's document
}

TEST(OtherStations, RecogniseMsfWhileDcf77IsSelected) {
  ExpectOtherStationNamed("msf", StationDcf77, "markers of MSF were seen", "MSF");
}

// JJY among the other stations looked for. (WWVB's reader, 200 ms out of step, takes JJY's
// pulses for its own -- the same fields at the same seconds, inverted and shifted -- so WWVB's
// shadow may be named beside it.)
TEST(OtherStations, RecogniseJjyWhileDcf77IsSelected) {
  ExpectOtherStationNamed("jjy", StationDcf77, "is this the right station? markers of", "JJY");
}

// A document fed the buffers that the clock's document has just measured, taking the blocks'
// spectrum rows from it, ends every buffer exactly as one that measures the same samples
// itself: the same traces, threshold and status texts. Pairs of (the clock's station, the
// follower's); a WWV document has no rows to give, and a WWV follower measures its own.
struct Follower : DocObserver {
  explicit Follower(int mode) : clock(Start), doc(wave, clock, errors) {
    doc.StationMode = mode;
    doc.AutoSetClock = 0;
    doc.AddObserver(this);
    doc.StartCapture();
  }
  ~Follower() override {
    doc.RemoveObserver(this);
    doc.Stopped = 1;
    doc.CloseWaveDevice();
  }
  void OnStatusText(const char* text) override { texts += std::string(text) + "\n"; }
  void Feed(const int16_t* samples) {
    std::memcpy(doc.CaptureBuffers[doc.CurrentBuffer], samples, sizeof(int16_t) * BufferSamples);
    doc.WaveHeaders[doc.CurrentBuffer].dwFlags.fetch_or(WHDR_DONE);
  }
  FakeWaveInput wave;
  SimulatedClock clock;
  RecordingErrors errors;
  CVarnolDoc doc;
  std::string texts;
};

class SharedSpectrumRows : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(SharedSpectrumRows, GiveWhatMeasuringGives) {
  const auto [clock_mode, mode] = GetParam();
  Loop run("msf", clock_mode, Rx(600, 6), 3);
  struct Pair : DocObserver {
    Pair(const CVarnolDoc& doc, int mode) : clock_doc(doc), taking(mode), measuring(mode) {}
    void OnCaptureBuffer(const int16_t* samples, int, int64_t, int64_t) override {
      taking.Feed(samples);
      measuring.Feed(samples);
      measuring.doc.ProcessCaptureBuffer();
    }
    void OnUpdate(int hint) override {
      if (hint != UPDATE_HINT_NEW_BUFFER) return;
      taking.doc.ProcessCaptureBuffer(&clock_doc);
      const CVarnolDoc& a = taking.doc;
      const CVarnolDoc& b = measuring.doc;
      buffers += 1;
      if (std::memcmp(a.SpectrumTrace, b.SpectrumTrace, sizeof a.SpectrumTrace) != 0 ||
          std::memcmp(a.LevelTrace, b.LevelTrace, sizeof a.LevelTrace) != 0 ||
          std::memcmp(a.OffFlags, b.OffFlags, sizeof a.OffFlags) != 0 || a.Threshold != b.Threshold ||
          a.DisplayColumn != b.DisplayColumn)
        differing += 1;
      for (int level : b.LevelTrace) tone_seen = tone_seen || level > 0;
    }
    const CVarnolDoc& clock_doc;
    Follower taking, measuring;
    int buffers = 0, differing = 0;
    bool tone_seen = false;
  } pair(run.doc, mode);
  run.doc.AddObserver(&pair);
  run.Play();
  run.doc.RemoveObserver(&pair);
  EXPECT_GE(pair.buffers, 3 * 60 * 8000 / BufferSamples);  // three minutes at the card's rate
  EXPECT_EQ(pair.differing, 0);
  EXPECT_TRUE(pair.tone_seen);
  EXPECT_EQ(pair.taking.texts, pair.measuring.texts);
  if (mode == StationMsf) {
    EXPECT_NE(pair.measuring.texts.find("mark "), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Stations, SharedSpectrumRows,
                         ::testing::Values(std::pair{StationDcf77, StationMsf},
                                           std::pair{StationMsf, StationVng},
                                           std::pair{StationWwv, StationMsf},
                                           std::pair{StationDcf77, StationWwv}));

// ---- Chart --------------------------------------------------------------------------------------

// Cairo keeps its font faces for the life of the process; released at the end of the test
// program so that the leak checker sees only what the code under test leaves behind.
class CairoCaches : public ::testing::Environment {
 public:
  void TearDown() override { cairo_debug_reset_static_data(); }
};
const auto* const cairo_caches = ::testing::AddGlobalTestEnvironment(new CairoCaches);

TEST(RunChart, OneRowPerMinuteWithTheMarkerWhereTheMinuteBegins) {
  Loop run("dcf77", StationDcf77, Rx(600, 6), 4);
  RunChart chart(run.doc);
  run.doc.AddObserver(&chart);
  run.Play();
  run.doc.RemoveObserver(&chart);
  char dir[] = "/tmp/varnol-chart-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/run.png";
  std::string error;
  ASSERT_TRUE(chart.WritePng(path, error)) << error;

  cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(png), chart.Width());
  EXPECT_EQ(cairo_image_surface_get_height(png), chart.Height());
  EXPECT_EQ(chart.Rows(), 4);  // four whole minutes from the ring's slot 0
  auto pixel = [&](int x, int y) {
    const unsigned char* row = cairo_image_surface_get_data(png) + y * cairo_image_surface_get_stride(png);
    const uint32_t v = reinterpret_cast<const uint32_t*>(row)[x];
    return v & 0xFFFFFFu;
  };
  constexpr uint32_t LightCyan = 0x7FFFFF;
  // The broadcast starts at a minute boundary at the ring's slot 0: from the second row on, the
  // marker sits at the row's ends (where slot 3755 meets slot 0) and nowhere else on its top line.
  for (int row = 1; row < 4; ++row) {
    int cyan_near_start = 0, cyan_elsewhere = 0;
    for (int x = chart.SlotX(0); x < chart.Width(); ++x) {
      if (pixel(x, chart.RowY(row)) != LightCyan) continue;
      (x <= chart.SlotX(12) || x >= chart.SlotX(DefaultBlocksPerMinute - 12) ? cyan_near_start
                                                                             : cyan_elsewhere) += 1;
    }
    EXPECT_GT(cyan_near_start, 0) << row;
    EXPECT_EQ(cyan_elsewhere, 0) << row;
  }
  // Rows whose minute was accepted carry its time at the left: light text pixels on the dark
  // blue, and more of them than the "-" of the first row (13:05, before any marker).
  auto white = [&](int row) {
    int n = 0;
    for (int y = chart.RowY(row); y < chart.RowY(row + 1); ++y)
      for (int x = 0; x < 48; ++x) {
        const uint32_t p = pixel(x, y);
        n += (p >> 16) > 0x80 && ((p >> 8) & 0xFF) > 0x80 && (p & 0xFF) > 0x80;
      }
    return n;
  };
  EXPECT_GT(white(0), 0);
  EXPECT_GT(white(2), 3 * white(0));
  cairo_surface_destroy(png);
  std::remove(path.c_str());
  rmdir(dir);
}

// ---- Summary line ---------------------------------------------------------------------------

// The text summary counts what the JSON calls "minute_markers", under the same words, with the
// other markers apart, and every count in the singular or plural it takes.
struct SummaryLineCase {
  const char* name;
  int markers, minute_markers, decoded, steps;
  const char* text;  // after "summary 3.0 minutes of audio, "
};

class SummaryLine : public ::testing::TestWithParam<SummaryLineCase> {};

TEST_P(SummaryLine, TextAndJsonCountTheSameMarkers) {
  const SummaryLineCase& c = GetParam();
  RunSummary s;
  s.in.minutes = 3.0;
  s.in.markers = c.markers;
  s.in.minute_markers = c.minute_markers;
  s.in.decoded = c.decoded;
  s.in.clock_steps = c.steps;
  const std::string text = SummaryLines(s, 180.0, false);
  EXPECT_EQ(text.substr(text.find("summary ")),
            std::string("summary 3.0 minutes of audio, ") + c.text + "\n");
  const std::string json = SummaryLines(s, 180.0, true);
  EXPECT_NE(json.find("\"minute_markers\": " + std::to_string(c.minute_markers) + ","), std::string::npos)
      << json;
}

INSTANTIATE_TEST_SUITE_P(
    Counts, SummaryLine,
    ::testing::Values(
        SummaryLineCase{"FalseMarkersOnly", 6, 0, 0, 0,
                        "0 minute markers (6 markers in all), 0 minutes decoded, 0 clock steps"},
        SummaryLineCase{"OneOfEach", 1, 1, 1, 1, "1 minute marker, 1 minute decoded, 1 clock step"},
        SummaryLineCase{"Some", 4, 3, 2, 2,
                        "3 minute markers (4 markers in all), 2 minutes decoded, 2 clock steps"},
        SummaryLineCase{"OneStray", 1, 0, 0, 0,
                        "0 minute markers (1 marker in all), 0 minutes decoded, 0 clock steps"}),
    [](const ::testing::TestParamInfo<SummaryLineCase>& p) { return std::string(p.param.name); });

}  // namespace

// Fontconfig keeps its configuration, loaded for the chart's text, until the process ends: not a
// leak of the code under test. The sanitizers' leak checker reads this hook.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
