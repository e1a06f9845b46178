// SPDX-License-Identifier: GPL-3.0-or-later
// The gain stage: scales the captured samples before the front end measures them, exactly as
// if the recording level had been turned. The front end's arithmetic is untouched; it only
// sees other samples.
//
// Fixed gain: every sample times 10^(dB / 20), rounded to the nearest integer (halves away
// from zero) and held at the 16-bit limits -32768 and 32767.
//
// Automatic gain: keeps the tone's level (the sum of the three tone bins, or the 100 Hz
// detector's output for WWV) inside the range the peak and floor trackers work in, and once
// the tone has left that range it steps until the level lies within 3 dB of the range's target
// (a tone barely above the bottom of the range leaves a coarse level and, with little noise, false
// minute markers). It reads
// the levels the front end measured on the previous buffers (the document is read, never
// written) and moves the gain by at most 6 dB a step:
// The level it reads over the blocks since the last step is the highest that more than one
// block in a hundred reaches (a static crash fills a few blocks, not the tone's seconds):
//   - while no minute marker has been seen for over a minute, at most one step every 2 s
//     (time for the trackers to follow and for the next measurement);
//   - once markers come, only on the buffer just after a marker run has ended, that is between
//     one minute's code and the next, and at most once a minute; the code of a minute is never
//     read with two different gains.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "app/varnol_doc.h"

// "auto", "off" (0 dB) or a number of decibels within -60..+60. An automatic gain starts at
// `db` (a look-ahead's finding, or 0).
struct GainSetting {
  bool automatic = false;
  double db = 0.0;
};
std::optional<GainSetting> ParseGainSetting(const std::string& text);

class GainStage : public CaptureFilter {
 public:
  static constexpr double MaxAutoDb = 40.0;  // the automatic gain stays within -60..+40 dB
  static constexpr double MinAutoDb = -60.0;
  static constexpr double MaxStepDb = 6.0;   // dB per step
  static constexpr int FreeStepBuffers = 8;  // buffers between steps without markers (2 s)

  // A fixed gain in dB.
  explicit GainStage(double db);
  // Automatic gain, reading the front end's levels from `doc`, starting at `start_db`.
  explicit GainStage(const CVarnolDoc& doc, double start_db = 0.0);

  void Apply(int16_t* samples, int count) override;

  double GainDb() const { return db_; }
  bool Automatic() const { return doc_ != nullptr; }
  int Steps() const { return steps_; }                        // changes made by the automatic gain
  int64_t LastStepBlock() const { return last_step_block_; }  // BlocksProcessed at the last step

  // One sample times `factor`, rounded to nearest (halves away from zero), held at the
  // 16-bit limits.
  static int16_t Scale(int16_t sample, double factor);

  // The tone levels the automatic gain aims at, for a station mode: inside [low, high] it
  // leaves the gain alone; outside it steps towards `target`. `ceiling` is the level at which
  // the measure saturates (three tone bytes at 255, or the peak tracker's cap for WWV).
  struct Band {
    double low, target, high, ceiling;
  };
  static Band TargetBand(int station_mode);

 private:
  void Measure();  // takes in the levels of the blocks processed since the last call
  void MaybeStep();

  void Tabulate();  // every 16-bit sample scaled by the current factor, once per change

  double db_ = 0.0;
  double factor_ = 1.0;
  // Scale(s, factor_) for every s, indexed by s + 32768: a change of gain is rare (at most once
  // every 2 s), a sample is scaled 8000 times a second.
  std::array<int16_t, 65536> table_{};
  const CVarnolDoc* doc_ = nullptr;
  int64_t seen_block_ = 0;    // BlocksProcessed at the last Measure
  // The block levels since the last step, counted per level (0..LevelCeiling): the window's
  // level is the highest one that more than one block in a hundred reaches, so that a static
  // crash (a few blocks, a few times a minute) is not taken for a tone that is too strong.
  static constexpr int LevelCeiling = 1536;
  int WindowLevel() const;
  std::array<int, LevelCeiling + 1> window_levels_{};
  int window_blocks_ = 0;     // blocks counted in window_levels_
  int window_saturated_ = 0;  // blocks at the measure's ceiling since the last step
  int window_buffers_ = 0;    // buffers measured since the last step
  bool settling_ = false;     // stepping towards the target until within 3 dB of it
  int steps_ = 0;
  int64_t last_step_block_ = -1;
  int64_t last_marker_step_block_ = -1;
};
