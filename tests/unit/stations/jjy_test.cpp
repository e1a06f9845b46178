// SPDX-License-Identifier: GPL-3.0-or-later
// JJY: the simulated time code against NICT's layout (Japan Standard Time, the day of the year
// with its hundreds, both parities, the leap-second bits, the call-sign minutes), and the
// decoder on synthetic minutes: the minute marker, the fields with their parities, the other
// fields it reports, and the clock step across JST's day and year boundaries.
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <string>

#include "simulator/station_codes.h"
#include "station_pictures.h"

namespace {

// ------------------------------------------------------------------------- the code --

std::string Symbols(const std::array<int, 60>& s) {
  std::string text;
  for (int v : s) text += "01M-"[v];
  return text;
}

// A BCD field read back from the symbols by the published weights (a marker reads as neither).
int Field(const std::array<int, 60>& s, std::initializer_list<int> seconds,
          std::initializer_list<int> weights) {
  int value = 0;
  auto w = weights.begin();
  for (int second : seconds) {
    if (s[second] == JjyOne) value += *w;
    ++w;
  }
  return value;
}

TEST(JjyCode, GivesThisMinuteInJst) {
  // 2026-12-07 14:07 UTC is 23:07 JST, Monday, day 341; both parity groups hold three ones.
  EXPECT_EQ(
      Symbols(JjySymbols(1796652420, JjyLeap{})),
      std::string("M00000111M") + "001000011M" + "001100100M" + "000100110M" + "000100110M" + "001000000M");
}

struct JstCase {
  const char* name;
  int64_t utc;  // minute start
  int hour, minute, day_of_year, year, weekday;
};

class JjyJst : public ::testing::TestWithParam<JstCase> {};

TEST_P(JjyJst, FieldsAreJapanStandardTime) {
  const JstCase& c = GetParam();
  const auto s = JjySymbols(c.utc, JjyLeap{});
  EXPECT_EQ(Field(s, {1, 2, 3, 5, 6, 7, 8}, {40, 20, 10, 8, 4, 2, 1}), c.minute);
  EXPECT_EQ(Field(s, {12, 13, 15, 16, 17, 18}, {20, 10, 8, 4, 2, 1}), c.hour);
  EXPECT_EQ(Field(s, {22, 23, 25, 26, 27, 28, 30, 31, 32, 33}, {200, 100, 80, 40, 20, 10, 8, 4, 2, 1}),
            c.day_of_year);
  EXPECT_EQ(Field(s, {41, 42, 43, 44, 45, 46, 47, 48}, {80, 40, 20, 10, 8, 4, 2, 1}), c.year);
  EXPECT_EQ(Field(s, {50, 51, 52}, {4, 2, 1}), c.weekday);
  // even parity: PA1 over the hour bits, PA2 over the minute bits
  int hour_ones = s[36] == JjyOne, minute_ones = s[37] == JjyOne;
  for (int k = 12; k <= 18; ++k) hour_ones += s[k] == JjyOne;
  for (int k = 1; k <= 8; ++k) minute_ones += s[k] == JjyOne;
  EXPECT_EQ(hour_ones % 2, 0);
  EXPECT_EQ(minute_ones % 2, 0);
  for (int p : {0, 9, 19, 29, 39, 49, 59}) EXPECT_EQ(s[p], JjyMarker) << p;
  for (int k : {4, 10, 11, 14, 20, 21, 24, 34, 35, 38, 40, 53, 54, 55, 56, 57, 58})
    EXPECT_EQ(s[k], JjyZero) << k;
}

INSTANTIATE_TEST_SUITE_P(
    Jjy, JjyJst,
    ::testing::Values(
        // 14:59 and 15:00 UTC on 7 December are 23:59 Monday and 00:00 Tuesday in Japan
        JstCase{"DayEnd", 1796655540, 23, 59, 341, 26, 1}, JstCase{"NextDay", 1796655600, 0, 0, 342, 26, 2},
        // the JST new year comes at 15:00 UTC on 31 December; 1 January 2027 is a Friday
        JstCase{"YearEnd", 1798729140, 23, 59, 365, 26, 4}, JstCase{"NewYear", 1798729200, 0, 0, 1, 27, 5},
        // 31 December 2028 (a leap year) is day 366: both hundreds bits; 9 April is day 99,
        // 10 April day 100
        JstCase{"Day366", 1861833600, 9, 0, 366, 28, 0}, JstCase{"Day99", 1775660400, 0, 0, 99, 26, 4},
        JstCase{"Day100", 1775746800, 0, 0, 100, 26, 5}),
    CaseName<JjyJst::ParamType>);

TEST(JjyCode, CallSignMinutesReplaceYearWeekdayAndLeapBits) {
  for (const int64_t utc : {int64_t{1796652900}, int64_t{1796654700}}) {  // 23:15 and 23:45 JST
    const auto s = JjySymbols(utc, JjyLeap{true, true});
    EXPECT_EQ(Symbols(s).substr(39), "M---------M000000000M") << utc;
  }
  // The call sign, "JJY JJY" in Morse, keys the carrier within seconds 40..48.
  int keyed = 0;
  for (int k = 0; k < 900; ++k) keyed += JjyMorseKeyed(k / 100.0) ? 1 : 0;
  // J (.---) and Y (-.--) are 10 units of carrier each: 60 units of 80 ms in "JJY JJY"
  EXPECT_NEAR(keyed, 480, 2);
  EXPECT_FALSE(JjyMorseKeyed(8.5));
  EXPECT_FALSE(JjyMorseKeyed(-0.1));
}

TEST(JjyCode, LeapBits) {
  const int64_t utc = 1796652420;
  EXPECT_EQ(Symbols(JjySymbols(utc, JjyLeap{true, true})).substr(50, 9), "001110000");
  EXPECT_EQ(Symbols(JjySymbols(utc, JjyLeap{true, false})).substr(50, 9), "001100000");
}

// ---------------------------------------------------------------------- the decoder --

// The symbols of a JJY minute whose code gives hour:minute (JST at its start) on `day`, with
// year 26, weekday 1 and correct parities.
void JjyTime(int (&sym)[60], int hour, int minute, int day = 341) {
  int bits[60] = {};
  PutWeights(bits, {1, 2, 3, 5, 6, 7, 8}, {40, 20, 10, 8, 4, 2, 1}, minute);
  PutWeights(bits, {12, 13, 15, 16, 17, 18}, {20, 10, 8, 4, 2, 1}, hour);
  PutWeights(bits, {22, 23, 25, 26, 27, 28, 30, 31, 32, 33}, {200, 100, 80, 40, 20, 10, 8, 4, 2, 1}, day);
  PutWeights(bits, {41, 42, 43, 44, 45, 46, 47, 48}, {80, 40, 20, 10, 8, 4, 2, 1}, 26);
  bits[52] = 1;
  int h = 0, m = 0;
  for (int k = 12; k <= 18; ++k) h += bits[k];
  for (int k = 1; k <= 8; ++k) m += bits[k];
  bits[36] = h % 2;
  bits[37] = m % 2;
  for (int s = 0; s < 60; ++s) sym[s] = bits[s] ? JjyOne : JjyZero;
  for (int p : {0, 9, 19, 29, 39, 49, 59}) sym[p] = JjyMarker;
}

// Full carrier for 800, 500 or 200 ms from each second's start, then reduced; Morse seconds
// follow the call sign.
void FillJjy(CVarnolDoc& doc, const int (&sym)[60]) {
  FillRing(doc, [&](int s, double f) {
    if (sym[s] == JjyMorse) return JjyMorseKeyed(s - 40 + f);
    constexpr double full[3] = {0.8, 0.5, 0.2};
    return f < full[sym[s]];
  });
}

class JjyTest : public DocTest {
 protected:
  void SetUp() override {
    doc.StationMode = StationJjy;
    doc.RingIndex = 1234;
  }
};

struct JjyFieldCase {
  const char* name;
  int hour, minute;
  int flip;  // a second whose bit is inverted (0 = none)
  const char* record;
};

class JjyFields : public JjyTest, public ::testing::WithParamInterface<JjyFieldCase> {};

TEST_P(JjyFields, BothParitiesHoldAndTheNextMinuteIsRecorded) {
  const JjyFieldCase& c = GetParam();
  int sym[60];
  JjyTime(sym, c.hour, c.minute);
  if (c.flip != 0) sym[c.flip] = sym[c.flip] == JjyOne ? JjyZero : JjyOne;
  FillJjy(doc, sym);
  DecodeOnce(doc);
  ASSERT_EQ(doc.MarkerFlags[doc.DisplayColumn], 1);
  EXPECT_EQ(OnlyRecord(doc), c.record);
}

INSTANTIATE_TEST_SUITE_P(Jjy, JjyFields,
                         ::testing::Values(JjyFieldCase{"Code2207", 22, 7, 0, "Reset 22:08"},
                                           JjyFieldCase{"Code2359", 23, 59, 0, "Reset 00:00"},
                                           JjyFieldCase{"Code0859", 8, 59, 0, "Reset 09:00"},
                                           JjyFieldCase{"HourBitFlipped", 22, 7, 17, ""},
                                           JjyFieldCase{"Pa1Flipped", 22, 7, 36, ""},
                                           JjyFieldCase{"MinuteBitFlipped", 22, 7, 3, ""},
                                           JjyFieldCase{"Pa2Flipped", 22, 7, 37, ""},
                                           JjyFieldCase{"UnusedSecondNotRead", 22, 7, 14, "Reset 22:08"},
                                           JjyFieldCase{"DayOfYearHasNoCheck", 22, 7, 22, "Reset 22:08"}),
                         CaseName<JjyFields::ParamType>);

// The parity misses two flipped bits; the hour they make is not a time of day.
TEST_F(JjyTest, TwoFlippedHourBitsKeepTheParityButHour42IsNoTime) {
  int sym[60];
  JjyTime(sym, 14, 7);
  sym[12] = JjyOne;  // + 20
  sym[15] = JjyOne;  // + 8
  FillJjy(doc, sym);
  DecodeOnce(doc);
  EXPECT_EQ(OnlyRecord(doc), "");
}

struct JjyMarkerCase {
  const char* name;
  int second;
  double full;  // seconds at full carrier in that second
  bool marker;
};

class JjyMarker : public JjyTest, public ::testing::WithParamInterface<JjyMarkerCase> {};

TEST_P(JjyMarker, TwoTwoHundredMillisecondMarkers) {
  const JjyMarkerCase& c = GetParam();
  int sym[60];
  JjyTime(sym, 22, 7);
  FillRing(doc, [&](int s, double f) {
    if (s == c.second) return f < c.full;
    constexpr double full[3] = {0.8, 0.5, 0.2};
    return f < full[sym[s]];
  });
  DecodeOnce(doc);
  EXPECT_EQ(doc.MarkerFlags[doc.DisplayColumn], c.marker ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Jjy, JjyMarker,
                         ::testing::Values(JjyMarkerCase{"Second0Marker", 0, 0.2, true},
                                           JjyMarkerCase{"Second0One", 0, 0.5, false},
                                           JjyMarkerCase{"Second0Zero", 0, 0.8, false},
                                           JjyMarkerCase{"Second59One", 59, 0.5, false},
                                           JjyMarkerCase{"Second59CarrierLost", 59, 0.0, false},
                                           JjyMarkerCase{"Second0CarrierThroughout", 0, 1.0, false}),
                         CaseName<JjyMarker::ParamType>);

TEST_F(JjyTest, ReportsDateLeapAndCallSign) {
  int sym[60];
  JjyTime(sym, 22, 14, 341);
  sym[53] = JjyOne;  // a leap second removed at the month's end (LS2 = 0)
  FillJjy(doc, sym);
  DecodeOnce(doc);
  EXPECT_EQ(doc.JjyInfo.DayOfYear, 341);
  EXPECT_EQ(doc.JjyInfo.Year, 26);
  EXPECT_EQ(doc.JjyInfo.Weekday, 1);
  EXPECT_EQ(doc.JjyInfo.LeapSecond, 2);
  EXPECT_EQ(doc.JjyInfo.CallSign, 0);
  EndRun(doc);

  JjyTime(sym, 22, 15, 341);
  for (int s = 40; s <= 48; ++s) sym[s] = JjyMorse;
  for (int s = 50; s <= 58; ++s) sym[s] = JjyZero;
  FillJjy(doc, sym);
  DecodeOnce(doc);
  EXPECT_EQ(OnlyRecord(doc), "Reset 22:16");
  EXPECT_EQ(doc.JjyInfo.CallSign, 1);
  EXPECT_EQ(doc.JjyInfo.Year, -1);
  EXPECT_EQ(doc.JjyInfo.Weekday, -1);
  EXPECT_EQ(doc.JjyInfo.LeapSecond, 0);
  EXPECT_EQ(doc.JjyInfo.DayOfYear, 341);
}

TEST_F(JjyTest, OrdinaryMinuteFifteenWithoutMorseIsNoCallSign) {
  int sym[60];
  JjyTime(sym, 22, 15, 341);
  FillJjy(doc, sym);
  DecodeOnce(doc);
  EXPECT_EQ(OnlyRecord(doc), "Reset 22:16");
  EXPECT_EQ(doc.JjyInfo.CallSign, 0);
}

struct JstClockCase {
  const char* name;
  int64_t clock_utc;  // the PC clock when the first minute is decoded
  int hour, minute;   // JST code of the first of two minutes
  const char* text;
  const char* written;  // UTC
};

class JjyClock : public JjyTest, public ::testing::WithParamInterface<JstClockCase> {};

// Two consecutive minutes write the second one, 9 hours earlier, on the UTC date it falls on.
TEST_P(JjyClock, WritesUtcNineHoursBehind) {
  const JstClockCase& c = GetParam();
  clock.StartAtMilliseconds(c.clock_utc * 1000);
  doc.AutoSetClock = 1;
  int sym[60];
  JjyTime(sym, c.hour, c.minute);
  FillJjy(doc, sym);
  DecodeOnce(doc);
  EndRun(doc);
  EXPECT_TRUE(log.writes.empty());
  const int next = c.hour * 60 + c.minute + 1;
  JjyTime(sym, next / 60 % 24, next % 60);
  FillJjy(doc, sym);
  DecodeOnce(doc);
  EndRun(doc);
  EXPECT_STREQ(doc.StatusText, c.text);
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_EQ(Hhmmss(log.writes[0]), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Jjy, JjyClock,
    ::testing::Values(JstClockCase{"Evening", 1796648400, 22, 5, "Reset 22:07", "2026-12-07 13:07:01"},
                      // JST midnight: still 7 December in UTC
                      JstClockCase{"JstMidnight", 1796655500, 23, 58, "Reset 00:00", "2026-12-07 15:00:01"},
                      // 09:00 JST is UTC midnight
                      JstClockCase{"UtcMidnight", 1796688000, 8, 59, "Reset 09:01", "2026-12-08 00:01:01"},
                      // the JST new year: 2027 in Japan, still 2026 in UTC
                      JstClockCase{"JstNewYear", 1798729100, 23, 58, "Reset 00:00", "2026-12-31 15:00:01"}),
    CaseName<JjyClock::ParamType>);

}  // namespace
