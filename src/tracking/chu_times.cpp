// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/chu_times.h"

#include <algorithm>
#include <cmath>

#include "simulator/chu_code.h"
#include "simulator/encoder.h"
#include "simulator/station_codes.h"

namespace {

constexpr double BitSeconds = 1.0 / 300.0;
constexpr double CodeEnd = 0.5;                                   // seconds into the second
constexpr double CodeStart = CodeEnd - ChuCodeBits * BitSeconds;  // 133.3 ms
constexpr int TablePeriod = 320;  // samples: 2225 Hz = 89/320 and 2025 Hz = 81/320 of 8000

struct ToneTables {
  float mark_cos[TablePeriod], mark_sin[TablePeriod], space_cos[TablePeriod], space_sin[TablePeriod];
  ToneTables() {
    for (int k = 0; k < TablePeriod; ++k) {
      const double m = 2.0 * M_PI * 89.0 * k / TablePeriod, s = 2.0 * M_PI * 81.0 * k / TablePeriod;
      mark_cos[k] = static_cast<float>(std::cos(m));
      mark_sin[k] = static_cast<float>(std::sin(m));
      space_cos[k] = static_cast<float>(std::cos(s));
      space_sin[k] = static_cast<float>(std::sin(s));
    }
  }
};
const ToneTables Tones;

// Where each character's bits lie in the 110: the start bit, eight data bits, two stop bits.
constexpr int CharBits = 11;

}  // namespace

ChuTimes::ChuTimes() {
  Reset();
}

void ChuTimes::Reset() {
  for (double& s : score_) s = 0.0;
  shift_ = 0;
  minutes_ = 0;
  best_utc_ = 0;
  margin_ = 0.0;
  open_score_ = 0.0;
  lead_over_open_ = 0.0;
  step_over_sigma_ = 0.0;
  for (double& s : offset_score_) s = 0.0;
  offset_ = ChuOffsets / 2;
}

void ChuTimes::ReadSecond(const int16_t* ring, int64_t mask, double start, double rate,
                          float out[ChuSecondValues]) {
  constexpr int Reach = ChuOffsets / 2 * ChuOffsetStep;  // samples either side of the line
  const int64_t base = std::llround(start + rate * CodeStart) - Reach;
  const int64_t span =
      std::min<int64_t>(std::llround(start + rate * CodeEnd) + Reach + 1 - base, SpanSamples);
  // Running sums of the samples times each tone, the tones' phase from the absolute sample
  // number: the sums over any bit at any offset are then a difference of two.
  int k = static_cast<int>(((base % TablePeriod) + TablePeriod) % TablePeriod);
  for (int c = 0; c < 4; ++c) prefix_[c][0] = 0.0;
  for (int64_t i = 0; i < span; ++i) {
    const double x = ring[(base + i) & mask];
    prefix_[0][i + 1] = prefix_[0][i] + x * Tones.mark_cos[k];
    prefix_[1][i + 1] = prefix_[1][i] + x * Tones.mark_sin[k];
    prefix_[2][i + 1] = prefix_[2][i] + x * Tones.space_cos[k];
    prefix_[3][i + 1] = prefix_[3][i] + x * Tones.space_sin[k];
    k = k + 1 == TablePeriod ? 0 : k + 1;
  }
  for (int o = 0; o < ChuOffsets; ++o) {
    const int64_t shift = (o - ChuOffsets / 2) * ChuOffsetStep - base;
    int64_t from = std::clamp<int64_t>(std::llround(start + rate * CodeStart) + shift, 0, span);
    for (int j = 0; j < ChuCodeBits; ++j) {
      const int64_t to = std::clamp<int64_t>(
          std::llround(start + rate * (CodeStart + (j + 1) * BitSeconds)) + shift, 0, span);
      double sum[4];
      for (int c = 0; c < 4; ++c) sum[c] = prefix_[c][to] - prefix_[c][from];
      // a tone of peak A sums to A / 2 per sample
      const double count = static_cast<double>(std::max<int64_t>(to - from, 1));
      out[o * ChuCodeBits + j] = static_cast<float>(
          4.0 * ((sum[0] * sum[0] + sum[1] * sum[1]) - (sum[2] * sum[2] + sum[3] * sum[3])) /
          (count * count));
      from = to;
    }
  }
}

double ChuTimes::LastMinuteOverOpen(int minute_of_day) const {
  return last_[((minute_of_day - shift_) % CandidateMinutes + CandidateMinutes) % CandidateMinutes] -
         last_any_;
}

double ChuTimes::Score(int minute_of_day) const {
  return score_[((minute_of_day - shift_) % CandidateMinutes + CandidateMinutes) % CandidateMinutes];
}

double ChuTimes::Nibble(const SecondBits& s, int c, bool high, int value) {
  double sum = 0.0;
  for (int b = 0; b < 4; ++b) {
    const int bit = c * CharBits + 1 + (high ? 4 : 0) + b;
    sum += (value >> b & 1) ? s.ll1[bit] : s.ll0[bit];
  }
  return sum;
}

double ChuTimes::FreeNibble(const SecondBits& s, int c, bool high) {
  double sum = 0.0;
  for (int b = 0; b < 4; ++b) sum += s.free[c * CharBits + 1 + (high ? 4 : 0) + b];
  return sum;
}

void ChuTimes::AddMinute(int64_t reference_utc, bool date_known, const float* const seconds[ChuCodeSeconds],
                         int elapsed) {
  // The bits every frame fixes, each character's start bit (space) and two stop bits (mark),
  // at each offset: their means and pooled scatter.
  struct Fixed {
    double mark = 0.0, space = 0.0, variance = 0.0;
    int n_mark = 0, n_space = 0;
  } fixed_bits[ChuOffsets];
  for (int o = 0; o < ChuOffsets; ++o) {
    Fixed& f = fixed_bits[o];
    double sq_mark = 0.0, sq_space = 0.0;
    for (int i = 0; i < ChuCodeSeconds; ++i) {
      if (seconds[i] == nullptr) continue;
      const float* bits = seconds[i] + o * ChuCodeBits;
      for (int c = 0; c < 10; ++c) {
        const double x = bits[c * CharBits];
        f.space += x;
        sq_space += x * x;
        ++f.n_space;
        for (int stop : {9, 10}) {
          const double y = bits[c * CharBits + stop];
          f.mark += y;
          sq_mark += y * y;
          ++f.n_mark;
        }
      }
    }
    if (f.n_space < 10) continue;
    f.mark /= f.n_mark;
    f.space /= f.n_space;
    f.variance = ((sq_mark - f.n_mark * f.mark * f.mark) + (sq_space - f.n_space * f.space * f.space)) /
                 (f.n_mark + f.n_space - 2);
    // the offset's evidence: the step between mark and space over its scatter
    if (f.variance > 0.0) offset_score_[o] += 0.5 * (f.mark - f.space) / std::sqrt(f.variance);
  }
  for (int o = 0; o < ChuOffsets; ++o) {
    offset_score_[o] *= OffsetKeep;
    if (offset_score_[o] > offset_score_[offset_]) offset_ = o;
  }
  const Fixed& used = fixed_bits[offset_];
  double gain = 0.0, mid = 0.0;
  step_over_sigma_ = 0.0;
  if (used.n_space >= 10 && used.variance > 0.0) {
    const double mu = 0.5 * (used.mark - used.space);
    const double standard_error = 0.5 * std::sqrt(used.variance / used.n_mark + used.variance / used.n_space);
    step_over_sigma_ = mu / std::sqrt(used.variance);
    gain = 2.0 * std::max(0.0, mu - standard_error) / used.variance;
    mid = 0.5 * (used.mark + used.space);
  }
  for (int i = 0; i < ChuCodeSeconds; ++i) {
    SecondBits& s = seconds_[i];
    s.heard = seconds[i] != nullptr && gain > 0.0;
    if (!s.heard) continue;
    const float* bits = seconds[i] + offset_ * ChuCodeBits;
    for (int j = 0; j < ChuCodeBits; ++j) {
      const double llr = std::clamp(gain * (bits[j] - mid), -BitCap, BitCap);
      s.ll1[j] = std::min(0.0, llr);
      s.ll0[j] = std::min(0.0, -llr);
      s.free[j] = std::log(0.5 * (1.0 + std::exp(-std::fabs(llr))));
    }
  }

  // What the frames of seconds 32..39 give each hour, minute and day of year, summed over the
  // seconds. (The fixed digit 6 and the second's byte follow from the minute's phase alone: the
  // same for every candidate and for the open hypothesis, they are not scored.)
  double hour_ll[24] = {}, minute_ll[60] = {}, day_ll[367] = {};
  double open_time = 0.0, open_date = 0.0;
  for (int i = 1; i < ChuCodeSeconds; ++i) {
    const SecondBits& s = seconds_[i];
    if (!s.heard) continue;
    const int second = ChuFirstCodeSecond + i;
    for (int copy : {0, 5}) {
      for (int c : {2, 3}) open_time += FreeNibble(s, copy + c, false) + FreeNibble(s, copy + c, true);
      open_date += FreeNibble(s, copy, true) + FreeNibble(s, copy + 1, false) + FreeNibble(s, copy + 1, true);
    }
    for (int h = 0; h < 24; ++h) {
      const uint8_t v = ChuFormatA(1, h, 0, second)[2];
      for (int copy : {2, 7}) hour_ll[h] += Nibble(s, copy, false, v & 0xF) + Nibble(s, copy, true, v >> 4);
    }
    for (int m = 0; m < 60; ++m) {
      const uint8_t v = ChuFormatA(1, 0, m, second)[3];
      for (int copy : {3, 8}) minute_ll[m] += Nibble(s, copy, false, v & 0xF) + Nibble(s, copy, true, v >> 4);
    }
    if (!date_known) continue;
    for (int d = 1; d <= 366; ++d) {
      const ChuBytes b = ChuFormatA(d, 0, 0, second);
      for (int copy : {0, 5})
        day_ll[d] += Nibble(s, copy, true, b[0] >> 4) + Nibble(s, copy + 1, false, b[1] & 0xF) +
                     Nibble(s, copy + 1, true, b[1] >> 4);
    }
  }
  // Second 31's format B: the year's four digits, plain in characters 1 and 2, inverted in 6
  // and 7. The candidates lie within half a day of the reference: at most two years.
  const SecondBits& b31 = seconds_[0];
  const int reference_year = CivilFromUtc(reference_utc).year;
  double year_ll[3] = {};  // reference_year - 1 .. + 1
  if (date_known && b31.heard) {
    for (int c : {1, 2, 6, 7}) open_date += FreeNibble(b31, c, false) + FreeNibble(b31, c, true);
    for (int y = 0; y < 3; ++y) {
      ChuYearCode code;
      code.year = reference_year - 1 + y;
      const ChuBytes b = ChuFormatB(code);
      for (int c : {1, 2, 6, 7})
        year_ll[y] += Nibble(b31, c, false, b[c] & 0xF) + Nibble(b31, c, true, b[c] >> 4);
    }
  }
  if (!date_known) open_date = 0.0;

  if (minutes_ > 0)
    shift_ = static_cast<int>((shift_ + static_cast<int64_t>(elapsed) % CandidateMinutes) % CandidateMinutes);
  const double keep = 1.0 - LeakPerMinute;
  const double open = open_time + open_date;
  open_score_ = open_score_ * keep + open;
  // the day of year of the (at most three) days the candidates fall on
  const int64_t first_day = FloorDiv(reference_utc, 86400) - 1;
  int day_of_year[3];
  for (int d = 0; d < 3; ++d) day_of_year[d] = DayOfYear((first_day + d) * 86400);
  double best = -1e300, next = -1e300;
  int best_minute = 0;
  for (int i = 0; i < CandidateMinutes; ++i) {
    const int minute_of_day = (i + shift_) % CandidateMinutes;
    double sum = hour_ll[minute_of_day / 60] + minute_ll[minute_of_day % 60];
    if (date_known) {
      const int64_t minute_utc = NearestMinute(reference_utc, minute_of_day);
      const int day = static_cast<int>(std::clamp<int64_t>(FloorDiv(minute_utc, 86400) - first_day, 0, 2));
      sum += day_ll[day_of_year[day]];
      if (b31.heard) sum += year_ll[std::clamp(CivilFromUtc(minute_utc).year - reference_year + 1, 0, 2)];
    }
    score_[i] = score_[i] * keep + sum;
    last_[i] = sum;
    if (score_[i] > best) {
      next = best;
      best = score_[i];
      best_minute = minute_of_day;
    } else if (score_[i] > next) {
      next = score_[i];
    }
  }
  // The minute alone naming any one time of day, each alike a priori: ln of the mean of the
  // candidates' likelihoods for it.
  double top = -1e300;
  for (const double sum : last_) top = std::max(top, sum);
  double total = 0.0;
  for (const double sum : last_) total += std::exp(sum - top);
  last_any_ = top + std::log(total / CandidateMinutes);
  ++minutes_;
  best_utc_ = NearestMinute(reference_utc, best_minute);
  margin_ = best - next;
  lead_over_open_ = best - open_score_;
}
