// SPDX-License-Identifier: GPL-3.0-or-later
// Conditioning: what a real receiver gives, made into what the clock's front end expects, before
// the first block is measured. The front end measures a tone at 1000 Hz (the 100 Hz code for
// WWV/WWVH) at a level within a few hundred units, on audio whose 8000 samples are one second.
// A receiver puts the tone wherever it was tuned, at a line output's level; a recording's own
// rate is exact. Here:
//   - the tone: found (ToneFinder) or given, and moved to 1000 Hz (ToneShift) at the capture's
//     own rate, before resampling;
//   - the level: on a recording, the first seconds set the automatic gain's starting point;
//   - the calibration: a recording's blocks per minute are exactly 3750; a sound card's are
//     measured against the system clock (CaptureClock).
// The front end's and the decoders' arithmetic stay as they are: they only see other samples.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "app/varnol_doc.h"
#include "capture/channel_choice.h"
#include "conditioning/tone_finder.h"
#include "conditioning/tone_shift.h"
#include "timing/capture_clock.h"

constexpr double FrontEndToneHz = 1000.0;            // bins 15..17 of the 128-point transform at 8000 Hz
constexpr double RecordingBlocksPerMinute = 3750.0;  // 8000 * 60 / 128: a recording's own rate
// A tone found this close to 1000 Hz is left where it is (the three bins span 937.5..1062.5 Hz).
constexpr double ToneToleranceHz = 20.0;

// "auto", "off" or a frequency in Hz.
struct ToneSetting {
  enum class Mode { Auto, Off, Fixed } mode = Mode::Auto;
  double hz = 0.0;
};
std::optional<ToneSetting> ParseToneSetting(const std::string& text);

// What was decided about the tone, and the words for a person.
struct ToneDecision {
  ToneFound found;       // the finder's answer (found false: nothing keyed, or not looked)
  bool shifted = false;  // a shift from `from_hz` to 1000 Hz is applied
  double from_hz = 0.0;
  double half_width_hz = 0.0;  // kept either side of the moved tone
  std::string text;
  double ShiftHz() const { return shifted ? FrontEndToneHz - from_hz : 0.0; }
};

// The decision for a finder's answer (or a fixed setting) in a station mode. WWV/WWVH audio is
// a receiver's AM output: its 100 Hz code and its ticks are where they belong, so it is never moved.
ToneDecision DecideTone(const ToneSetting& setting, const ToneFound& found, int station_mode);
// The same into `d`, its text written within the capacity it has (no allocation when it has
// room for a sentence: 256 characters).
void DecideToneInto(const ToneSetting& setting, const ToneFound& found, int station_mode, ToneDecision& d);

// Whether a recording can be looked ahead in: a regular file can be opened again from its start;
// a FIFO or a device gives its samples once, so its tone and level are decided as they come, as
// a sound card's are.
bool CanLookAhead(const std::string& path);

// A recording looked at before it is decoded: the tone (its first LookAheadSeconds through the
// finder) and the level (the same seconds, moved, through a LevelProbe).
struct RecordingLookAhead {
  ToneDecision tone;
  std::optional<double> gain_db;  // when asked for
  int file_rate = 0;
};
constexpr double LookAheadSeconds = 20.0;
// The tone is looked for in stretches of LookAheadSeconds until one shows it, up to this far in.
constexpr double LookAheadMaxSeconds = 120.0;
enum class LookAheadOutcome { Done, CannotRead, ToneOutOfReach };
// With a reason in `error` when the file cannot be read or the tone cannot be moved at its rate.
LookAheadOutcome LookAheadRecording(const std::string& path, ChannelChoice channel, int station_mode,
                                    const ToneSetting& tone, bool want_gain, RecordingLookAhead& out,
                                    std::string& error);

// Applies capture filters in turn (the tone stage, then the gain).
class FilterChain : public CaptureFilter {
 public:
  void Add(CaptureFilter* f) {
    if (count_ < 4 && f != nullptr) filters_[count_++] = f;
  }
  void Apply(int16_t* samples, int count) override {
    for (int i = 0; i < count_; ++i) filters_[i]->Apply(samples, count);
  }
  int Count() const { return count_; }

 private:
  CaptureFilter* filters_[4] = {};
  int count_ = 0;
};

// The tone on live input (8000 samples a second): the first DecideAfterSeconds pass unchanged
// through the finder; then the tone is decided once, and moved from there on.
class LiveToneStage : public CaptureFilter {
 public:
  static constexpr double DecideAfterSeconds = 10.0;
  LiveToneStage(const ToneSetting& setting, int station_mode);
  void Apply(int16_t* samples, int count) override;
  // Apply runs on the capture's thread; these may be read from another. The decision is
  // complete before Decided() answers true and does not change afterwards.
  bool Decided() const { return decided_.load(std::memory_order_acquire); }
  const ToneDecision& Decision() const { return decision_; }
  double HeardSeconds() const { return finder_.Seconds(); }  // audio the finder has taken in

 private:
  ToneSetting setting_;
  int station_mode_;
  ToneFinder finder_;
  std::atomic<bool> decided_{false};
  ToneDecision decision_;
  std::optional<ToneShift> shift_;
};

// The sound card's rate measured against the system clock from the capture stamps: good once
// the line rests on MinSeconds of stamps lying close to it.
class CardRateWatch : public DocObserver {
 public:
  static constexpr double MinSeconds = 30.0;
  static constexpr double MaxResidualSeconds = 0.002;
  void OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                       int64_t capture_time_ns) override;
  // The measured blocks per minute, rounded, within the calibration's range, once good.
  std::optional<int> BlocksPerMinute() const;
  double Rate() const { return clock_.Rate(); }

 private:
  CaptureClock clock_;
  int64_t first_sample_ = -1;
  int64_t last_sample_ = 0;
};
