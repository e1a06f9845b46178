// SPDX-License-Identifier: GPL-3.0-or-later
// CHU's Bell 103 time code: demodulator, character receiver and frame reader.
//
// Frame layout, ten characters in the order received, digits two to a character with the
// first digit in the low nibble:
//   A (seconds 32..39)  6 D | D D | H H | M M | S S   then the same five characters again
//       day of year (hundreds, tens, units), hour, minute, second, all UTC
//   B (second 31)       X U | Y Y | Y Y | T T | C C   then the five characters inverted
//       X flags: 1 DUT1 negative, 2 leap second at the end of this month; U |DUT1| tenths;
//       Y year; T TAI - UTC seconds; C Canadian daylight-time indicator
#include "decoders/chu_fsk.h"

#include <cmath>

namespace {

constexpr int TablePeriod = 320;  // samples: 2225 Hz = 89/320 and 2025 Hz = 81/320 of 8000

struct ToneTables {
  int32_t v[4][TablePeriod];  // mark cos, mark sin, space cos, space sin; scaled by 2^14
  ToneTables() {
    const double two_pi = 6.283185307179586;
    for (int k = 0; k < TablePeriod; ++k) {
      const double m = two_pi * 89.0 * k / TablePeriod, s = two_pi * 81.0 * k / TablePeriod;
      v[0][k] = static_cast<int32_t>(std::lround(16384.0 * std::cos(m)));
      v[1][k] = static_cast<int32_t>(std::lround(16384.0 * std::sin(m)));
      v[2][k] = static_cast<int32_t>(std::lround(16384.0 * std::cos(s)));
      v[3][k] = static_cast<int32_t>(std::lround(16384.0 * std::sin(s)));
    }
  }
};
const ToneTables Tables;

bool Digit(int v) {
  return v >= 0 && v <= 9;
}

}  // namespace

ChuFrameKind ReadChuFrame(const uint8_t bytes[10], ChuTime& a, ChuYear& b) {
  bool repeated = true, inverted = true;
  for (int i = 0; i < 5; ++i) {
    if (bytes[5 + i] != bytes[i]) repeated = false;
    if (bytes[5 + i] != static_cast<uint8_t>(~bytes[i])) inverted = false;
  }
  int d[10];  // the digits in the order sent
  for (int i = 0; i < 5; ++i) {
    d[2 * i] = bytes[i] & 0xF;
    d[2 * i + 1] = bytes[i] >> 4;
  }
  if (repeated) {
    if (d[0] != 6) return ChuFrameKind::Rejected;
    for (int i = 1; i < 10; ++i)
      if (!Digit(d[i])) return ChuFrameKind::Rejected;
    ChuTime t;
    t.day_of_year = d[1] * 100 + d[2] * 10 + d[3];
    t.hour = d[4] * 10 + d[5];
    t.minute = d[6] * 10 + d[7];
    t.second = d[8] * 10 + d[9];
    if (t.day_of_year < 1 || t.day_of_year > 366 || t.hour > 23 || t.minute > 59 || t.second < 32 ||
        t.second > 39)
      return ChuFrameKind::Rejected;
    a = t;
    return ChuFrameKind::TimeA;
  }
  if (inverted) {
    for (int i = 1; i < 10; ++i)
      if (!Digit(d[i])) return ChuFrameKind::Rejected;
    ChuYear y;
    y.dut1_tenths = (d[0] & 1) ? -d[1] : d[1];
    y.leap_warning = (d[0] & 2) != 0;
    y.year = d[2] * 1000 + d[3] * 100 + d[4] * 10 + d[5];
    y.tai_minus_utc = d[6] * 10 + d[7];
    y.daylight = d[8] * 10 + d[9];
    b = y;
    return ChuFrameKind::YearB;
  }
  return ChuFrameKind::Rejected;
}

void ChuFsk::Reset() {
  for (auto& r : ring_)
    for (int32_t& v : r) v = 0;
  for (int64_t& s : sum_) s = 0;
  ring_pos_ = table_pos_ = 0;
  n_ = 0;
  prev_d_ = 0.0;
  receiving_ = false;
  char_count_ = 0;
  queue_head_ = queue_count_ = 0;
  characters_ = rejected_ = 0;
}

void ChuFsk::Skip(int count) {
  if (count <= 0) return;
  for (auto& r : ring_)
    for (int32_t& v : r) v = 0;
  for (int64_t& s : sum_) s = 0;
  ring_pos_ = 0;
  table_pos_ = static_cast<int>((table_pos_ + count) % TablePeriod);
  n_ += count;
  prev_d_ = 0.0;
  receiving_ = false;
  char_count_ = 0;
}

void ChuFsk::Process(const int16_t* samples, int count) {
  for (int i = 0; i < count; ++i) {
    const int32_t x = samples[i];
    for (int c = 0; c < 4; ++c) {
      const int32_t p = x * Tables.v[c][table_pos_];
      sum_[c] += p - ring_[c][ring_pos_];
      ring_[c][ring_pos_] = p;
    }
    if (++ring_pos_ == Window) ring_pos_ = 0;
    if (++table_pos_ == TablePeriod) table_pos_ = 0;
    const double mi = static_cast<double>(sum_[0]), mq = static_cast<double>(sum_[1]);
    const double si = static_cast<double>(sum_[2]), sq = static_cast<double>(sum_[3]);
    // mark energy minus space energy over the last bit: positive for mark
    OnSoftBit((mi * mi + mq * mq) - (si * si + sq * sq));
    ++n_;
  }
}

// `d` belongs to the window that ends with sample n_.
void ChuFsk::OnSoftBit(double d) {
  if (!receiving_) {
    if (prev_d_ > 0.0 && d <= 0.0) {
      // The fall from mark to space crosses zero when half the window holds the start bit:
      // interpolate the crossing between the two windows, then step back half a window.
      const double crossing = static_cast<double>(n_ - 1) + prev_d_ / (prev_d_ - d);
      edge_ = crossing - Window / 2.0 + 1.0;
      receiving_ = true;
      bit_ = 0;
      data_ = 0;
      // A bit is read from the window that ends on its last sample.
      next_at_ = static_cast<int64_t>(std::lround(edge_ + BitSamples - 1.0));
    }
    prev_d_ = d;
    return;
  }
  prev_d_ = d;
  if (n_ < next_at_) return;
  const bool mark = d > 0.0;
  if (bit_ == 0) {
    if (mark) {  // the start bit did not hold: noise, not a character
      receiving_ = false;
      return;
    }
  } else if (bit_ <= 8) {
    if (mark) data_ |= 1 << (bit_ - 1);
  } else if (!mark) {  // a stop bit that is not mark: framing error
    receiving_ = false;
    return;
  }
  if (bit_ == 10) {
    receiving_ = false;
    OnCharacter(static_cast<uint8_t>(data_), edge_);
    return;
  }
  bit_ += 1;
  next_at_ = static_cast<int64_t>(std::lround(edge_ + (bit_ + 1) * BitSamples - 1.0));
}

void ChuFsk::OnCharacter(uint8_t byte, double edge) {
  characters_ += 1;
  // A character that does not follow the previous one by eleven bits starts a new run.
  if (char_count_ > 0) {
    const double gap = edge - edges_[char_count_ - 1] - 11.0 * BitSamples;
    if (std::fabs(gap) > BitSamples / 4.0) char_count_ = 0;
  }
  if (char_count_ == 10) {
    for (int i = 1; i < 10; ++i) {
      chars_[i - 1] = chars_[i];
      edges_[i - 1] = edges_[i];
    }
    char_count_ = 9;
  }
  chars_[char_count_] = byte;
  edges_[char_count_] = edge;
  char_count_ += 1;
  if (char_count_ < 10) return;

  ChuFrame f;
  for (int i = 0; i < 10; ++i) f.bytes[i] = chars_[i];
  f.kind = ReadChuFrame(f.bytes, f.time, f.year);
  if (f.kind == ChuFrameKind::Rejected) {
    rejected_ += 1;
    return;
  }
  // Least-squares line through the ten start bits (character index against sample): the
  // frame ends where an eleventh character would start.
  double mean_e = 0.0;
  for (int i = 0; i < 10; ++i) mean_e += edges_[i];
  mean_e /= 10.0;
  double sxy = 0.0, sxx = 0.0;
  for (int i = 0; i < 10; ++i) {
    sxy += (i - 4.5) * (edges_[i] - mean_e);
    sxx += (i - 4.5) * (i - 4.5);
  }
  f.end_sample = mean_e + (sxy / sxx) * (10.0 - 4.5);
  char_count_ = 0;  // a frame's characters are not reused by the next one

  const int slot = (queue_head_ + queue_count_) % QueueSize;
  queue_[slot] = f;
  if (queue_count_ < QueueSize) {
    queue_count_ += 1;
  } else {
    queue_head_ = (queue_head_ + 1) % QueueSize;
  }
}

bool ChuFsk::TakeFrame(ChuFrame& out) {
  if (queue_count_ == 0) return false;
  out = queue_[queue_head_];
  queue_head_ = (queue_head_ + 1) % QueueSize;
  queue_count_ -= 1;
  return true;
}
