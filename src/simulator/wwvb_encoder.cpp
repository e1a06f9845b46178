// SPDX-License-Identifier: GPL-3.0-or-later
// WWVB (NIST, Fort Collins, 60 kHz), the amplitude-modulated legacy code: at the start of
// every second the carrier drops by 17 dB, for 200 ms (a 0), 500 ms (a 1) or 800 ms (a
// position marker). The code sent during a minute gives UTC at the start of that minute.
//
//   0          frame reference marker              9, 19, 29, 39, 49, 59  position markers
//   1..3       minute tens, BCD   40 20 10         5..8     minute units   8 4 2 1
//   12, 13     hour tens          20 10            15..18   hour units     8 4 2 1
//   22, 23     day of year hundreds  200 100       25..28   tens  80 40 20 10
//   30..33     day of year units  8 4 2 1
//   36..38     UT1 sign: 1 0 1 positive, 0 1 0 negative
//   40..43     UT1 correction, tenths of a second  8 4 2 1
//   45..48     year tens  80 40 20 10              50..53   year units     8 4 2 1
//   55         leap year
//   56         leap second at the end of the month
//   57         DST in force at 24:00 UTC today      58  DST in force at 00:00 UTC today
//   4, 10, 11, 14, 20, 21, 24, 34, 35, 44, 54     unused, 0
#include <array>
#include <cstdint>

#include "platform/system_clock.h"
#include "simulator/station_codes.h"

namespace {

constexpr double ReducedCarrier = 0.1413;  // -17 dB

int64_t DayNumber(int64_t utc) {
  return (utc >= 0 ? utc : utc - 86399) / 86400;
}

// 0 = Sunday
int Weekday(int64_t day) {
  return static_cast<int>(((day + 4) % 7 + 7) % 7);
}

void PutBcd(std::array<int, 60>& s, const int* seconds, const int* weights, int count, int value) {
  for (int k = 0; k < count; ++k) {
    if (value >= weights[k]) {
      s[seconds[k]] = NistOne;
      value -= weights[k];
    }
  }
}

}  // namespace

int DayOfYear(int64_t utc) {
  return static_cast<int>(DayNumber(utc) - DaysFromCivil(CivilFromUtc(utc).year, 1, 1)) + 1;
}

bool UsDaylightSavingAtDayEnd(int64_t utc) {
  const int64_t day = DayNumber(utc);
  const int year = CivilFromUtc(utc).year;
  const int64_t march1 = DaysFromCivil(year, 3, 1);
  const int64_t november1 = DaysFromCivil(year, 11, 1);
  const int64_t second_sunday_march = march1 + (7 - Weekday(march1)) % 7 + 7;
  const int64_t first_sunday_november = november1 + (7 - Weekday(november1)) % 7;
  return day >= second_sunday_march && day < first_sunday_november;
}

std::array<int, 60> WwvbSymbols(int64_t minute_start_utc) {
  std::array<int, 60> s{};
  for (int p : {0, 9, 19, 29, 39, 49, 59}) s[p] = NistMarker;
  const CivilTime t = CivilFromUtc(minute_start_utc);
  const int day_of_year = DayOfYear(minute_start_utc);

  static constexpr int MinuteSeconds[] = {1, 2, 3, 5, 6, 7, 8};
  static constexpr int MinuteWeights[] = {40, 20, 10, 8, 4, 2, 1};
  PutBcd(s, MinuteSeconds, MinuteWeights, 7, t.minute);
  static constexpr int HourSeconds[] = {12, 13, 15, 16, 17, 18};
  static constexpr int HourWeights[] = {20, 10, 8, 4, 2, 1};
  PutBcd(s, HourSeconds, HourWeights, 6, t.hour);
  static constexpr int DaySeconds[] = {22, 23, 25, 26, 27, 28, 30, 31, 32, 33};
  static constexpr int DayWeights[] = {200, 100, 80, 40, 20, 10, 8, 4, 2, 1};
  PutBcd(s, DaySeconds, DayWeights, 10, day_of_year);

  const int dut1 = SimulatedDut1Tenths;
  if (dut1 >= 0) {
    s[36] = NistOne;
    s[38] = NistOne;
  } else {
    s[37] = NistOne;
  }
  static constexpr int Ut1Seconds[] = {40, 41, 42, 43};
  static constexpr int Ut1Weights[] = {8, 4, 2, 1};
  PutBcd(s, Ut1Seconds, Ut1Weights, 4, dut1 >= 0 ? dut1 : -dut1);

  static constexpr int YearSeconds[] = {45, 46, 47, 48, 50, 51, 52, 53};
  static constexpr int YearWeights[] = {80, 40, 20, 10, 8, 4, 2, 1};
  PutBcd(s, YearSeconds, YearWeights, 8, t.year % 100);
  const bool leap_year = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
  if (leap_year) s[55] = NistOne;
  if (UsDaylightSavingAtDayEnd(minute_start_utc)) s[57] = NistOne;
  if (UsDaylightSavingAtDayEnd(minute_start_utc - 86400)) s[58] = NistOne;
  return s;
}

namespace {

// The power drops by 17 dB (to 14 % of the amplitude) during a reduction; the edges are set
// by the high-Q antenna at Fort Collins, about a millisecond.
class WwvbEncoder : public StationEncoder {
 public:
  CarrierKeying Keying() const override { return {true, ReducedCarrier, 0.001, 0.001}; }
  double Envelope(double utc) override {
    const UtcMinute m = SplitUtc(utc);
    if (m.minute_start != cached_minute_) {
      symbols_ = WwvbSymbols(m.minute_start);
      cached_minute_ = m.minute_start;
    }
    static constexpr double Reduced[3] = {0.2, 0.5, 0.8};  // seconds, per symbol
    return m.fraction < Reduced[symbols_[m.second]] ? ReducedCarrier : 1.0;
  }

 private:
  int64_t cached_minute_ = INT64_MIN;
  std::array<int, 60> symbols_{};
};

}  // namespace

std::unique_ptr<StationEncoder> MakeWwvbEncoder() {
  return std::make_unique<WwvbEncoder>();
}
