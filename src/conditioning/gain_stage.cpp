// SPDX-License-Identifier: GPL-3.0-or-later
#include "conditioning/gain_stage.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

std::optional<GainSetting> ParseGainSetting(const std::string& text) {
  if (text == "auto") return GainSetting{true, 0.0};
  if (text == "off") return GainSetting{false, 0.0};
  // Decimal only: strtod alone would read "0x10" as 16 dB.
  if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string::npos) return std::nullopt;
  char* end = nullptr;
  const double db = std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || !std::isfinite(db) || db < -60.0 || db > 60.0) return std::nullopt;
  return GainSetting{false, db};
}

GainStage::GainStage(double db) : db_(db), factor_(std::pow(10.0, db / 20.0)) {
  Tabulate();
}

void GainStage::Tabulate() {
  for (int s = -32768; s <= 32767; ++s)
    table_[static_cast<size_t>(s + 32768)] = Scale(static_cast<int16_t>(s), factor_);
}

GainStage::GainStage(const CVarnolDoc& doc, double start_db)
    : db_(std::clamp(start_db, MinAutoDb, MaxAutoDb)), factor_(std::pow(10.0, db_ / 20.0)), doc_(&doc) {
  Tabulate();
  seen_block_ = doc.BlocksProcessed;
}

int16_t GainStage::Scale(int16_t sample, double factor) {
  const double v = std::round(static_cast<double>(sample) * factor);  // halves away from zero
  if (v >= 32767.0) return 32767;
  if (v <= -32768.0) return -32768;
  return static_cast<int16_t>(v);
}

GainStage::Band GainStage::TargetBand(int station_mode) {
  if (station_mode == StationWwv) return Band{100.0, 400.0, 900.0, 1536.0};
  return Band{100.0, 250.0, 450.0, 765.0};
}

void GainStage::Apply(int16_t* samples, int count) {
  if (doc_ != nullptr) {
    Measure();
    MaybeStep();
  }
  if (db_ == 0.0) return;  // 0 dB leaves every sample as it is
  for (int i = 0; i < count; ++i) samples[i] = table_[static_cast<size_t>(samples[i] + 32768)];
}

void GainStage::Measure() {
  const CVarnolDoc& d = *doc_;
  const int64_t fresh = std::min<int64_t>(d.BlocksProcessed - seen_block_, TraceColumns);
  seen_block_ = d.BlocksProcessed;
  if (fresh <= 0) return;
  const Band band = TargetBand(d.StationMode);
  for (int64_t i = 1; i <= fresh; ++i) {
    const int col = static_cast<int>((d.DisplayColumn - i + 2 * TraceColumns) % TraceColumns);
    const int level = d.LevelTrace[col];
    window_levels_[static_cast<size_t>(std::clamp(level, 0, LevelCeiling))] += 1;
    window_blocks_ += 1;
    bool saturated = false;
    if (d.StationMode == StationWwv)
      saturated = level >= band.ceiling;
    else
      saturated = d.SpectrumTrace[col][15] == 255 || d.SpectrumTrace[col][16] == 255 ||
                  d.SpectrumTrace[col][17] == 255;
    if (saturated) window_saturated_ += 1;
  }
  window_buffers_ += 1;
}

int GainStage::WindowLevel() const {
  // from the top, past the highest hundredth of the blocks (at least one of them once there
  // are a hundred)
  const int skip = window_blocks_ / 100;
  int above = 0;
  for (int level = LevelCeiling; level > 0; --level) {
    above += window_levels_[static_cast<size_t>(level)];
    if (above > skip) return level;
  }
  return 0;
}

void GainStage::MaybeStep() {
  const CVarnolDoc& d = *doc_;
  const int64_t block = d.BlocksProcessed;
  // Minute markers seen within the last minute and ten seconds: a minute's code is being read.
  const bool markers_active = d.BlocksSinceMarker >= 0 && d.BlocksSinceMarker <= d.BlocksPerMinute + 640;
  if (markers_active) {
    // Just after a marker run has ended: the minute that was read is complete and the next one
    // has only begun. One decision per marker.
    const bool between_minutes = d.MarkerRunLength == 0 && d.BlocksSinceMarker < 64;
    const bool already =
        last_marker_step_block_ >= 0 && block - last_marker_step_block_ < d.BlocksPerMinute / 2;
    if (!between_minutes || already) return;
    last_marker_step_block_ = block;
  } else if (window_buffers_ < FreeStepBuffers) {
    return;
  }
  if (window_buffers_ == 0) return;

  const Band band = TargetBand(d.StationMode);
  const int blocks = window_buffers_ * (BufferSamples / BlockSize);
  const bool saturated = window_saturated_ * 100 > blocks;  // more than 1 % of the blocks at the ceiling
  const int window_max = WindowLevel();
  // Leaving the band starts a settling that goes on, step by step, until the level lies within
  // 3 dB of the target: a level just inside the band's edge would be left there otherwise.
  if (saturated || window_max > band.high || window_max < band.low) settling_ = true;
  double step = 0.0;
  if (settling_) {
    if (saturated) {
      step = -MaxStepDb;
    } else if (window_max <= 0) {
      step = MaxStepDb;
    } else {
      step = std::clamp(20.0 * std::log10(band.target / window_max), -MaxStepDb, MaxStepDb);
      if (std::fabs(step) <= 3.0) {
        step = 0.0;
        settling_ = false;
      }
    }
  }
  window_levels_.fill(0);
  window_blocks_ = 0;
  window_saturated_ = 0;
  window_buffers_ = 0;
  const double next = std::clamp(db_ + step, MinAutoDb, MaxAutoDb);
  if (next == db_) return;
  db_ = next;
  factor_ = std::pow(10.0, db_ / 20.0);
  Tabulate();
  steps_ += 1;
  last_step_block_ = block;
}
