#include "conditioning/level_probe.h"

#include <algorithm>
#include <cmath>

#include "conditioning/gain_stage.h"

namespace {
constexpr double Pi = 3.14159265358979323846;
constexpr double SyncStep = 0.07841414786627582;  // rad a sample: the detector's own reference
}  // namespace

LevelProbe::LevelProbe(int station_mode) : station_mode_(station_mode) {
  for (int i = 0; i < 128; ++i) {
    window_[i] = -std::sin(2.0 * Pi * ((i + 1) / 2) / 128.0);
    for (int k = 0; k < 3; ++k) {
      cos_[k][i] = std::cos(2.0 * Pi * (15 + k) * i / 128.0);
      sin_[k][i] = std::sin(2.0 * Pi * (15 + k) * i / 128.0);
    }
  }
}

void LevelProbe::Add(const int16_t* samples, int count) {
  for (int i = 0; i < count; ++i) {
    block_[fill_++] = samples[i];
    if (fill_ == 128) {
      fill_ = 0;
      Block();
    }
  }
}

void LevelProbe::Block() {
  double level = 0.0;
  if (station_mode_ == StationWwv) {
    double si = 0.0, sq = 0.0;
    for (int n = 0; n < 128; ++n) {
      si += std::cos(sync_phase_) * block_[n];
      sq += std::sin(sync_phase_) * block_[n];
      sync_phase_ = std::fmod(sync_phase_ + SyncStep, 2.0 * Pi);
    }
    std::rotate(sync_i_.begin(), sync_i_.begin() + 1, sync_i_.end());
    std::rotate(sync_q_.begin(), sync_q_.begin() + 1, sync_q_.end());
    sync_i_.back() = si;
    sync_q_.back() = sq;
    double ti = 0.0, tq = 0.0;
    for (size_t k = 0; k < sync_i_.size(); ++k) {
      ti += sync_i_[k];
      tq += sync_q_[k];
    }
    level = std::sqrt(ti * ti + tq * tq) / 1280.0 * 4.0;
  } else {
    for (int k = 0; k < 3; ++k) {
      double re = 0.0, im = 0.0;
      for (int i = 0; i < 128; ++i) {
        const double x = block_[i] * window_[i];
        re += x * cos_[k][i];
        im += x * sin_[k][i];
      }
      level += std::sqrt(re * re + im * im) / 128.0;
    }
  }
  if (count_ < MaxBlocks) levels_[count_++] = level;
}

double LevelProbe::Percentile(double fraction) const {
  if (count_ == 0) return 0.0;
  std::array<double, MaxBlocks> sorted = levels_;
  const auto n = static_cast<size_t>(count_);
  const size_t at = std::min(n - 1, static_cast<size_t>(std::ceil(fraction * static_cast<double>(n))));
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(at),
                   sorted.begin() + static_cast<std::ptrdiff_t>(n));
  return sorted[at];
}

double LookAheadGainDb(const LevelProbe& probe, int station_mode) {
  const GainStage::Band band = GainStage::TargetBand(station_mode);
  const double loud = probe.Percentile(0.99);
  if (loud <= 1.0 || (loud >= band.low && loud <= band.high)) return 0.0;
  return std::clamp(20.0 * std::log10(band.target / loud), GainStage::MinAutoDb, GainStage::MaxAutoDb);
}
