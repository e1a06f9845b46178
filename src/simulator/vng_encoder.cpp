// SPDX-License-Identifier: GPL-3.0-or-later
// VNG (Llandilo, Australia), short wave, as the receiver's audio: tone pulses at the start of
// each second. An ordinary second carries a 50 ms pulse; second 59 carries none, so that at
// least 1.4 s pass without tone before the 0.5 s pulse of second 0 marks the minute. Seconds
// 21..35 of a minute carry the UT hour and minute of the following minute as pulse lengths,
// 200 ms for a 1 and the ordinary 50 ms for a 0:
//
//   21..27   minute, BCD    1 2 4 8 10 20 40
//   28       even parity over 21..28
//   29..34   hour, BCD      1 2 4 8 10 20
//   35       even parity over 29..35
#include <array>
#include <cstdint>

#include "simulator/station_codes.h"

namespace {

void PutBcdLsbFirst(std::array<int, 60>& bits, int first, int count, int value) {
  const int digits = (value / 10) * 16 + value % 10;
  for (int k = 0; k < count; ++k) bits[first + k] = (digits >> k) & 1;
}

void PutEvenParity(std::array<int, 60>& bits, int first, int last, int parity_bit) {
  int ones = 0;
  for (int k = first; k <= last; ++k) ones += bits[k];
  bits[parity_bit] = ones % 2;
}

}  // namespace

std::array<int, 60> VngBits(int64_t minute_start_utc) {
  std::array<int, 60> bits{};
  const CivilTime next = CivilFromUtc(minute_start_utc + 60);
  PutBcdLsbFirst(bits, 21, 7, next.minute);
  PutEvenParity(bits, 21, 27, 28);
  PutBcdLsbFirst(bits, 29, 6, next.hour);
  PutEvenParity(bits, 29, 34, 35);
  return bits;
}

namespace {

class VngEncoder : public StationEncoder {
 public:
  double Envelope(double utc) override {
    const UtcMinute m = SplitUtc(utc);
    if (m.minute_start != cached_minute_) {
      bits_ = VngBits(m.minute_start);
      cached_minute_ = m.minute_start;
    }
    double pulse = 0.05;  // seconds of tone
    if (m.second == 0)
      pulse = 0.5;
    else if (m.second == 59)
      pulse = 0.0;
    else if (bits_[m.second])
      pulse = 0.2;
    return m.fraction < pulse ? 1.0 : 0.0;
  }

 private:
  int64_t cached_minute_ = INT64_MIN;
  std::array<int, 60> bits_{};
};

}  // namespace

std::unique_ptr<StationEncoder> MakeVngEncoder() {
  return std::make_unique<VngEncoder>();
}
