// SPDX-License-Identifier: GPL-3.0-or-later
// MSF, HBG and WWVB decoders on synthetic minutes: the minute-marker tests, the field readers
// with their checks, and the hour each station's clock step writes.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "station_pictures.h"

namespace {

// ---------------------------------------------------------------------------------- MSF --

// A and B bits of one MSF minute giving hour:minute, parity 57B odd, 58B summer time.
struct MsfMinute {
  int a[60] = {};
  int b[60] = {};
};

MsfMinute MsfTime(int hour, int minute, bool summer) {
  MsfMinute m;
  constexpr int identifier[8] = {0, 1, 1, 1, 1, 1, 1, 0};
  for (int k = 0; k < 8; ++k) m.a[52 + k] = identifier[k];
  PutWeights(m.a, {39, 40, 41, 42, 43, 44}, {20, 10, 8, 4, 2, 1}, hour);
  PutWeights(m.a, {45, 46, 47, 48, 49, 50, 51}, {40, 20, 10, 8, 4, 2, 1}, minute);
  int ones = 0;
  for (int s = 39; s <= 51; ++s) ones += m.a[s];
  m.b[57] = ones % 2 == 0 ? 1 : 0;
  m.b[58] = summer ? 1 : 0;
  return m;
}

// Carrier off 0..100 ms of every second, off in the A slot (100..200 ms) and the B slot
// (200..300 ms) for 1 bits; second 0 off for its first `second0_off` seconds.
void FillMsf(CVarnolDoc& doc, const MsfMinute& m, double second0_off = 0.5) {
  FillRing(doc, [&](int s, double f) {
    if (s == 0) return f >= second0_off;
    if (f < 0.1) return false;
    if (f < 0.2) return m.a[s] == 0;
    if (f < 0.3) return m.b[s] == 0;
    return true;
  });
}

class MsfTest : public DocTest {
 protected:
  void SetUp() override {
    doc.StationMode = StationMsf;
    doc.RingIndex = 3700;  // windows wrap past the end of the ring
  }
};

struct MsfFieldCase {
  const char* name;
  int hour, minute;
  bool summer;
  int flip_a;  // an A bit of 39..51 to invert, 0 none
  bool flip_57b;
  const char* record;  // "" = not recorded
};

class MsfFields : public MsfTest, public ::testing::WithParamInterface<MsfFieldCase> {};

TEST_P(MsfFields, RecordsOnlyOddParity) {
  const MsfFieldCase& c = GetParam();
  MsfMinute m = MsfTime(c.hour, c.minute, c.summer);
  if (c.flip_a != 0) m.a[c.flip_a] ^= 1;
  if (c.flip_57b) m.b[57] ^= 1;
  FillMsf(doc, m);
  DecodeOnce(doc);
  EXPECT_EQ(doc.MarkerFlags[doc.DisplayColumn], 1);
  EXPECT_EQ(doc.MarkerRunLength, 1);
  EXPECT_EQ(OnlyRecord(doc), c.record);
  // the summer-time bit is taken whatever the parity says
  EXPECT_EQ(doc.SummerTimeFlag, c.summer ? 1 : 0);
  if (*c.record != 0) {
    EXPECT_EQ(doc.MinuteRecords[0].Hour, c.hour);
    EXPECT_EQ(doc.MinuteRecords[0].Minute, c.minute);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Msf, MsfFields,
    ::testing::Values(MsfFieldCase{"Winter1407", 14, 7, false, 0, false, "Reset 14:07 UT+0"},
                      MsfFieldCase{"Summer1407", 14, 7, true, 0, false, "Reset 14:07 UT+1"},
                      MsfFieldCase{"Midnight", 0, 0, false, 0, false, "Reset 00:00 UT+0"},
                      MsfFieldCase{"MidnightWithout57B", 0, 0, false, 0, true, ""},
                      MsfFieldCase{"Late2359Summer", 23, 59, true, 0, false, "Reset 23:59 UT+1"},
                      MsfFieldCase{"WrongHourBit39A", 14, 7, false, 39, false, ""},
                      MsfFieldCase{"WrongHourBit44A", 14, 7, true, 44, false, ""},
                      MsfFieldCase{"WrongMinuteBit45A", 14, 7, false, 45, false, ""},
                      MsfFieldCase{"WrongMinuteBit51A", 14, 7, false, 51, false, ""},
                      MsfFieldCase{"Wrong57B", 14, 7, false, 0, true, ""},
                      // odd parity but not a time of day: dropped like a parity failure
                      MsfFieldCase{"Hour41", 41, 16, false, 0, false, ""},
                      MsfFieldCase{"Minute67", 14, 67, true, 0, false, ""},
                      MsfFieldCase{"HourUnitsDigit12", 14, 7, false, 41, true, ""}),
    CaseName<MsfFields::ParamType>);

struct MsfMarkerCase {
  const char* name;
  double second0_off;  // seconds of carrier off at second 0
  int a_second;        // an A bit of 52..59 to invert, 0 none
  int b_second;        // a B bit to set, 0 none
  bool marker;
};

class MsfMarker : public MsfTest, public ::testing::WithParamInterface<MsfMarkerCase> {};

TEST_P(MsfMarker, HalfSecondOffAndTheIdentifier) {
  const MsfMarkerCase& c = GetParam();
  MsfMinute m = MsfTime(14, 7, false);
  if (c.a_second != 0) m.a[c.a_second] ^= 1;
  if (c.b_second != 0) m.b[c.b_second] = 1;
  FillMsf(doc, m, c.second0_off);
  DecodeOnce(doc);
  EXPECT_EQ(doc.MarkerFlags[doc.DisplayColumn], c.marker ? 1 : 0);
  EXPECT_EQ(doc.MarkerRunLength, c.marker ? 1 : 0);
  EXPECT_EQ(doc.MinuteRecordCount, c.marker ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Msf, MsfMarker,
                         ::testing::Values(MsfMarkerCase{"Broadcast", 0.5, 0, 0, true},
                                           MsfMarkerCase{"TenthsFiveToNineNotExamined", 0.9, 0, 0, true},
                                           MsfMarkerCase{"OrdinarySecondStart100ms", 0.1, 0, 0, false},
                                           MsfMarkerCase{"OrdinarySecondStart200ms", 0.2, 0, 0, false},
                                           MsfMarkerCase{"CarrierBackAt400ms", 0.4, 0, 0, false},
                                           MsfMarkerCase{"Bit52AOne", 0.5, 52, 0, false},
                                           MsfMarkerCase{"Bit53AZero", 0.5, 53, 0, false},
                                           MsfMarkerCase{"Bit56AZero", 0.5, 56, 0, false},
                                           MsfMarkerCase{"Bit58AZero", 0.5, 58, 0, false},
                                           MsfMarkerCase{"Bit59AOne", 0.5, 59, 0, false},
                                           MsfMarkerCase{"BBitsAreNotPartOfIt", 0.5, 0, 52, true}),
                         CaseName<MsfMarker::ParamType>);

// Two consecutive runs: the second writes the clock with the summer hour taken off.
TEST_F(MsfTest, SummerMinuteWritesHourMinusOne) {
  doc.AutoSetClock = 1;
  FillMsf(doc, MsfTime(14, 6, true));
  DecodeOnce(doc);
  EndRun(doc);
  EXPECT_EQ(doc.LastMinuteOfDay, 13 * 60 + 6);
  EXPECT_TRUE(log.writes.empty());
  FillMsf(doc, MsfTime(14, 7, true));
  DecodeOnce(doc);
  EndRun(doc);
  EXPECT_STREQ(doc.StatusText, "Reset 14:07 UT+1");
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_EQ(Hhmmss(log.writes[0]), "2026-12-07 13:07:01");
  EXPECT_EQ(doc.SyncOffset, 0);
}

// A later block of the run that reads the other summer-time bit does not move the hour: the
// clock step converts the middle record with the bit read together with it.
TEST_F(MsfTest, MiddleRecordKeepsItsOwnSummerBit) {
  doc.AutoSetClock = 1;
  doc.LastMinuteOfDay = 13 * 60 + 6;
  FillMsf(doc, MsfTime(14, 7, true));
  DecodeOnce(doc);
  DecodeOnce(doc);
  FillMsf(doc, MsfTime(14, 7, false));
  DecodeOnce(doc);
  EXPECT_EQ(doc.MarkerRunLength, 3);
  EndRun(doc);
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_EQ(Hhmmss(log.writes[0]), "2026-12-07 13:07:01");
  // the text is the middle record's (the second block), labelled when it was decoded
  EXPECT_STREQ(doc.StatusText, "Reset 14:07 UT+1");
}

// ------------------------------------------------------- summer time at the changes --

// The minutes either side of the changes of 2023 (both at 01:00 UT): DCF77 goes from
// 01:59 CET to 03:00 CEST on 26 March and from 02:59 CEST to 02:00 CET on 29 October; MSF from
// 00:59 GMT to 02:00 BST and from 01:59 BST to 01:00 GMT. Each minute is read cleanly on two
// blocks of its marker run, then the run's last block reads badly with the other summer-time
// bit: for DCF77 summer minutes an all-zero frame ("00:00", both parities even), otherwise the
// same minute with the zone bits the other way round (for MSF with its parity broken, so the
// block records nothing but its bit is still taken).
struct SummerChangeCase {
  const char* name;
  int station;
  int hour, minute;  // as broadcast, in the station's legal time
  bool summer;
  const char* text;     // the middle record's
  const char* written;  // UT
};

class SummerChange : public DocTest, public ::testing::WithParamInterface<SummerChangeCase> {};

TEST_P(SummerChange, ClockStepUsesTheBitReadWithTheMinute) {
  const SummerChangeCase& c = GetParam();
  doc.StationMode = c.station;
  doc.RingIndex = 911;
  doc.AutoSetClock = 1;
  int written_hour = 0, written_minute = 0;
  ASSERT_EQ(std::sscanf(c.written, "%d:%d", &written_hour, &written_minute), 2);
  doc.LastMinuteOfDay = written_hour * 60 + written_minute - 1;  // the minute before was taken
  const bool dcf77 = c.station == StationDcf77;
  int bits[60];
  if (dcf77) {
    Dcf77Time(bits, c.hour, c.minute, c.summer);
    FillDcf77(doc, bits);
  } else {
    FillMsf(doc, MsfTime(c.hour, c.minute, c.summer));
  }
  DecodeOnce(doc);
  DecodeOnce(doc);
  if (dcf77 && c.summer) {
    for (int& b : bits) b = 0;
    FillDcf77(doc, bits);
  } else if (dcf77) {
    Dcf77Time(bits, c.hour, c.minute, true);
    FillDcf77(doc, bits);
  } else {
    MsfMinute m = MsfTime(c.hour, c.minute, !c.summer);
    m.b[57] ^= 1;
    FillMsf(doc, m);
  }
  DecodeOnce(doc);
  ASSERT_EQ(doc.MarkerRunLength, 3);
  EXPECT_EQ(doc.SummerTimeFlag, c.summer ? 0 : 1);  // the last block's bit
  EndRun(doc);
  EXPECT_STREQ(doc.StatusText, c.text);
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_EQ(Hhmmss(log.writes[0]).substr(11), std::string(c.written) + ":01");
  EXPECT_EQ(doc.LastMinuteOfDay, written_hour * 60 + written_minute);
}

INSTANTIATE_TEST_SUITE_P(
    Changes2023, SummerChange,
    ::testing::Values(
        SummerChangeCase{"Dcf77MarchLastCet", StationDcf77, 1, 59, false, "Reset 01:59 UT+1", "00:59"},
        SummerChangeCase{"Dcf77MarchFirstCest", StationDcf77, 3, 0, true, "Reset 03:00 UT+2", "01:00"},
        SummerChangeCase{"Dcf77OctoberLastCest", StationDcf77, 2, 59, true, "Reset 02:59 UT+2", "00:59"},
        SummerChangeCase{"Dcf77OctoberFirstCet", StationDcf77, 2, 0, false, "Reset 02:00 UT+1", "01:00"},
        SummerChangeCase{"MsfMarchLastGmt", StationMsf, 0, 59, false, "Reset 00:59 UT+0", "00:59"},
        SummerChangeCase{"MsfMarchFirstBst", StationMsf, 2, 0, true, "Reset 02:00 UT+1", "01:00"},
        SummerChangeCase{"MsfOctoberLastBst", StationMsf, 1, 59, true, "Reset 01:59 UT+1", "00:59"},
        SummerChangeCase{"MsfOctoberFirstGmt", StationMsf, 1, 0, false, "Reset 01:00 UT+0", "01:00"}),
    CaseName<SummerChange::ParamType>);

// ---------------------------------------------------------------------------------- HBG --

// DCF77 code with HBG's second 0: `interruptions` 100 ms gaps at 0, 200, 400, 600 ms; an
// optional interruption in one tenth of second 59.
void FillHbg(CVarnolDoc& doc, const int (&bits)[60], int interruptions = 2, int tenth59 = -1) {
  FillRing(doc, [&](int s, double f) {
    const int tenth = static_cast<int>(f * 10.0);
    if (s == 59) return tenth != tenth59;
    if (s == 0) return !(tenth % 2 == 0 && tenth / 2 < interruptions);
    return f >= (bits[s] ? 0.2 : 0.1);
  });
}

class HbgTest : public DocTest {
 protected:
  void SetUp() override {
    doc.StationMode = StationHbg;
    doc.RingIndex = 17;
  }
};

struct HbgMarkerCase {
  const char* name;
  int interruptions;
  int tenth59;
  bool marker;
};

class HbgMarker : public HbgTest, public ::testing::WithParamInterface<HbgMarkerCase> {};

TEST_P(HbgMarker, TwoInterruptionsAfterAQuietSecond) {
  const HbgMarkerCase& c = GetParam();
  int bits[60];
  Dcf77Time(bits, 14, 7, false);
  FillHbg(doc, bits, c.interruptions, c.tenth59);
  DecodeOnce(doc);
  EXPECT_EQ(doc.MarkerFlags[doc.DisplayColumn], c.marker ? 1 : 0);
  EXPECT_EQ(OnlyRecord(doc), c.marker ? "Reset 14:07 UT+1" : "");
}

INSTANTIATE_TEST_SUITE_P(Hbg, HbgMarker,
                         ::testing::Values(HbgMarkerCase{"Minute", 2, -1, true},
                                           HbgMarkerCase{"Dcf77FormOneInterruption", 1, -1, false},
                                           HbgMarkerCase{"FullHourThree", 3, -1, false},
                                           HbgMarkerCase{"MidnightAndNoonFour", 4, -1, false},
                                           HbgMarkerCase{"Second59TenthZeroNotExamined", 2, 0, true},
                                           HbgMarkerCase{"Second59TenthOne", 2, 1, false},
                                           HbgMarkerCase{"Second59TenthFive", 2, 5, false},
                                           HbgMarkerCase{"Second59TenthNine", 2, 9, false}),
                         CaseName<HbgMarker::ParamType>);

struct HbgClockCase {
  const char* name;
  bool summer;
  int flip;  // a bit of 21..35 to invert, 0 none
  const char* text;
  const char* written;  // "" = no clock write
};

class HbgClock : public HbgTest, public ::testing::WithParamInterface<HbgClockCase> {};

TEST_P(HbgClock, SwissTimeToUt) {
  const HbgClockCase& c = GetParam();
  doc.AutoSetClock = 1;
  int bits[60];
  Dcf77Time(bits, 14, 6, c.summer);
  FillHbg(doc, bits);
  DecodeOnce(doc);
  EndRun(doc);
  Dcf77Time(bits, 14, 7, c.summer);
  if (c.flip != 0) bits[c.flip] ^= 1;
  FillHbg(doc, bits);
  DecodeOnce(doc);
  EndRun(doc);
  EXPECT_STREQ(doc.StatusText, c.text);
  if (*c.written == 0) {
    EXPECT_TRUE(log.writes.empty());
  } else {
    ASSERT_EQ(log.writes.size(), 1u);
    EXPECT_EQ(Hhmmss(log.writes[0]), c.written);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Hbg, HbgClock,
    ::testing::Values(HbgClockCase{"Cet", false, 0, "Reset 14:07 UT+1", "2026-12-07 13:07:01"},
                      HbgClockCase{"Cest", true, 0, "Reset 14:07 UT+2", "2026-12-07 12:07:01"},
                      HbgClockCase{"MinuteParity", false, 22, "mark 0", ""},
                      HbgClockCase{"HourParity", false, 35, "mark 0", ""}),
    CaseName<HbgClock::ParamType>);

// --------------------------------------------------------------------------------- WWVB --

enum { Zero = 0, One = 1, Marker = 2, Short1 = 3, Long0 = 4 };

// The WWVB symbols of a minute whose code gives hour:minute (UTC at its start).
void WwvbTime(int (&sym)[60], int hour, int minute) {
  for (int& s : sym) s = Zero;
  for (int p : {0, 9, 19, 29, 39, 49, 59}) sym[p] = Marker;
  int bits[60] = {};
  PutWeights(bits, {1, 2, 3, 5, 6, 7, 8}, {40, 20, 10, 8, 4, 2, 1}, minute);
  PutWeights(bits, {12, 13, 15, 16, 17, 18}, {20, 10, 8, 4, 2, 1}, hour);
  for (int s = 0; s < 60; ++s)
    if (bits[s]) sym[s] = One;
}

// Carrier reduced for 200, 500 or 800 ms at the start of every second; Short1 and Long0 are
// pulses that a receiver's filters have shortened to 400 ms or lengthened to 300 ms.
void FillWwvb(CVarnolDoc& doc, const int (&sym)[60]) {
  FillRing(doc, [&](int s, double f) {
    constexpr double reduced[5] = {0.2, 0.5, 0.8, 0.4, 0.3};
    return f >= reduced[sym[s]];
  });
}

class WwvbTest : public DocTest {
 protected:
  void SetUp() override {
    doc.StationMode = StationWwvb;
    doc.RingIndex = 2000;
  }
};

struct WwvbFieldCase {
  const char* name;
  int hour, minute;
  int second, symbol;  // one symbol to replace (second 0 = none)
  const char* record;
  int rec_hour, rec_minute;
};

class WwvbFields : public WwvbTest, public ::testing::WithParamInterface<WwvbFieldCase> {};

TEST_P(WwvbFields, MinuteOfTheCodePlusOne) {
  const WwvbFieldCase& c = GetParam();
  int sym[60];
  WwvbTime(sym, c.hour, c.minute);
  if (c.second != 0) sym[c.second] = c.symbol;
  doc.SummerTimeFlag = 1;  // never read by this station
  FillWwvb(doc, sym);
  DecodeOnce(doc);
  ASSERT_EQ(doc.MarkerFlags[doc.DisplayColumn], 1);
  ASSERT_EQ(OnlyRecord(doc), c.record);
  if (*c.record == 0) return;  // not recorded: nothing more to compare
  EXPECT_EQ(doc.MinuteRecords[0].Hour, c.rec_hour);
  EXPECT_EQ(doc.MinuteRecords[0].Minute, c.rec_minute);
}

INSTANTIATE_TEST_SUITE_P(
    Wwvb, WwvbFields,
    ::testing::Values(WwvbFieldCase{"Code1407", 14, 7, 0, 0, "Reset 14:08", 14, 8},
                      WwvbFieldCase{"Code1459", 14, 59, 0, 0, "Reset 15:00", 15, 0},
                      WwvbFieldCase{"Code2359", 23, 59, 0, 0, "Reset 00:00", 0, 0},
                      WwvbFieldCase{"Code0000", 0, 0, 0, 0, "Reset 00:01", 0, 1},
                      WwvbFieldCase{"MarkerInAFieldReadsOne", 14, 7, 1, Marker, "Reset 14:48", 14, 48},
                      WwvbFieldCase{"UnusedSecondsNotRead", 14, 7, 4, One, "Reset 14:08", 14, 8},
                      WwvbFieldCase{"OneShortenedTo400msReadsOne", 4, 7, 13, Short1, "Reset 14:08", 14, 8},
                      // no check bit: a reading that is not a time of day is dropped
                      WwvbFieldCase{"Hour34IsNotATime", 14, 7, 12, Short1, "", 0, 0},
                      WwvbFieldCase{"HourUnitsDigit12IsNotATime", 14, 7, 15, One, "", 0, 0},
                      WwvbFieldCase{"Minute67IsNotATime", 14, 67, 0, 0, "", 0, 0},
                      WwvbFieldCase{"ZeroLengthenedTo300msReadsZero", 14, 7, 12, Long0, "Reset 14:08", 14, 8},
                      WwvbFieldCase{"Unused14NotRead", 14, 7, 14, Marker, "Reset 14:08", 14, 8}),
    CaseName<WwvbFields::ParamType>);

struct WwvbMarkerCase {
  const char* name;
  int second;                           // 59 or 0
  std::function<bool(double)> carrier;  // carrier at fraction f of that second
  bool marker;
};

class WwvbMarker : public WwvbTest, public ::testing::WithParamInterface<WwvbMarkerCase> {};

TEST_P(WwvbMarker, TwoEightHundredMillisecondMarkers) {
  const WwvbMarkerCase& c = GetParam();
  int sym[60];
  WwvbTime(sym, 14, 7);
  FillRing(doc, [&](int s, double f) {
    if (s == c.second) return c.carrier(f);
    constexpr double reduced[3] = {0.2, 0.5, 0.8};
    return f >= reduced[sym[s]];
  });
  DecodeOnce(doc);
  EXPECT_EQ(doc.MarkerFlags[doc.DisplayColumn], c.marker ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Wwvb, WwvbMarker,
    ::testing::Values(WwvbMarkerCase{"Second0Marker", 0, [](double f) { return f >= 0.8; }, true},
                      WwvbMarkerCase{"Second0Zero", 0, [](double f) { return f >= 0.2; }, false},
                      WwvbMarkerCase{"Second0One", 0, [](double f) { return f >= 0.5; }, false},
                      WwvbMarkerCase{"Second59One", 59, [](double f) { return f >= 0.5; }, false},
                      WwvbMarkerCase{"Second0CarrierInTenth3", 0,
                                     [](double f) { return f >= 0.8 || (f >= 0.3 && f < 0.4); }, false},
                      WwvbMarkerCase{"Second59ReducedInTenth8", 59, [](double f) { return f >= 0.9; }, false},
                      WwvbMarkerCase{"Second0ReducedInTenth9", 0,
                                     [](double f) { return f >= 0.8 && f < 0.9; }, false}),
    CaseName<WwvbMarker::ParamType>);

// 14:59 then 15:00 in two runs: the clock is written at 15:00:01, no hour correction.
TEST_F(WwvbTest, HourRollsOverIntoTheClockWrite) {
  doc.AutoSetClock = 1;
  doc.SummerTimeFlag = 1;
  int sym[60];
  WwvbTime(sym, 14, 58);
  FillWwvb(doc, sym);
  DecodeOnce(doc);
  EndRun(doc);
  WwvbTime(sym, 14, 59);
  FillWwvb(doc, sym);
  DecodeOnce(doc);
  EndRun(doc);
  EXPECT_STREQ(doc.StatusText, "Reset 15:00");
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_EQ(Hhmmss(log.writes[0]), "2026-12-07 15:00:01");
}

}  // namespace
