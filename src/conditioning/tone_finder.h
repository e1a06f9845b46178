// The tone finder: where in 300..3000 Hz a receiver put the station's tone.
//
// A time station's carrier is keyed once a second (lowered or cut for 100 to 800 ms), so in
// the receiver's audio it is a tone whose power rises and falls with a period of exactly one
// second; a whistle, a neighbouring carrier or hum stays steady, and noise has no period. The
// finder cuts the audio (8000 samples a second) into frames of 512 samples (15.6 Hz bins,
// Hann window) every 400 samples, so 20 frames make one second, and for each bin in
// 300..3000 Hz keeps:
//   - the mean power over all frames;
//   - the mean power at each of the 20 phases of the second (frame number modulo 20);
//   - the mean square of the power.
// A bin's keying is the part of its power's variance that the one-second pattern explains: the
// variance of the 20 phase means over the variance of all frames. Noise gives about 20 / frames
// (0.05 after 20 s), a steady carrier little more, a keyed carrier 0.5 to 1.
//
// The tone is the strongest bin, at least 10 dB above the median bin (the noise), whose keying
// is at least MinKeying; its frequency is refined between the bins by a parabola through the
// logarithms of the three powers around it.
//
// Needs MinSeconds of audio for an answer. No allocation after construction.
#pragma once

#include <array>
#include <cstdint>

struct ToneFound {
  bool found = false;
  double hz = 0.0;              // the keyed tone's frequency
  double above_noise_db = 0.0;  // its mean power over the median bin's
  double keying = 0.0;          // 0..1, see above
  double seconds = 0.0;         // audio the answer rests on
};

class ToneFinder {
 public:
  static constexpr double SampleRate = 8000.0;
  static constexpr int FftSize = 512;
  static constexpr int Hop = 400;  // samples: 20 frames a second
  static constexpr int FramesPerSecond = 20;
  static constexpr double LowHz = 300.0;
  static constexpr double HighHz = 3000.0;
  static constexpr double MinAboveNoiseDb = 10.0;
  static constexpr double MinKeying = 0.2;
  static constexpr double MinSeconds = 5.0;

  ToneFinder();
  void Add(const int16_t* samples, int count);
  void Add(const float* samples, int count, float scale = 1.0f);
  ToneFound Result() const;
  double Seconds() const { return static_cast<double>(frames_) / FramesPerSecond; }
  void Reset();

 private:
  static constexpr int LowBin = 18;    // 281.3 Hz: one bin below the range, for the refinement
  static constexpr int HighBin = 194;  // 3031.3 Hz
  static constexpr int Bins = HighBin - LowBin + 1;
  void Push(double x);
  void Frame();

  std::array<double, FftSize> hann_{};
  std::array<double, FftSize / 2> wr_{}, wi_{};
  std::array<double, FftSize> ring_{};  // the last FftSize samples
  int fill_ = 0;                        // samples in the ring, up to FftSize
  int pos_ = 0;                         // next slot
  int since_frame_ = 0;
  std::array<double, FftSize> re_{}, im_{};
  std::array<double, Bins> sum_{}, sum_sq_{};
  std::array<std::array<double, FramesPerSecond>, Bins> phase_sum_{};
  int64_t frames_ = 0;
};
