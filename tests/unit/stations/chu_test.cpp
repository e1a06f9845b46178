// SPDX-License-Identifier: GPL-3.0-or-later
// CHU: the ten-character frames bit for bit against the broadcaster's layout, the frame reader's
// checks, and the Bell 103 demodulator on simulated receiver audio with noise; format B's
// leap-second warning as the document's announcement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/source_wave_input.h"
#include "decoders/chu_fsk.h"
#include "platform/linux_clock.h"
#include "simulator/chu_code.h"
#include "simulator/receiver.h"
#include "simulator/station_codes.h"
#include "station_pictures.h"

namespace {

std::string Hex(const ChuBytes& b) {
  std::string s;
  char part[4];
  for (uint8_t v : b) {
    std::snprintf(part, sizeof part, "%02X ", v);
    s += part;
  }
  s.pop_back();
  return s;
}

// The expected bytes are written out by hand: two digits to a byte, the first digit in the low
// nibble; format A repeats its five bytes, format B follows them with their complements.
struct FrameCase {
  const char* name;
  ChuBytes bytes;
  const char* expected;
};

ChuYearCode Year(int year, int dut1, int tai, bool leap, int daylight) {
  ChuYearCode c;
  c.year = year;
  c.dut1_tenths = dut1;
  c.tai_minus_utc = tai;
  c.leap_warning = leap;
  c.daylight = daylight;
  return c;
}

class ChuFrames : public testing::TestWithParam<FrameCase> {};

TEST_P(ChuFrames, BytesAsSent) {
  EXPECT_EQ(Hex(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layout, ChuFrames,
    testing::Values(
        // digits 6 3 4 1 1 4 0 6 3 5
        FrameCase{"Day341At140635", ChuFormatA(341, 14, 6, 35), "36 14 41 60 53 36 14 41 60 53"},
        // day of year hundreds 0: digits 6 0 0 5 2 3 5 9 3 9
        FrameCase{"Day5At235939", ChuFormatA(5, 23, 59, 39), "06 50 32 95 93 06 50 32 95 93"},
        FrameCase{"Day366At000032", ChuFormatA(366, 0, 0, 32), "36 66 00 00 23 36 66 00 00 23"},
        // digits 0 1 2 0 2 6 3 7 0 1, then inverted
        FrameCase{"Year2026Dut1Plus1", ChuFormatB(Year(2026, 1, 37, false, 1)),
                  "10 02 62 73 10 EF FD 9D 8C EF"},
        // flags 3 (DUT1 negative, leap second warning), |DUT1| 3, 1999, TAI - UTC 32, indicator 0
        FrameCase{"Year1999LeapDut1Minus3", ChuFormatB(Year(1999, -3, 32, true, 0)),
                  "33 91 99 23 00 CC 6E 66 DC FF"}),
    [](const testing::TestParamInfo<FrameCase>& i) { return std::string(i.param.name); });

TEST(ChuFrames, ReaderTakesBackWhatTheEncoderSends) {
  ChuTime t;
  ChuYear y;
  ChuBytes a = ChuFormatA(341, 14, 6, 35);
  ASSERT_EQ(ReadChuFrame(a.data(), t, y), ChuFrameKind::TimeA);
  EXPECT_EQ(t.day_of_year, 341);
  EXPECT_EQ(t.hour, 14);
  EXPECT_EQ(t.minute, 6);
  EXPECT_EQ(t.second, 35);
  ChuBytes b = ChuFormatB(Year(1999, -3, 32, true, 7));
  ASSERT_EQ(ReadChuFrame(b.data(), t, y), ChuFrameKind::YearB);
  EXPECT_EQ(y.year, 1999);
  EXPECT_EQ(y.dut1_tenths, -3);
  EXPECT_EQ(y.tai_minus_utc, 32);
  EXPECT_TRUE(y.leap_warning);
  EXPECT_EQ(y.daylight, 7);
}

// Frames that must not be taken: a damaged redundancy, and digits that are no time.
struct BadCase {
  const char* name;
  ChuBytes bytes;
};

ChuBytes With(ChuBytes b, int index, uint8_t value) {
  b[index] = value;
  return b;
}

class ChuRejected : public testing::TestWithParam<BadCase> {};

TEST_P(ChuRejected, NotTaken) {
  ChuTime t;
  ChuYear y;
  EXPECT_EQ(ReadChuFrame(GetParam().bytes.data(), t, y), ChuFrameKind::Rejected);
}

const ChuBytes A = ChuFormatA(341, 14, 6, 35);
const ChuBytes B = ChuFormatB(Year(2026, 1, 37, false, 1));

INSTANTIATE_TEST_SUITE_P(Checks, ChuRejected,
                         testing::Values(BadCase{"ARepeatOneBitOff", With(A, 8, A[3] ^ 0x10)},
                                         BadCase{"AFirstHalfOneBitOff", With(A, 1, A[1] ^ 0x01)},
                                         BadCase{"BComplementOneBitOff", With(B, 7, B[7] ^ 0x80)},
                                         BadCase{"BRepeatedNotInverted", With(B, 5, B[0])},
                                         BadCase{"ANotStartingWithSix", With(With(A, 0, 0x35), 5, 0x35)},
                                         BadCase{"AHour24", ChuFormatA(341, 24, 6, 35)},
                                         BadCase{"ADay0", ChuFormatA(0, 14, 6, 35)},
                                         BadCase{"ADay367", ChuFormatA(367, 14, 6, 35)},
                                         BadCase{"ASecond31", ChuFormatA(341, 14, 6, 31)},
                                         BadCase{"ADigitAbove9", With(With(A, 3, 0x6A), 8, 0x6A)}),
                         [](const testing::TestParamInfo<BadCase>& i) { return std::string(i.param.name); });

// The demodulator on the simulated receiver: seconds 30..41 of a minute, noise at the given
// tone-to-noise ratio over 0..4 kHz, a sound card at the given true rate. Every frame of
// seconds 31..39 must come out with its fields, and where it ends (500 ms into its second)
// within `tolerance_ms`.
struct AudioCase {
  const char* name;
  double snr_db;
  double card_rate;
  double tolerance_ms;
  int min_frames;
};

class ChuDemodulator : public testing::TestWithParam<AudioCase> {};

TEST_P(ChuDemodulator, FramesAndWhereTheyEnd) {
  const AudioCase& c = GetParam();
  constexpr int64_t Minute = 1796652360;  // 2026-12-07 14:06:00 UTC, day 341
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(Minute) + 30.0;
  rs.snr_db = c.snr_db;
  rs.card_rate = c.card_rate;
  rs.seed = 7;
  rs.duration_s = 11.0;
  SimulatedReceiver rx(MakeChuEncoder(), rs);
  std::vector<int16_t> audio(static_cast<size_t>(rs.duration_s * rs.card_rate) + 1);
  audio.resize(rx.Read(audio.data(), audio.size()));

  ChuFsk fsk;
  std::vector<ChuFrame> found;
  ChuFrame taken;
  for (size_t pos = 0; pos < audio.size(); pos += 128) {
    fsk.Process(audio.data() + pos, static_cast<int>(std::min<size_t>(128, audio.size() - pos)));
    while (fsk.TakeFrame(taken)) found.push_back(taken);
  }

  int frames = 0;
  for (const ChuFrame& f : found) {
    ++frames;
    // which second it came in, from where it ends
    const double end_s = f.end_sample / c.card_rate + 30.0;
    const int second = static_cast<int>(std::floor(end_s));
    EXPECT_NEAR((end_s - second - 0.5) * 1000.0, 0.0, c.tolerance_ms) << "second " << second;
    if (second == 31) {
      ASSERT_EQ(f.kind, ChuFrameKind::YearB);
      EXPECT_EQ(f.year.year, 2026);
      EXPECT_EQ(f.year.dut1_tenths, SimulatedDut1Tenths);
      EXPECT_EQ(f.year.tai_minus_utc, SimulatedTaiMinusUtc);
      EXPECT_FALSE(f.year.leap_warning);
    } else {
      ASSERT_EQ(f.kind, ChuFrameKind::TimeA) << "second " << second;
      EXPECT_EQ(f.time.day_of_year, 341);
      EXPECT_EQ(f.time.hour, 14);
      EXPECT_EQ(f.time.minute, 6);
      EXPECT_EQ(f.time.second, second);
    }
  }
  EXPECT_GE(frames, c.min_frames);
  EXPECT_LE(frames, 9);
}

INSTANTIATE_TEST_SUITE_P(Audio, ChuDemodulator,
                         testing::Values(AudioCase{"Clean", 60.0, 8000.0, 0.1, 9},
                                         AudioCase{"TenDb", 10.0, 8000.0, 0.5, 9},
                                         AudioCase{"TenDbCardFast", 10.0, 8012.8, 0.5, 9},
                                         AudioCase{"ThreeDbCardSlow", 3.0, 7990.0, 1.0, 6}),
                         [](const testing::TestParamInfo<AudioCase>& i) {
                           return std::string(i.param.name);
                         });

// ------------------------------------------------------------------- leap-second warning --

// Format B's warning becomes the document's LeapAnnounced (1 inserted, 2 removed, the way DUT1
// points), replaces an earlier one, and is dropped when the clock step takes a minute more than
// an hour after the last format B frame, and with a change of station.
struct LeapCase {
  const char* name;
  int announced_before;  // LeapAnnounced left from earlier
  bool warning;
  int dut1_tenths;
  double a_frames_after_s;  // seconds from the format B frame to the first of two format A frames
  int announced;            // LeapAnnounced after the format A pair
};

class ChuLeap : public testing::TestWithParam<LeapCase> {};

TEST_P(ChuLeap, FormatBWarningIsTheAnnouncement) {
  const LeapCase& c = GetParam();
  ReceiverSettings rs;
  rs.duration_s = 1.0;
  SourceWaveInput wave(std::make_unique<SimulatedReceiver>(MakeChuEncoder(), rs));
  SimulatedClock clock(1796652300);
  RecordingErrors errors;
  CVarnolDoc doc(wave, clock, errors);
  doc.StationMode = StationChu;
  doc.LeapAnnounced = c.announced_before;
  const double second = doc.BlocksPerMinute * 128.0 / 60.0;  // samples

  // Each frame is taken a little after it ended, as the demodulator hands it out.
  auto take = [&](ChuFrame f, double end) {
    f.end_sample = end;
    doc.ChuDemod.Skip(static_cast<int>(std::ceil(end + 100.0 - static_cast<double>(doc.ChuDemod.SamplesSeen()))));
    doc.TakeChuFrame(f);
  };
  ChuFrame b;
  const ChuBytes year = ChuFormatB(Year(2026, c.dut1_tenths, 37, c.warning, 1));
  ASSERT_EQ(ReadChuFrame(year.data(), b.time, b.year), ChuFrameKind::YearB);
  b.kind = ChuFrameKind::YearB;
  take(b, 31.5 * second);
  ChuFrame a;
  a.kind = ChuFrameKind::TimeA;
  a.time = ChuTime{341, 14, 5, 32};
  take(a, (31.5 + c.a_frames_after_s) * second);
  a.time.second = 33;
  take(a, (32.5 + c.a_frames_after_s) * second);
  EXPECT_EQ(doc.LeapAnnounced, c.announced);
  EXPECT_EQ(std::string(doc.StatusText), "Reset 14:05");  // the pair was taken
  // kept while CHU stays chosen, dropped with a change of station
  doc.OnStation(StationChu);
  EXPECT_EQ(doc.LeapAnnounced, c.announced);
  doc.OnStation(StationDcf77);
  EXPECT_EQ(doc.LeapAnnounced, 0);
}

INSTANTIATE_TEST_SUITE_P(Warnings, ChuLeap,
                         testing::Values(LeapCase{"InsertedDut1Negative", 0, true, -3, 1.0, 1},
                                         LeapCase{"InsertedDut1Nought", 0, true, 0, 1.0, 1},
                                         LeapCase{"RemovedDut1Positive", 0, true, 4, 1.0, 2},
                                         LeapCase{"NoneClearsAnEarlierOne", 1, false, -3, 1.0, 0},
                                         LeapCase{"KeptWithinTheHour", 0, true, -3, 3500.0, 1},
                                         LeapCase{"DroppedAfterAnHour", 0, true, -3, 3700.0, 0}),
                         CaseName<LeapCase>);

// ------------------------------------------------------------------- through the loop --

// CHU through the document: the clock is set once a minute, from the first pair of
// consecutive seconds' format A frames, to the second and millisecond the audio has reached
// (checked against the true time of the block that wrote it); the reset text gives UTC; format
// B's year and announcements are kept.
struct LoopCase {
  const char* name;
  double snr_db;
  double card_rate;
  double fade_depth;
  double start_second;  // into the minute 14:05
  int writes;           // clock writes expected
};

class ChuThroughTheLoop : public testing::TestWithParam<LoopCase> {
 protected:
  static void SetUpTestSuite() {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

TEST_P(ChuThroughTheLoop, SetsTheClockToTheSecond) {
  const LoopCase& c = GetParam();
  ScratchDirectory scratch;
  constexpr int64_t Minute1405 = 1796652300;  // 2026-12-07 14:05:00 UTC, day 341
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(Minute1405) + c.start_second;
  rs.snr_db = c.snr_db;
  rs.card_rate = c.card_rate;
  rs.fade_depth = c.fade_depth;
  rs.seed = 11;
  rs.duration_s = 160.0 - c.start_second;  // to 14:07:40
  SourceWaveInput wave(std::make_unique<SimulatedReceiver>(MakeChuEncoder(), rs));
  // the PC's clock starts 7 s and 300 ms off
  SimulatedClock clock(Minute1405);
  clock.StartAtMilliseconds(static_cast<int64_t>(std::llround((rs.start_utc + 7.3) * 1000.0)));
  RecordingErrors errors;
  CVarnolDoc doc(wave, clock, errors);
  doc.StationMode = StationChu;
  doc.AutoSetClock = 1;
  clock.FollowBlocks(&doc.BlocksProcessed);
  struct Writes : DocObserver {
    void OnClockWrite(const SYSTEMTIME& st, bool ok) override {
      EXPECT_TRUE(ok);
      written_ms.push_back(UnixFromSystemTime(st) * 1000 + st.wMilliseconds);
      at_block.push_back(doc->BlocksProcessed);
      status.push_back(doc->StatusText);
    }
    const CVarnolDoc* doc = nullptr;
    std::vector<int64_t> written_ms, at_block;
    std::vector<std::string> status;
  } log;
  log.doc = &doc;
  doc.AddObserver(&log);
  doc.StartCapture();
  while (wave.Pump()) doc.ProcessCaptureBuffer();
  doc.StopCapture();
  doc.RemoveObserver(&log);

  ASSERT_EQ(static_cast<int>(log.written_ms.size()), c.writes);
  for (size_t i = 0; i < log.written_ms.size(); ++i) {
    // true time at the end of the block that wrote the clock
    const double true_s = rs.start_utc + static_cast<double>(log.at_block[i]) * 128.0 / rs.card_rate;
    EXPECT_NEAR(static_cast<double>(log.written_ms[i]) / 1000.0 - true_s, 0.0, 0.005) << "write " << i;
    const int minute_of_hour = static_cast<int>(std::fmod(true_s, 3600.0) / 60.0);
    EXPECT_EQ(log.status[i], "Reset 14:0" + std::to_string(minute_of_hour)) << "write " << i;
  }
  EXPECT_EQ(doc.ChuYearInfo.year, 2026);
  EXPECT_EQ(doc.ChuYearInfo.tai_minus_utc, SimulatedTaiMinusUtc);
  EXPECT_EQ(doc.ChuYearInfo.dut1_tenths, SimulatedDut1Tenths);
}

// From 14:05:20 to 14:07:40 the code of 14:05, 14:06 and 14:07 is heard: three writes; from
// 14:05:34 the first pair is 34/35. "Weak" is 3 dB of noise over 0..4 kHz; fading swings the
// gain down to 20 % once a minute.
INSTANTIATE_TEST_SUITE_P(Stations, ChuThroughTheLoop,
                         testing::Values(LoopCase{"Clean", 20.0, 8000.0, 0.0, 20.0, 3},
                                         LoopCase{"TenDbCardFast", 10.0, 3756.0 * 128.0 / 60.0, 0.0, 34.2, 3},
                                         LoopCase{"WeakCardSlow", 3.0, 7990.0, 0.0, 20.0, 3},
                                         LoopCase{"Fading", 10.0, 8000.0, 0.8, 20.0, 3}),
                         CaseName<LoopCase>);

}  // namespace
