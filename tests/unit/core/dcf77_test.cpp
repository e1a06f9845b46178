// SPDX-License-Identifier: GPL-3.0-or-later
// The DCF77 minute marker and field reader on synthetic minutes.
#include <gtest/gtest.h>

#include "fakes.h"
#include "ring_builder.h"

namespace {

class Dcf77Test : public DocTest {
 protected:
  void SetUp() override {
    doc.StationMode = StationDcf77;
    doc.RingIndex = 1234;
  }
  // One decoder step on the ring as it stands.
  void Step() { doc.DecodeDcf77(); }
};

TEST_F(Dcf77Test, FourteenOhSevenWinterIsRecordedWithUtPlusOne) {
  int bits[60];
  Dcf77Time(bits, 14, 7, false);
  // the field layout as broadcast: minute bits 21, 22, 23 and parity 28; hour bits 31, 33
  EXPECT_EQ(bits[21] + bits[22] + bits[23] + bits[28], 4);
  EXPECT_EQ(bits[31] + bits[33], 2);
  EXPECT_EQ(bits[35], 0);
  FillDcf77(doc, bits);
  Step();
  EXPECT_EQ(doc.MarkerFlags[doc.DisplayColumn], 1);
  EXPECT_EQ(doc.MarkerRunLength, 1);
  ASSERT_EQ(doc.MinuteRecordCount, 1);
  EXPECT_STREQ(doc.MinuteRecords[0].Text, "Reset 14:07 UT+1");
  EXPECT_EQ(doc.MinuteRecords[0].Hour, 14);
  EXPECT_EQ(doc.MinuteRecords[0].Minute, 7);
  EXPECT_EQ(doc.SummerTimeFlag, 0);
}

TEST_F(Dcf77Test, SummerAndZoneBits) {
  int bits[60];
  Dcf77Time(bits, 14, 7, true);
  FillDcf77(doc, bits);
  Step();
  ASSERT_EQ(doc.MinuteRecordCount, 1);
  EXPECT_STREQ(doc.MinuteRecords[0].Text, "Reset 14:07 UT+2");
  EXPECT_EQ(doc.SummerTimeFlag, 1);

  bits[18] = 1;  // both zone bits: not summer time
  FillDcf77(doc, bits);
  Step();
  EXPECT_EQ(doc.SummerTimeFlag, 0);
  EXPECT_STREQ(doc.MinuteRecords[1].Text, "Reset 14:07 UT+1");
}

TEST_F(Dcf77Test, MidnightWithNoOnesIsAccepted) {
  int bits[60];
  Dcf77Time(bits, 0, 0, false);
  FillDcf77(doc, bits);
  Step();
  ASSERT_EQ(doc.MinuteRecordCount, 1);
  EXPECT_STREQ(doc.MinuteRecords[0].Text, "Reset 00:00 UT+1");
}

class Dcf77WrongBit : public Dcf77Test, public ::testing::WithParamInterface<int> {};

TEST_P(Dcf77WrongBit, OneWrongBitFailsItsParityButStillCountsAsMarker) {
  int bits[60];
  Dcf77Time(bits, 14, 7, false);
  bits[GetParam()] ^= 1;
  FillDcf77(doc, bits);
  Step();
  EXPECT_EQ(doc.MarkerRunLength, 1);
  EXPECT_EQ(doc.MinuteRecordCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Bits, Dcf77WrongBit, ::testing::Values(21, 24, 27, 28, 29, 32, 34, 35));

// Two wrong bits in one group keep its parity: the minute passes unnoticed when it is still a
// time of day, and is dropped when it is not.
TEST_F(Dcf77Test, TwoWrongBitsInOneGroupPassOnlyAsATimeOfDay) {
  struct Case {
    int flip1, flip2;
    int minute;  // -1: not recorded
  } cases[] = {
      {25, 26, 37},  // +10 +20: 14:37
      {24, 25, -1},  // +8 +10: units digit 15
      {26, 27, -1},  // +20 +40: minute 67
      {29, 34, -1},  // hour +1 +20: 35
      {30, 32, -1},  // hour +2 +8: units digit 14
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flip1 * 100 + c.flip2);
    int bits[60];
    Dcf77Time(bits, 14, 7, false);
    bits[c.flip1] ^= 1;
    bits[c.flip2] ^= 1;
    doc.MinuteRecordCount = doc.MinuteRecordsStored = 0;
    FillDcf77(doc, bits);
    Step();
    EXPECT_EQ(doc.MarkerFlags[doc.DisplayColumn], 1);
    if (c.minute < 0) {
      EXPECT_EQ(doc.MinuteRecordCount, 0);
    } else {
      ASSERT_EQ(doc.MinuteRecordCount, 1);
      EXPECT_EQ(doc.MinuteRecords[0].Minute, c.minute);
    }
  }
}

TEST_F(Dcf77Test, MarkerFailures) {
  int bits[60];
  Dcf77Time(bits, 14, 7, false);
  struct Case {
    const char* what;
    std::function<bool(int, double)> carrier;
  };
  const Case cases[] = {
      {"200 ms drop in second 0", [&](int s, double f) { return s == 59 || (s == 0 ? f >= 0.2 : f >= (bits[s] ? 0.2 : 0.1)); }},
      {"drop in second 59", [&](int s, double f) { return s == 59 ? !(f > 0.5 && f < 0.65) : (s == 0 ? f >= 0.1 : f >= (bits[s] ? 0.2 : 0.1)); }},
      {"drop late in second 58", [&](int s, double f) { return s == 58 ? !(f > 0.7 && f < 0.85) : (s == 59 || (s == 0 ? f >= 0.1 : f >= (bits[s] ? 0.2 : 0.1))); }},
      {"no drop at second 0", [&](int s, double f) { return s == 59 || s == 0 || f >= (bits[s] ? 0.2 : 0.1); }},
  };
  for (const Case& c : cases) {
    FillRing(doc, c.carrier);
    doc.MarkerRunLength = 0;
    Step();
    EXPECT_EQ(doc.MarkerRunLength, 0) << c.what;
    EXPECT_EQ(doc.MarkerFlags[doc.DisplayColumn], 0) << c.what;
  }
  // The first two tenths of second 58 (the date parity bit) may be either value.
  bits[58] = 1;
  FillDcf77(doc, bits);
  Step();
  EXPECT_EQ(doc.MarkerRunLength, 1);
}

}  // namespace
