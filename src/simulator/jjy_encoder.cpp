// SPDX-License-Identifier: GPL-3.0-or-later
// JJY (NICT; Ohtakadoya 40 kHz, Hagane 60 kHz), as NICT describes its time code: the carrier
// is at full power from the start of every second for 200 ms (a position marker), 500 ms (a 1)
// or 800 ms (a 0), and at 10 % of its amplitude for the rest of the second. The code sent
// during a minute gives Japan Standard Time (UTC+9, no summer time) at the start of that
// minute.
//
//   0          marker M                            9, 19, 29, 39, 49, 59  position markers P1..P5, P0
//   1..3       minute tens, BCD   40 20 10         5..8     minute units   8 4 2 1
//   12, 13     hour tens          20 10            15..18   hour units     8 4 2 1
//   22, 23     day of year hundreds  200 100       25..28   tens  80 40 20 10
//   30..33     day of year units  8 4 2 1
//   36         PA1, even parity over the hour bits 12..18
//   37         PA2, even parity over the minute bits 1..8
//   38, 40     SU1, SU2, spare (0)
//   41..48     year of the century, BCD  80 40 20 10 8 4 2 1
//   50..52     day of the week  4 2 1 (0 = Sunday)
//   53         LS1, a leap second at the end of this month (08:59:59 JST on the 1st)
//   54         LS2, 1 inserted, 0 removed
//   4, 10, 11, 14, 20, 21, 24, 34, 35, 55..58     0
// In minutes 15 and 45 the call sign replaces seconds 40..48: "JJY JJY" in Morse, the carrier
// keyed fully on and off; seconds 50..55 then carry the notice of a coming interruption of the
// service (ST1..ST6, all 0 here: none planned) and 56..58 are 0.
#include <array>
#include <cstdint>

#include "platform/system_clock.h"
#include "simulator/station_codes.h"

namespace {

constexpr int64_t JstOffset = 9 * 3600;  // seconds, JST minus UTC

// The amplitude of the 10 % level between the pulses.
constexpr double JjyReduced = 0.1;

void PutBcd(std::array<int, 60>& s, const int* seconds, const int* weights, int count, int value) {
  for (int k = 0; k < count; ++k) {
    if (value >= weights[k]) {
      s[seconds[k]] = JjyOne;
      value -= weights[k];
    }
  }
}

int Parity(const std::array<int, 60>& s, int first, int last) {
  int ones = 0;
  for (int k = first; k <= last; ++k) ones += s[k] == JjyOne ? 1 : 0;
  return ones % 2;
}

}  // namespace

bool JjyCallSignMinute(int minute) {
  return minute == 15 || minute == 45;
}

std::array<int, 60> JjySymbols(int64_t minute_start_utc, const JjyLeap& leap) {
  std::array<int, 60> s{};
  for (int& x : s) x = JjyZero;
  for (int p : {0, 9, 19, 29, 39, 49, 59}) s[p] = JjyMarker;
  const int64_t jst = minute_start_utc + JstOffset;
  const CivilTime t = CivilFromUtc(jst);
  const int day_of_year = DayOfYear(jst);

  static constexpr int MinuteSeconds[] = {1, 2, 3, 5, 6, 7, 8};
  static constexpr int MinuteWeights[] = {40, 20, 10, 8, 4, 2, 1};
  PutBcd(s, MinuteSeconds, MinuteWeights, 7, t.minute);
  static constexpr int HourSeconds[] = {12, 13, 15, 16, 17, 18};
  static constexpr int HourWeights[] = {20, 10, 8, 4, 2, 1};
  PutBcd(s, HourSeconds, HourWeights, 6, t.hour);
  static constexpr int DaySeconds[] = {22, 23, 25, 26, 27, 28, 30, 31, 32, 33};
  static constexpr int DayWeights[] = {200, 100, 80, 40, 20, 10, 8, 4, 2, 1};
  PutBcd(s, DaySeconds, DayWeights, 10, day_of_year);
  if (Parity(s, 12, 18) == 1) s[36] = JjyOne;
  if (Parity(s, 1, 8) == 1) s[37] = JjyOne;

  if (JjyCallSignMinute(t.minute)) {
    for (int k = 40; k <= 48; ++k) s[k] = JjyMorse;
    return s;  // ST1..ST6 and 56..58 stay 0
  }
  static constexpr int YearSeconds[] = {41, 42, 43, 44, 45, 46, 47, 48};
  static constexpr int YearWeights[] = {80, 40, 20, 10, 8, 4, 2, 1};
  PutBcd(s, YearSeconds, YearWeights, 8, t.year % 100);
  static constexpr int WeekdaySeconds[] = {50, 51, 52};
  static constexpr int WeekdayWeights[] = {4, 2, 1};
  PutBcd(s, WeekdaySeconds, WeekdayWeights, 3, t.weekday);
  if (leap.announced) {
    s[53] = JjyOne;
    if (leap.insert) s[54] = JjyOne;
  }
  return s;
}

// "JJY JJY" in Morse over seconds 40..48 of a call-sign minute: dots of one unit, dashes of
// three, one unit between the elements of a letter, three between letters and seven between
// the words; 97 units in all, 80 ms each, the first dot at 40.06 s.
bool JjyMorseKeyed(double seconds_into_40) {
  static constexpr const char* Word = ".---/.---/-.--";  // J J Y, '/' between letters
  constexpr double Unit = 0.08;                          // seconds
  constexpr double Lead = 0.06;                          // seconds before the first element
  double u = (seconds_into_40 - Lead) / Unit;            // units into the call
  if (u < 0.0) return false;
  for (int word = 0; word < 2; ++word) {
    for (const char* c = Word; *c != 0; ++c) {
      if (*c == '/') {
        u -= 2.0;  // a letter gap: three units, one already spent after the last element
      } else {
        const double length = *c == '.' ? 1.0 : 3.0;
        if (u < length) return true;
        u -= length + 1.0;
      }
      if (u < 0.0) return false;
    }
    u -= 6.0;  // the word gap: seven units
    if (u < 0.0) return false;
  }
  return false;
}

namespace {

class JjyEncoder : public StationEncoder {
 public:
  // The 10 % level between pulses; the transmitters' tuned antennas give edges of about a
  // millisecond, as at the other long-wave stations.
  CarrierKeying Keying() const override { return {true, JjyReduced, 0.001, 0.001}; }
  double Envelope(double utc) override {
    const UtcMinute m = SplitUtc(utc);
    if (m.minute_start != cached_minute_) {
      symbols_ = JjySymbols(m.minute_start, JjyLeap{});
      cached_minute_ = m.minute_start;
    }
    const int symbol = symbols_[m.second];
    if (symbol == JjyMorse) return JjyMorseKeyed(m.second - 40 + m.fraction) ? 1.0 : 0.0;
    static constexpr double Full[3] = {0.8, 0.5, 0.2};  // seconds at full carrier, per symbol
    return m.fraction < Full[symbol] ? 1.0 : JjyReduced;
  }

 private:
  int64_t cached_minute_ = INT64_MIN;
  std::array<int, 60> symbols_{};
};

}  // namespace

std::unique_ptr<StationEncoder> MakeJjyEncoder() {
  return std::make_unique<JjyEncoder>();
}
