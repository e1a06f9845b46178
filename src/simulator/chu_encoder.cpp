// SPDX-License-Identifier: GPL-3.0-or-later
// CHU, as a short-wave receiver's audio (AM, upper sideband with the carrier reinserted):
//  - 1000 Hz second pulses of 300 ms; second 0 carries 500 ms (the minute), 1 s at the full
//    hour; second 29 is silent; seconds 31..39 and 51..59 carry only a 10 ms tick (ten cycles),
//    the voice announcement of 51..59 is not simulated;
//  - in seconds 31..39, after the tick, Bell 103 tones: 2225 Hz (mark) from 10 ms, ten
//    characters from 133.3 ms to exactly 500 ms, mark again to 510 ms. A character is a start
//    bit (space, 2025 Hz), eight data bits LSB first and two stop bits (mark), 1/300 s each; the
//    tones keep their phase across bit changes, as a modem's do.
//
// The characters carry decimal digits, two to a byte, the first digit in the low nibble (so it
// goes out first):
//   format A, seconds 32..39   6 D  D D  H H  M M  S S      then the same five bytes again
//       D: UTC day of year (hundreds, tens, units), H hour, M minute, S second of this second
//   format B, second 31        X U  Y Y  Y Y  T T  C C      then the five bytes inverted
//       X: flags, 1 = DUT1 negative, 2 = leap second at the end of this month
//       U: |DUT1| in tenths of a second   Y: year (four digits)   T: TAI - UTC, seconds
//       C: Canadian daylight-time indicator
#include <cmath>

#include "simulator/chu_code.h"
#include "simulator/station_codes.h"

namespace {

constexpr double TwoPi = 6.283185307179586;
constexpr double MarkHz = 2225.0;
constexpr double SpaceHz = 2025.0;
constexpr double BitSeconds = 1.0 / 300.0;
constexpr int CodeBits = 110;                                  // ten characters of eleven bits
constexpr double CodeEnd = 0.5;                                // seconds into the second
constexpr double CodeStart = CodeEnd - CodeBits * BitSeconds;  // 133.3 ms
constexpr double ToneStart = 0.010, ToneEnd = 0.510;           // seconds, the modem tones

uint8_t Digits(int first, int second) {
  return static_cast<uint8_t>((first & 0xF) | ((second & 0xF) << 4));
}

}  // namespace

ChuBytes ChuFormatA(int day_of_year, int hour, int minute, int second) {
  ChuBytes b{};
  b[0] = Digits(6, day_of_year / 100);
  b[1] = Digits(day_of_year / 10 % 10, day_of_year % 10);
  b[2] = Digits(hour / 10, hour % 10);
  b[3] = Digits(minute / 10, minute % 10);
  b[4] = Digits(second / 10, second % 10);
  for (int i = 0; i < 5; ++i) b[5 + i] = b[i];
  return b;
}

ChuBytes ChuFormatB(const ChuYearCode& c) {
  ChuBytes b{};
  const int flags = (c.dut1_tenths < 0 ? 1 : 0) | (c.leap_warning ? 2 : 0);
  b[0] = Digits(flags, std::abs(c.dut1_tenths));
  b[1] = Digits(c.year / 1000 % 10, c.year / 100 % 10);
  b[2] = Digits(c.year / 10 % 10, c.year % 10);
  b[3] = Digits(c.tai_minus_utc / 10 % 10, c.tai_minus_utc % 10);
  b[4] = Digits(c.daylight / 10 % 10, c.daylight % 10);
  for (int i = 0; i < 5; ++i) b[5 + i] = static_cast<uint8_t>(~b[i]);
  return b;
}

bool ChuCodeOfSecond(int64_t second_start_utc, ChuBytes& out) {
  const UtcMinute m = SplitUtc(static_cast<double>(second_start_utc));
  if (m.second < 31 || m.second > 39) return false;
  const CivilTime t = CivilFromUtc(m.minute_start);
  if (m.second == 31) {
    ChuYearCode c;
    c.year = t.year;
    c.dut1_tenths = SimulatedDut1Tenths;
    c.tai_minus_utc = SimulatedTaiMinusUtc;
    c.daylight = SimulatedChuDaylight;
    out = ChuFormatB(c);
  } else {
    out = ChuFormatA(DayOfYear(m.minute_start), t.hour, t.minute, m.second);
  }
  return true;
}

namespace {

class ChuEncoder : public StationEncoder {
 public:
  // The 1000 Hz pulse: 1 while it sounds.
  double Envelope(double utc) override {
    const UtcMinute m = SplitUtc(utc);
    return m.fraction < PulseLength(m) ? 1.0 : 0.0;
  }

  double Audio(double utc, double /*tone_phase*/) override {
    const UtcMinute m = SplitUtc(utc);
    const double f = m.fraction;
    // 1000 Hz has whole cycles per second: its phase follows from the fraction.
    if (f < PulseLength(m)) return std::sin(TwoPi * 1000.0 * f);
    if (m.second < 31 || m.second > 39 || f < ToneStart || f >= ToneEnd) return 0.0;
    return std::sin(TonePhase(m.minute_start + m.second, f));
  }

 private:
  static double PulseLength(const UtcMinute& m) {
    if (m.second == 0) return CivilFromUtc(m.minute_start).minute == 0 ? 1.0 : 0.5;
    if (m.second == 29) return 0.0;
    if ((m.second >= 31 && m.second <= 39) || m.second >= 51) return 0.010;
    return 0.300;
  }

  // Phase (radians) of the continuous-phase modem tone at `f` seconds into the second.
  double TonePhase(int64_t second_start, double f) {
    if (second_start != cached_second_) Prepare(second_start);
    if (f < CodeStart) return TwoPi * MarkHz * (f - ToneStart);
    int bit = static_cast<int>((f - CodeStart) / BitSeconds);
    if (bit > CodeBits) bit = CodeBits;
    const double into = f - CodeStart - bit * BitSeconds;
    return bit_phase_[bit] + TwoPi * bit_hz_[bit] * into;
  }

  // Tone and starting phase of every bit of the second's code (and of the mark after it).
  void Prepare(int64_t second_start) {
    cached_second_ = second_start;
    ChuBytes bytes{};
    ChuCodeOfSecond(second_start, bytes);
    for (int c = 0; c < 10; ++c) {
      const int base = c * 11;
      bit_hz_[base] = SpaceHz;  // start bit
      for (int k = 0; k < 8; ++k) bit_hz_[base + 1 + k] = ((bytes[c] >> k) & 1) ? MarkHz : SpaceHz;
      bit_hz_[base + 9] = bit_hz_[base + 10] = MarkHz;  // stop bits
    }
    bit_hz_[CodeBits] = MarkHz;
    double phase = std::fmod(TwoPi * MarkHz * (CodeStart - ToneStart), TwoPi);
    for (int b = 0; b <= CodeBits; ++b) {
      bit_phase_[b] = phase;
      phase = std::fmod(phase + TwoPi * bit_hz_[b] * BitSeconds, TwoPi);
    }
  }

  int64_t cached_second_ = INT64_MIN;
  std::array<double, CodeBits + 1> bit_hz_{};
  std::array<double, CodeBits + 1> bit_phase_{};
};

}  // namespace

std::unique_ptr<StationEncoder> MakeChuEncoder() {
  return std::make_unique<ChuEncoder>();
}
