// SPDX-License-Identifier: GPL-3.0-or-later
// HBG (METAS, Prangins, 75 kHz): the DCF77 time code in Swiss legal time (CET/CEST, the same
// rules as Germany), sent by interrupting the carrier completely: 100 ms at the start of a
// second for a 0 bit, 200 ms for a 1 bit, nothing in second 59. Second 0 is marked by two
// 100 ms interruptions (0..100 ms and 200..300 ms); at the full hour a third follows
// (400..500 ms), and at midnight and noon a fourth (600..700 ms).
#include <array>
#include <cstdint>

#include "simulator/dcf77_code.h"
#include "simulator/station_codes.h"

int HbgSecondZeroInterruptions(int64_t minute_start_utc) {
  return HbgSecondZeroInterruptionsInZone(minute_start_utc, CentralEuropeanSummerTime(minute_start_utc));
}

int HbgSecondZeroInterruptionsInZone(int64_t minute_start_utc, bool summer) {
  const CivilTime swiss = CivilFromUtc(minute_start_utc + (summer ? 7200 : 3600));
  if (swiss.minute != 0) return 2;
  return swiss.hour == 0 || swiss.hour == 12 ? 4 : 3;
}

namespace {

// The carrier is interrupted completely; edges of about a millisecond, as for the other
// long-wave stations' tuned antennas.
class HbgEncoder : public StationEncoder {
 public:
  CarrierKeying Keying() const override { return {true, 0.0, 0.001, 0.001}; }
  double Envelope(double utc) override {
    const UtcMinute m = SplitUtc(utc);
    if (m.minute_start != cached_minute_) {
      bits_ = Dcf77Bits(m.minute_start, true);
      interruptions_ = HbgSecondZeroInterruptions(m.minute_start);
      cached_minute_ = m.minute_start;
    }
    if (m.second == 59) return 1.0;
    if (m.second == 0) {
      // interruption k covers 200k .. 200k + 100 ms
      const int slot = static_cast<int>(m.fraction / 0.1);
      return slot % 2 == 0 && slot / 2 < interruptions_ ? 0.0 : 1.0;
    }
    const double off = bits_[m.second] ? 0.2 : 0.1;  // seconds
    return m.fraction < off ? 0.0 : 1.0;
  }

 private:
  int64_t cached_minute_ = INT64_MIN;
  std::array<int, 60> bits_{};
  int interruptions_ = 2;
};

}  // namespace

std::unique_ptr<StationEncoder> MakeHbgEncoder() {
  return std::make_unique<HbgEncoder>();
}
