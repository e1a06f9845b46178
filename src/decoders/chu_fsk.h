// SPDX-License-Identifier: GPL-3.0-or-later
// CHU's time code, read from the audio: a Bell 103 demodulator (mark 2225 Hz, space 2025 Hz,
// 300 bit/s) and the reader of the ten-character frames of seconds 31..39.
//
// The demodulator is another consumer of the samples the front end measures (8000 per second
// nominal): it correlates each sample with both tones over the last bit's length, takes the
// difference of their energies as the soft bit, and runs a receiver that finds each character
// by its start bit (the fall from mark to space), samples the eight data bits and checks both
// stop bits. A frame is ten characters whose start bits follow one another every eleven bits;
// where it ends (the end of the last stop bit, 500 ms into the second) comes from a straight
// line through the ten start bits.
//
// Units: `sample` counts samples given to Process since construction or Reset, the first one
// being sample 0; fractional values lie between samples.
//
// Per-block path: no allocation, no blocking; all state lives in fixed arrays.
#pragma once

#include <cstdint>

// Format A, sent in seconds 32..39: the UTC second it is sent in.
struct ChuTime {
  int day_of_year = 0;  // 1..366
  int hour = 0, minute = 0, second = 0;
};

// Format B, sent in second 31.
struct ChuYear {
  int year = 0;               // four digits
  int dut1_tenths = 0;        // UT1 - UTC, tenths of a second
  int tai_minus_utc = 0;      // seconds
  bool leap_warning = false;  // a leap second at the end of this month
  int daylight = 0;           // Canadian daylight-time indicator, two digits as sent
};

enum class ChuFrameKind {
  Rejected,  // the redundancy or the digits do not hold
  TimeA,
  YearB,
};

// Checks a frame's redundancy (A: the five bytes repeated; B: repeated inverted) and reads its
// digits. A is accepted only for a date and time of day that exist and a second of 32..39.
ChuFrameKind ReadChuFrame(const uint8_t bytes[10], ChuTime& a, ChuYear& b);

struct ChuFrame {
  ChuFrameKind kind = ChuFrameKind::Rejected;  // never Rejected once handed out
  uint8_t bytes[10] = {};
  ChuTime time;             // for TimeA
  ChuYear year;             // for YearB
  double end_sample = 0.0;  // where the last stop bit ends (500 ms into the second)
};

class ChuFsk {
 public:
  static constexpr int Window = 27;  // samples, one bit (26.7 at 8000 per second)
  static constexpr double BitSamples = 8000.0 / 300.0;

  ChuFsk() { Reset(); }
  void Reset();

  // Demodulates `count` samples; frames found are queued for TakeFrame.
  void Process(const int16_t* samples, int count);
  // Counts `count` samples without demodulating them (audio known to hold no code): the
  // correlators and the character receiver start afresh after them.
  void Skip(int count);

  // The oldest accepted frame not yet taken; false when there is none. At most four wait; a
  // fifth replaces the oldest.
  bool TakeFrame(ChuFrame& out);

  int64_t SamplesSeen() const { return n_; }
  int64_t CharactersSeen() const { return characters_; }
  int64_t FramesRejected() const { return rejected_; }

 private:
  void OnSoftBit(double d);
  void OnCharacter(uint8_t byte, double edge);

  // Correlators: products of the last Window samples with both tones, in quadrature, as exact
  // integers (tables scaled by 2^14), and their running sums.
  int32_t ring_[4][Window] = {};
  int64_t sum_[4] = {};
  int ring_pos_ = 0;
  int table_pos_ = 0;  // 0..319: both tones repeat every 320 samples at 8000 per second
  int64_t n_ = 0;      // samples seen

  // Character receiver.
  double prev_d_ = 0.0;
  bool receiving_ = false;
  double edge_ = 0.0;  // sample where the start bit began
  int bit_ = 0;        // next bit to sample: 0 start, 1..8 data, 9 and 10 stop
  int64_t next_at_ = 0;
  int data_ = 0;

  // The last ten characters and where their start bits began.
  uint8_t chars_[10] = {};
  double edges_[10] = {};
  int char_count_ = 0;  // valid entries, newest at index char_count_ - 1 (at most 10)

  static constexpr int QueueSize = 4;
  ChuFrame queue_[QueueSize];
  int queue_head_ = 0, queue_count_ = 0;

  int64_t characters_ = 0, rejected_ = 0;
};
