// SPDX-License-Identifier: GPL-3.0-or-later
// The 100 Hz synchronous detector for WWV/WWVH: in mode 6 it takes the place of the spectrum
// measure. The time code rides on a 100 Hz subcarrier; the detector mixes each sample with a
// 100 Hz reference and sums coherently over the last ten blocks (1280 samples, about 0.16 s).
//
// The reference phase advances 0.07841414786627582 rad per sample (100 Hz at the 8012.8
// samples per second that the nominal calibration implies) and wraps by 6.2831853072, two pi
// to ten decimals, which is both the limit compared and the amount subtracted.
//
// Cost: one sine and one cosine per sample, in double precision, of the phase as it stands.
// Both come from a single sincos call (the C library computes them with the same argument
// reduction and polynomials as separate cos and sin calls, so the values are the same bit for
// bit; the unit tests check this over many blocks and across the wrap). The phase sequence
// cannot be tabulated instead: the value after each wrap is new (none repeats within the
// first four billion samples, some 139 hours), so every sample's phase is a fresh argument.
// One hour of audio is about 29 million sincos calls, roughly a third of a second.
#include <cmath>

#include "app/varnol_doc.h"

namespace {

inline void SinCos(double phase, double* s, double* c) {
#if defined(__GLIBC__)
  ::sincos(phase, s, c);
#else
  *s = std::sin(phase);
  *c = std::cos(phase);
#endif
}

}  // namespace

void CVarnolDoc::RunSyncDetector(const int16_t* block) {
  for (auto& b : SpectrumTrace[DisplayColumn]) b = 0;  // no spectrum in this mode
  double i_sum = 0.0;
  double q_sum = 0.0;
  double phase = SyncPhase;  // radians, before this sample's advance
  for (int n = 0; n < BlockSize; ++n) {
    const double s = static_cast<double>(block[n]);
    double sine = 0.0;
    double cosine = 0.0;
    SinCos(phase, &sine, &cosine);
    i_sum += cosine * s;
    q_sum += sine * s;
    phase += SyncPhaseStep;
    if (phase > SyncPhaseWrap) phase -= SyncPhaseWrap;
  }
  SyncPhase = phase;

  // Ten-block window, oldest first.
  for (int k = 0; k + 1 < SyncWindowBlocks; ++k) {
    SyncSumsI[k] = SyncSumsI[k + 1];
    SyncSumsQ[k] = SyncSumsQ[k + 1];
  }
  SyncSumsI[SyncWindowBlocks - 1] = i_sum;
  SyncSumsQ[SyncWindowBlocks - 1] = q_sum;
  double si = 0.0;
  double sq = 0.0;
  for (int k = 0; k < SyncWindowBlocks; ++k) {
    si += SyncSumsI[k];
    sq += SyncSumsQ[k];
  }
  // A 100 Hz sine of peak A gives about 2 A once the window is full.
  const double level = std::sqrt(si * si + sq * sq) / 1280 * 4;
  LevelTrace[DisplayColumn] = static_cast<int>(level);
}

void CVarnolDoc::ResetSyncDetector() {
  SyncPhase = 0.0;
  for (int k = 0; k < SyncWindowBlocks; ++k) {
    SyncSumsI[k] = 0.0;
    SyncSumsQ[k] = 0.0;
  }
}
