// SPDX-License-Identifier: GPL-3.0-or-later
// The clock window's stages between the capture and the front end, which the user may change
// while the clock runs: a tap for the tuning aid, the tone stage and the gain stage, in that
// order, on the 8000 Hz audio of each capture buffer.
//
// A recording's tone may already have been moved at the recording's own rate, before
// resampling (FileToneShift, the recording's rate filter). When the station or the tone setting
// changes, that shift is switched off and the tone stage here looks for the tone anew on the
// 8000 Hz audio: a receiver tuned to another station puts its tone elsewhere, and WWV/WWVH's AM
// audio is never moved while the long-wave stations' tone is.
//
// Everything here is changed and run on the thread that processes the buffers (the window's);
// only FileToneShift runs on the recording's pacing thread, and it reads one atomic flag.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "conditioning/conditioning.h"
#include "conditioning/gain_stage.h"
#include "conditioning/tuning_spectrum.h"

// A recording's tone moved at its own rate, until switched off.
class FileToneShift : public CaptureRateFilter {
 public:
  FileToneShift(double rate, double from_hz, double to_hz) : shift_(rate, from_hz, to_hz) {}
  void Process(float* samples, size_t count) override {
    if (on_.load(std::memory_order_acquire)) shift_.Process(samples, count);
  }
  void SwitchOff() { on_.store(false, std::memory_order_release); }
  bool On() const { return on_.load(std::memory_order_acquire); }

 private:
  ToneShift shift_;
  std::atomic<bool> on_{true};
};

// What the tone stage is doing, for a person.
struct ToneState {
  enum class Phase { None, Searching, Decided } phase = Phase::None;
  double heard_seconds = 0.0;           // while searching: audio heard so far
  ToneDecision decision;                // once decided
  bool at_file_rate = false;            // the move is made before resampling (the tap sees moved audio)
  double measured_hz = FrontEndToneHz;  // where the front end measures (100 Hz for WWV/WWVH)
};

class InputStages : public CaptureFilter {
 public:
  explicit InputStages(const CVarnolDoc& doc) : doc_(doc) {}

  // The tone looked for (Auto) or moved (Fixed) on the 8000 Hz audio from now on, or left alone
  // (Off), for `station_mode`; a recording's own-rate shift is switched off.
  void SetTone(const ToneSetting& setting, int station_mode);
  // The tone already decided and moved at the recording's own rate by `shift` (kept by the
  // caller for as long as the recording plays).
  void UseFileShift(const ToneSetting& setting, FileToneShift* shift, const ToneDecision& decision);
  // No tone stage at all (the simulated receiver puts its tone where the clock measures).
  void NoTone();
  // The station was changed: under Auto the tone is looked for again, for the new station.
  // False when nothing changed.
  bool StationChanged(int station_mode);
  // A fixed or automatic gain, or none.
  void SetGain(const std::optional<GainSetting>& gain);
  const GainStage* Gain() const { return gain_.get(); }

  // The tap copies the audio only while something reads it.
  void SetTapOn(bool on) { tap_on_ = on; }
  const SampleTap& Tap() const { return tap_; }

  ToneState Tone() const;
  // Counts the tone decisions and new searches: a change tells that the tone's state is new.
  int ToneGeneration() const { return generation_; }

  void Apply(int16_t* samples, int count) override;

 private:
  const CVarnolDoc& doc_;
  ToneSetting setting_;
  bool has_tone_ = false;
  std::unique_ptr<LiveToneStage> live_;
  FileToneShift* file_shift_ = nullptr;
  bool file_decided_ = false;  // the recording's tone was decided before it played
  ToneDecision file_decision_;
  int station_mode_ = 0;
  std::unique_ptr<GainStage> gain_;
  SampleTap tap_;
  bool tap_on_ = false;
  int generation_ = 0;
  bool live_decided_ = false;  // the live stage's decision has been counted
};
