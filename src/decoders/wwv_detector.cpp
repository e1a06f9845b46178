// The 100 Hz synchronous detector for WWV/WWVH: in mode 6 it takes the place of the spectrum
// measure. The time code rides on a 100 Hz subcarrier; the detector mixes each sample with a
// 100 Hz reference and sums coherently over the last ten blocks (1280 samples, about 0.16 s).
#include <cmath>

#include "app/varnol_doc.h"

void CVarnolDoc::RunSyncDetector(const int16_t* block) {
  for (auto& b : SpectrumTrace[DisplayColumn]) b = 0;
  double i_sum = 0.0;
  double q_sum = 0.0;
  for (int n = 0; n < BlockSize; ++n) {
    const double s = static_cast<double>(block[n]);
    i_sum += std::cos(SyncPhase) * s;
    q_sum += std::sin(SyncPhase) * s;
    SyncPhase += SyncPhaseStep;
    if (SyncPhase > SyncPhaseWrap) SyncPhase -= SyncPhaseWrap;
  }
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
