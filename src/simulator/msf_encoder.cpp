// SPDX-License-Identifier: GPL-3.0-or-later
// MSF (NPL, Anthorn, 60 kHz), on-off keying. Every second begins with 100 ms of carrier off;
// bit A is sent in the 100..200 ms slot and bit B in the 200..300 ms slot (carrier off = 1);
// the rest of the second is carrier. Second 0 is 500 ms off. The code sent during a minute
// describes the following minute in UK civil time (GMT, or BST = GMT + 1).
//
//   01B..08B   DUT1 positive, unary (0.1 s each)     01A..16A  0
//   09B..16B   DUT1 negative, unary
//   17A..24A   year within the century, BCD          80 40 20 10 8 4 2 1
//   25A..29A   month, BCD                            10 8 4 2 1
//   30A..35A   day of month, BCD                     20 10 8 4 2 1
//   36A..38A   day of week, 0 = Sunday               4 2 1
//   39A..44A   hour, BCD                             20 10 8 4 2 1
//   45A..51A   minute, BCD                           40 20 10 8 4 2 1
//   52A..59A   0 1 1 1 1 1 1 0, the minute identifier
//   53B        BST change within the next 61 minutes
//   54B        odd parity over 17A..24A
//   55B        odd parity over 25A..35A
//   56B        odd parity over 36A..38A
//   57B        odd parity over 39A..51A
//   58B        BST in force
//   59B        0
#include <array>
#include <cstdint>

#include "simulator/station_codes.h"

namespace {

// MSB first: `count` bits of the BCD form of `value` ending at `last`.
void PutBcdMsbFirst(std::array<int, 60>& bits, int first, int count, int value) {
  const int digits = (value / 10) * 16 + value % 10;
  for (int k = 0; k < count; ++k) bits[first + k] = (digits >> (count - 1 - k)) & 1;
}

int OddParity(const std::array<int, 60>& bits, int first, int last) {
  int ones = 0;
  for (int k = first; k <= last; ++k) ones += bits[k];
  return ones % 2 == 0 ? 1 : 0;
}

}  // namespace

// British Summer Time starts and ends at 01:00 UTC on the same Sundays as CEST.
bool BritishSummerTime(int64_t utc) {
  return CentralEuropeanSummerTime(utc);
}

MsfCode MsfBits(int64_t minute_start_utc) {
  const int64_t announced = minute_start_utc + 60;
  const bool bst = BritishSummerTime(announced);
  MsfCode c = MsfBitsInZone(minute_start_utc, bst);
  c.b[53] = BritishSummerTime(announced + 61 * 60) != bst ? 1 : 0;
  return c;
}

MsfCode MsfBitsInZone(int64_t minute_start_utc, bool bst) {
  MsfCode c;
  const int64_t announced = minute_start_utc + 60;
  const CivilTime uk = CivilFromUtc(announced + (bst ? 3600 : 0));

  const int dut1 = SimulatedDut1Tenths;
  for (int k = 0; k < (dut1 > 0 ? dut1 : 0); ++k) c.b[1 + k] = 1;
  for (int k = 0; k < (dut1 < 0 ? -dut1 : 0); ++k) c.b[9 + k] = 1;

  PutBcdMsbFirst(c.a, 17, 8, uk.year % 100);
  PutBcdMsbFirst(c.a, 25, 5, uk.month);
  PutBcdMsbFirst(c.a, 30, 6, uk.day);
  for (int k = 0; k < 3; ++k) c.a[36 + k] = (uk.weekday >> (2 - k)) & 1;
  PutBcdMsbFirst(c.a, 39, 6, uk.hour);
  PutBcdMsbFirst(c.a, 45, 7, uk.minute);
  static constexpr int Identifier[8] = {0, 1, 1, 1, 1, 1, 1, 0};
  for (int k = 0; k < 8; ++k) c.a[52 + k] = Identifier[k];

  c.b[54] = OddParity(c.a, 17, 24);
  c.b[55] = OddParity(c.a, 25, 35);
  c.b[56] = OddParity(c.a, 36, 38);
  c.b[57] = OddParity(c.a, 39, 51);
  c.b[58] = bst ? 1 : 0;
  return c;
}

namespace {

// Simple on-off keying: the carrier is off during a reduction. Its edges are those of the
// antenna and transmitter together, about a millisecond each.
class MsfEncoder : public StationEncoder {
 public:
  CarrierKeying Keying() const override { return {true, 0.0, 0.001, 0.001}; }
  double Envelope(double utc) override {
    const UtcMinute m = SplitUtc(utc);
    if (m.minute_start != cached_minute_) {
      code_ = MsfBits(m.minute_start);
      cached_minute_ = m.minute_start;
    }
    const double f = m.fraction;
    if (m.second == 0) return f < 0.5 ? 0.0 : 1.0;
    if (f < 0.1) return 0.0;
    if (f < 0.2) return code_.a[m.second] ? 0.0 : 1.0;
    if (f < 0.3) return code_.b[m.second] ? 0.0 : 1.0;
    return 1.0;
  }

 private:
  int64_t cached_minute_ = INT64_MIN;
  MsfCode code_;
};

}  // namespace

std::unique_ptr<StationEncoder> MakeMsfEncoder() {
  return std::make_unique<MsfEncoder>();
}
