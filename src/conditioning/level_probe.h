// The level the clock's front end would measure on each 128-sample block, without its byte
// ceiling: the sum of the magnitudes of bins 15..17 (937.5, 1000, 1062.5 Hz) of the windowed
// 128-point transform, divided by 128, or for WWV/WWVH the 100 Hz detector's output (mixed
// with a 100 Hz reference, summed coherently over ten blocks, times 4 / 1280). A tone too loud
// for the front end pins its bytes at 255; here it reads as loud as it is, so a look-ahead can
// tell how far to turn the level down.
#pragma once

#include <array>
#include <cstdint>

class LevelProbe {
 public:
  static constexpr int MaxBlocks = 4096;  // levels kept (over a minute of blocks)

  explicit LevelProbe(int station_mode);
  // Whole blocks of 128 samples; a remainder is carried to the next call.
  void Add(const int16_t* samples, int count);
  int Blocks() const { return count_; }
  // The level below which `fraction` of the blocks lie (0 with no blocks).
  double Percentile(double fraction) const;

 private:
  void Block();
  int station_mode_;
  std::array<double, 128> window_{};
  std::array<std::array<double, 128>, 3> cos_{}, sin_{};
  std::array<int16_t, 128> block_{};
  int fill_ = 0;
  double sync_phase_ = 0.0;
  std::array<double, 10> sync_i_{}, sync_q_{};
  std::array<double, MaxBlocks> levels_{};
  int count_ = 0;
};

// The fixed gain (dB) that brings a look-ahead's levels to the automatic gain's target: none
// when the loud blocks (99th percentile) already lie within the range the trackers work in or
// nothing was heard, else the step to the target, within the automatic gain's limits.
double LookAheadGainDb(const LevelProbe& probe, int station_mode);
