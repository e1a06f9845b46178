// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces that find a second's on-time marker in the raw samples, finer than one sample:
//
//  - ToneEnvelope: the magnitude of a tone near a known frequency, sample by sample: the audio
//    is mixed down with the tone and summed over a sliding window of `EnvelopeWindow` samples
//    (4 ms). A step in the tone's amplitude becomes a straight ramp 4 ms long whose middle
//    lies `EnvelopeWindow / 2 - 1` samples after the step.
//  - EdgeShape and FindEdge: the marker's edge in that envelope, near a predicted position:
//    the levels before and after it, the ramp's middle fitted by least squares, and whether
//    the edge is deep enough above the noise to be trusted.
//  - FitRobustLine: edge positions against second numbers, a straight line whose slope is the
//    sound card's true rate in samples per second; seconds that disagree with the rest (noise
//    bursts, a marker the edge finder took for another) are left out of the fit.
//
// Units: positions are samples since the capture's first sample (fractional), lengths are
// samples at the card's rate (nominally 8000 per second).
#pragma once

#include <cmath>
#include <cstdint>

constexpr int EnvelopeWindow = 32;  // samples: 4 ms at 8000 samples per second

// Magnitude of one tone, sample by sample. The tone must divide 8000 Hz into a whole number of
// samples within `MaxTonePeriod` (1000 Hz: 8 samples; 1200 Hz: 20 samples), so that its phase
// table repeats exactly and never drifts. No allocation.
class ToneEnvelope {
 public:
  static constexpr int MaxTonePeriod = 40;
  // `cycles` whole cycles of the tone in `period` samples: 1000 Hz is (1, 8), 1200 Hz (3, 20).
  ToneEnvelope(int cycles, int period);
  void Reset();
  // The envelope after sample `x`, in sample units of the tone's amplitude (peak).
  float Next(int16_t x);
  // The envelope's square after each of `count` samples, for a caller that takes the roots of
  // a whole run at once: the same values as `Next`, before the root.
  void Powers(const int16_t* x, int count, double* power);

 private:
  double cos_[MaxTonePeriod] = {};
  double sin_[MaxTonePeriod] = {};
  int period_ = 8;
  int phase_ = 0;
  double ring_re_[EnvelopeWindow] = {};
  double ring_im_[EnvelopeWindow] = {};
  int ring_pos_ = 0;
  double sum_re_ = 0.0;
  double sum_im_ = 0.0;
  int since_resum_ = 0;
};

// Run for every sample: defined here so that the caller's sample loop can inline them. The
// state is held in locals over the run so that the running sums stay in registers.
inline void ToneEnvelope::Powers(const int16_t* x, int count, double* __restrict power) {
  double sum_re = sum_re_, sum_im = sum_im_;
  int phase = phase_, pos = ring_pos_, since_resum = since_resum_;
  for (int i = 0; i < count; ++i) {
    const double re = x[i] * cos_[phase];
    const double im = x[i] * sin_[phase];
    phase = phase + 1 == period_ ? 0 : phase + 1;
    sum_re += re - ring_re_[pos];
    sum_im += im - ring_im_[pos];
    ring_re_[pos] = re;
    ring_im_[pos] = im;
    pos = pos + 1 == EnvelopeWindow ? 0 : pos + 1;
    // The running sums gather rounding over hours of audio: add them up afresh now and then.
    if (++since_resum >= 4096) {
      since_resum = 0;
      sum_re = sum_im = 0.0;
      for (int k = 0; k < EnvelopeWindow; ++k) {
        sum_re += ring_re_[k];
        sum_im += ring_im_[k];
      }
    }
    power[i] = sum_re * sum_re + sum_im * sum_im;
  }
  sum_re_ = sum_re;
  sum_im_ = sum_im;
  phase_ = phase;
  ring_pos_ = pos;
  since_resum_ = since_resum;
}

inline float ToneEnvelope::Next(int16_t x) {
  double power = 0.0;
  Powers(&x, 1, &power);
  return static_cast<float>(std::sqrt(power));
}

// How a station's second marker looks in the tone's envelope, relative to the second's start:
// the level just before it (`pre_*`), the level just after (`post_*`), and which way it steps.
struct EdgeShape {
  bool rising = false;  // true: the tone comes on (short-wave ticks, VNG); false: it drops
  bool tick = false;    // a short tick: the level after is the peak of its plateau
  // The tone is absent on the low side (on-off keying, ticks): the noise there is measured and
  // its power taken off every envelope sample, so that the edge's middle does not move with the
  // signal-to-noise ratio (the magnitude of tone plus noise is not the tone's magnitude).
  bool silent_low = false;
  int pre_begin = -480;  // samples relative to the edge, the window of the level before
  int pre_end = -48;
  int post_begin = 48;  // samples relative to the edge, the window of the level after
  int post_end = 720;   // (for a tick: where its plateau's peak is sought)
};

// The envelope around a predicted edge, read from a ring of `mask + 1` samples (a power of two)
// indexed by absolute sample number; the caller guarantees that the samples asked for are there.
struct EnvelopeRing {
  const float* data = nullptr;
  int64_t mask = 0;
  float At(int64_t n) const { return data[n & mask]; }
};

struct EdgeResult {
  bool found = false;
  double position = 0.0;  // samples: where the marker begins
  double depth = 0.0;     // envelope units: level after minus level before, signed as the shape
  double noise = 0.0;     // envelope units: scatter of the level before
  double before = 0.0;    // envelope units: level before the edge
  double after = 0.0;     // envelope units: level after it
  double Snr() const { return noise > 0.0 ? depth / noise : 0.0; }
};

// Finds the edge of `shape` within `gate` samples of `predicted`. Not found when the step is
// not at least `min_snr` times the scatter of the envelope before it, or the ramp's fit fails.
EdgeResult FindEdge(const EnvelopeRing& ring, const EdgeShape& shape, double predicted, int gate,
                    double min_snr);

// One second's measured edge for the line fit.
struct LinePoint {
  int64_t second = 0;     // running second number
  double position = 0.0;  // samples
  double weight = 1.0;    // inverse variance, any scale (the edge's SNR squared)
  bool inlier = false;    // set by the fit
};

struct LineFit {
  bool ok = false;
  int64_t origin = 0;      // second number the intercept refers to
  double intercept = 0.0;  // samples at `origin`
  double slope = 0.0;      // samples per second: the card's rate
  int inliers = 0;
  double rms = 0.0;  // samples: scatter of the inliers about the line
  double At(int64_t second) const { return intercept + slope * static_cast<double>(second - origin); }
};

// Robust straight line through `count` points (at most `MaxLinePoints`): the median of the
// pairwise slopes and the median intercept first, then the points within `reject` samples (or
// within four robust standard deviations, whichever is larger) fitted by weighted least squares. Marks
// each point's `inlier`. `scratch` holds MaxLinePoints * MaxLinePoints / 2 doubles.
constexpr int MaxLinePoints = 64;
constexpr int LineScratchSize = MaxLinePoints * MaxLinePoints / 2;
LineFit FitRobustLine(LinePoint* points, int count, double reject, double* scratch);
