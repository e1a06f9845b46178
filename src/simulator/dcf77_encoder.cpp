// SPDX-License-Identifier: GPL-3.0-or-later
// DCF77 (PTB, Mainflingen, 77.5 kHz), amplitude keying: at the start of each second the
// carrier drops to about 15 % for 100 ms (a 0 bit) or 200 ms (a 1 bit); second 59 has no drop.
// The code sent during a minute describes the following minute in German legal time.
//
//   bit  0       start of minute, always 0
//   bits 1..14   civil warning / weather data (sent here as 0)
//   bit  15      call bit (0)
//   bit  16      A1: summer-time change at the end of this hour
//   bit  17      Z1: CEST in force
//   bit  18      Z2: CET in force
//   bit  19      A2: leap second announced (0)
//   bit  20      S: start of time code, always 1
//   bits 21..27  minute, BCD (1 2 4 8 10 20 40), bit 28 even parity over 21..28
//   bits 29..34  hour, BCD (1 2 4 8 10 20), bit 35 even parity over 29..35
//   bits 36..41  day of month, BCD
//   bits 42..44  day of week, 1 = Monday .. 7 = Sunday
//   bits 45..49  month, BCD
//   bits 50..57  year within the century, BCD
//   bit  58      even parity over 36..58
//   second 59    no carrier drop
#include <array>
#include <cstdint>

#include "simulator/dcf77_code.h"
#include "simulator/encoder.h"

namespace {

void PutBcd(std::array<int, 60>& bits, int first, int count, int value) {
  const int tens = value / 10;
  const int ones = value % 10;
  const int digits = tens * 16 + ones;  // BCD in one number: bit k of the field
  for (int k = 0; k < count; ++k) bits[first + k] = (digits >> k) & 1;
}

void PutParity(std::array<int, 60>& bits, int first, int last, int parity_bit) {
  int ones = 0;
  for (int k = first; k <= last; ++k) ones += bits[k];
  bits[parity_bit] = ones % 2;
}

}  // namespace

std::array<int, 60> Dcf77BitsInZone(int64_t minute_start_utc, bool summer) {
  std::array<int, 60> bits{};
  const int64_t announced = minute_start_utc + 60;
  const int offset_hours = summer ? 2 : 1;
  const CivilTime local = CivilFromUtc(announced + offset_hours * 3600);

  bits[17] = summer ? 1 : 0;
  bits[18] = summer ? 0 : 1;
  bits[20] = 1;
  PutBcd(bits, 21, 7, local.minute);
  PutParity(bits, 21, 27, 28);
  PutBcd(bits, 29, 6, local.hour);
  PutParity(bits, 29, 34, 35);
  PutBcd(bits, 36, 6, local.day);
  const int weekday = local.weekday == 0 ? 7 : local.weekday;
  for (int k = 0; k < 3; ++k) bits[42 + k] = (weekday >> k) & 1;
  PutBcd(bits, 45, 5, local.month);
  PutBcd(bits, 50, 8, local.year % 100);
  PutParity(bits, 36, 57, 58);
  return bits;
}

std::array<int, 60> Dcf77Bits(int64_t minute_start_utc, bool german_time_zone_rules) {
  const int64_t announced = minute_start_utc + 60;
  const bool summer = german_time_zone_rules && CentralEuropeanSummerTime(announced);
  std::array<int, 60> bits = Dcf77BitsInZone(minute_start_utc, summer);
  // A1 during the hour before a change of zone.
  if (german_time_zone_rules && CentralEuropeanSummerTime(announced + 3600) != summer)
    bits[16] = 1;
  return bits;
}

namespace {

// About 15 % of the full amplitude during a second mark; the tuned antenna at Mainflingen
// makes each edge an exponential of about a millisecond (the fall and the rise of the
// off-air recordings take 2 to 3 ms from 10 % to 90 %).
constexpr double Dcf77Reduced = 0.15;

class Dcf77Encoder : public StationEncoder {
 public:
  CarrierKeying Keying() const override { return {true, Dcf77Reduced, 0.001, 0.001}; }
  double Envelope(double utc) override {
    const UtcMinute m = SplitUtc(utc);
    if (m.minute_start != cached_minute_) {
      bits_ = Dcf77Bits(m.minute_start, true);
      cached_minute_ = m.minute_start;
    }
    if (m.second == 59) return 1.0;
    const double drop = bits_[m.second] ? 0.2 : 0.1;  // seconds
    return m.fraction < drop ? Dcf77Reduced : 1.0;
  }

 private:
  int64_t cached_minute_ = INT64_MIN;
  std::array<int, 60> bits_{};
};

}  // namespace

std::unique_ptr<StationEncoder> MakeDcf77Encoder() { return std::make_unique<Dcf77Encoder>(); }
