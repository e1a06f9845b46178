// SPDX-License-Identifier: GPL-3.0-or-later
// WWV (Fort Collins) and WWVH (Kauai), as a short-wave receiver's audio. Two things matter
// to a clock:
//  - the seconds ticks: 5 ms of 1000 Hz (WWV) or 1200 Hz (WWVH) at the start of each second,
//    none at seconds 29 and 59; second 0 carries the 800 ms minute tone (1500 Hz at the hour);
//  - the time code on a 100 Hz subcarrier, one pulse per second, starting 30 ms into the
//    second (the first 30 ms are kept free for the tick) and ending at 200 ms for a 0, 500 ms
//    for a 1 and 800 ms for a position marker; second 0 has no pulse. The code sent during a
//    minute gives UTC at the start of that minute, LSB first:
//
//   2          DST in force at 24:00 UTC today      55  DST in force at 00:00 UTC today
//   3          leap second at the end of the month
//   4..7       year units     1 2 4 8               51..54  year tens  10 20 40 80
//   10..13     minute units   1 2 4 8               15..17  minute tens  10 20 40
//   20..23     hour units     1 2 4 8               25, 26  hour tens    10 20
//   30..33     day of year units 1 2 4 8            35..38  tens  10 20 40 80
//   40, 41     day of year hundreds  100 200
//   50         UT1 sign, 1 = positive               56..58  UT1 correction 0.1 0.2 0.4 s
//   9, 19, 29, 39, 49, 59   position markers        other seconds 0
// The subcarrier is rendered in true time (the UTC argument), whatever the sound card's rate.
// Voice announcements and the standard audio tones are not simulated.
#include <array>
#include <cmath>
#include <cstdint>

#include "simulator/station_codes.h"

namespace {

constexpr double TwoPi = 6.283185307179586;

void PutLsbFirst(std::array<int, 60>& s, const int* seconds, int count, int value) {
  for (int k = 0; k < count; ++k)
    if ((value >> k) & 1) s[seconds[k]] = NistOne;
}

}  // namespace

std::array<int, 60> WwvSymbols(int64_t minute_start_utc) {
  std::array<int, 60> s{};
  s[0] = NistNoPulse;
  for (int p : {9, 19, 29, 39, 49, 59}) s[p] = NistMarker;
  const CivilTime t = CivilFromUtc(minute_start_utc);
  const int day_of_year = DayOfYear(minute_start_utc);

  if (UsDaylightSavingAtDayEnd(minute_start_utc)) s[2] = NistOne;
  if (UsDaylightSavingAtDayEnd(minute_start_utc - 86400)) s[55] = NistOne;
  static constexpr int YearUnits[] = {4, 5, 6, 7};
  PutLsbFirst(s, YearUnits, 4, t.year % 10);
  static constexpr int YearTens[] = {51, 52, 53, 54};
  PutLsbFirst(s, YearTens, 4, t.year / 10 % 10);
  static constexpr int MinuteUnits[] = {10, 11, 12, 13};
  PutLsbFirst(s, MinuteUnits, 4, t.minute % 10);
  static constexpr int MinuteTens[] = {15, 16, 17};
  PutLsbFirst(s, MinuteTens, 3, t.minute / 10);
  static constexpr int HourUnits[] = {20, 21, 22, 23};
  PutLsbFirst(s, HourUnits, 4, t.hour % 10);
  static constexpr int HourTens[] = {25, 26};
  PutLsbFirst(s, HourTens, 2, t.hour / 10);
  static constexpr int DayUnits[] = {30, 31, 32, 33};
  PutLsbFirst(s, DayUnits, 4, day_of_year % 10);
  static constexpr int DayTens[] = {35, 36, 37, 38};
  PutLsbFirst(s, DayTens, 4, day_of_year / 10 % 10);
  static constexpr int DayHundreds[] = {40, 41};
  PutLsbFirst(s, DayHundreds, 2, day_of_year / 100);
  const int dut1 = SimulatedDut1Tenths;
  if (dut1 >= 0) s[50] = NistOne;
  static constexpr int Ut1[] = {56, 57, 58};
  PutLsbFirst(s, Ut1, 3, dut1 >= 0 ? dut1 : -dut1);
  return s;
}

namespace {

class WwvEncoder : public StationEncoder {
 public:
  explicit WwvEncoder(bool hawaii) : tick_hz_(hawaii ? 1200.0 : 1000.0) {}

  // The subcarrier's keying: 1 while a code pulse is on.
  double Envelope(double utc) override {
    const UtcMinute m = Minute(utc);
    static constexpr double PulseEnd[3] = {0.2, 0.5, 0.8};  // seconds, per symbol
    const int symbol = symbols_[m.second];
    if (symbol == NistNoPulse) return 0.0;
    return m.fraction >= 0.030 && m.fraction < PulseEnd[symbol] ? 1.0 : 0.0;
  }

  double Audio(double utc, double /*tone_phase*/) override {
    const UtcMinute m = Minute(utc);
    const double f = m.fraction;
    // Both tones have whole cycles per second, so their phase follows from the fraction.
    double v = Envelope(utc) * std::sin(TwoPi * 100.0 * f);
    double tick_hz = tick_hz_;
    double tick_len = 0.005;
    if (m.second == 0) {
      tick_len = 0.8;
      if (hour_start_) tick_hz = 1500.0;
    } else if (m.second == 29 || m.second == 59) {
      tick_len = 0.0;
    }
    if (f < tick_len) v += std::sin(TwoPi * tick_hz * f);
    return v;
  }

  bool AmAudio() const override { return true; }

 private:
  UtcMinute Minute(double utc) {
    const UtcMinute m = SplitUtc(utc);
    if (m.minute_start != cached_minute_) {
      symbols_ = WwvSymbols(m.minute_start);
      hour_start_ = CivilFromUtc(m.minute_start).minute == 0;
      cached_minute_ = m.minute_start;
    }
    return m;
  }

  double tick_hz_;
  int64_t cached_minute_ = INT64_MIN;
  std::array<int, 60> symbols_{};
  bool hour_start_ = false;
};

}  // namespace

std::unique_ptr<StationEncoder> MakeWwvEncoder(bool hawaii) {
  return std::make_unique<WwvEncoder>(hawaii);
}
