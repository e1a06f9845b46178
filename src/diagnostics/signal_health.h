// SPDX-License-Identifier: GPL-3.0-or-later
// Signal health: what a person needs to act on when the clock does not decode. Watches the
// document's buffers and events (reading, never writing its state) and, once a minute of audio,
// judges the tone's level against the range the front end works in, looks for the tone in the
// spectrum, estimates the signal-to-noise ratio and the sound card's rate from the intervals
// between minute markers. At the end of a run it sums up what was seen and gives the likely
// reasons when nothing decoded.
//
// Units: levels are the front end's block levels (sum of the three tone-bin bytes, 0..765, or
// the 100 Hz detector's output for WWV); times are seconds of audio at 8000 samples per second.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/varnol_doc.h"

enum class LevelVerdict { Good, Weak, TooStrong, NoTone };
const char* VerdictKey(LevelVerdict v);  // "good", "weak", "too_strong", "no_tone"

// What the level judgement looks at, over one minute of blocks and samples.
struct LevelInputs {
  int station_mode = StationDcf77;
  int tone_level = 0;             // 90th percentile of the block levels
  double ceiling_fraction = 0.0;  // blocks whose tone measure sat at its ceiling
  double clip_fraction = 0.0;     // samples at the 16-bit limits (-32768 or 32767)
  bool tone_present = true;       // the spectrum shows a tone near the station's frequency
};

// Boundaries of the judgement. A tone at or above the ceiling in 1 % of the blocks, or one
// sample in 10 000 at the 16-bit limits, is too strong: the trackers' peak cannot rise above
// the measure's ceiling, so the threshold no longer sits between the carrier's two levels.
constexpr double TooStrongCeilingFraction = 0.01;
constexpr double TooStrongClipFraction = 1e-4;
constexpr int WeakToneLevel = 20;
constexpr int HighestCountedLevel = 4095;  // higher block levels are counted as this one  // below it the
                                           // level's byte steps are too coarse to read pulses

LevelVerdict JudgeLevel(const LevelInputs& in);
int LevelCeiling(int station_mode);      // 765, or 1536 (the peak tracker's cap) for WWV
double StationToneHz(int station_mode);  // 1000 Hz, or the 100 Hz subcarrier for WWV

// One minute of audio, judged.
struct SignalReport {
  double t = 0.0;  // seconds of audio at the end of the minute
  int station_mode = StationDcf77;
  LevelInputs level;
  LevelVerdict verdict = LevelVerdict::Good;
  double tone_hz = 0.0;                          // strongest frequency near the station's tone
  double strongest_hz = 0.0;                     // strongest frequency anywhere in 60..3940 Hz
  bool strongest_is_tone = false;                // that frequency stands 10 dB above the noise
  double snr_db = 0.0;                           // tone power over noise power in 0..4 kHz
  std::optional<double> card_blocks_per_minute;  // median interval between minute markers
  std::optional<double> gain_db;                 // the gain stage's gain, when there is one
  std::optional<double> found_hz;  // the receiver's own tone, when it was moved to tone_hz
  double shift_hz = 0.0;           // how far it was moved
  std::string text;                              // the words for a person
  std::string key;  // the words' gist: a new line is printed only when it changes
};
std::string DescribeSignal(const SignalReport& r);

// An accepted minute: UT hour and minute, and the block count at which it was accepted.
struct AcceptedMinute {
  int hour, minute;
  int64_t block;
};

struct OtherStationSeen {
  std::string name;    // "msf", ...
  int minute_markers;  // markers about a minute after the previous one
  int decoded;         // minutes accepted
};

struct SummaryInputs {
  int station_mode = StationDcf77;
  double minutes = 0.0;       // of audio
  int markers = 0;            // marker runs of the selected station ("mark" texts)
  int minute_markers = 0;     // of them, about a minute after the previous one
  int decoded = 0;            // minutes accepted by the clock step
  int clock_steps = 0;        // clock writes
  int disagreeing = 0;        // accepted minutes that do not follow the elapsed audio time
  double fading_depth = 0.0;  // 1 - weakest / strongest tone level, second by second
  std::vector<SignalReport> reports;
  std::vector<OtherStationSeen> others;
  double blocks_per_minute = DefaultBlocksPerMinute;  // the calibration in use
};

struct RunSummary {
  SummaryInputs in;
  std::vector<std::string> reasons;  // most likely first
};
RunSummary Summarise(const SummaryInputs& in);

// Estimated signal-to-noise ratios below this (dB) count as much noise.
double MuchNoiseDb(int station_mode);

// Fading deeper than this (the tone falling below 40 % of its strongest level) is reported.
constexpr double DeepFadingDepth = 0.6;

// The power spectrum of one frame of `Size` samples under a Hann window, |X[k]|^2 for
// k = 0 .. Size/2 (31.25 Hz apart at 8000 samples per second), added to a running sum.
class FramePower {
 public:
  static constexpr int Size = 256;
  FramePower();
  void AddTo(const int16_t* frame, std::array<double, Size / 2 + 1>& power);

 private:
  std::array<double, Size> re_{};
  std::array<double, Size> im_{};
  std::array<double, Size> hann_{};
  std::array<uint8_t, Size> reversed_{};  // each index with its 8 bits reversed
  // The twiddle factors e^(-2 pi i k / len) of each stage of `len` = 2, 4 .. Size points,
  // k = 0 .. len/2 - 1, side by side: those of the stage of `len` points begin at len/2 - 1.
  std::array<double, Size - 1> stage_re_{};
  std::array<double, Size - 1> stage_im_{};
};

class SignalHealth : public DocObserver {
 public:
  // `on_report` is called once a minute of audio with that minute's judgement.
  SignalHealth(const CVarnolDoc& doc, std::function<void(const SignalReport&)> on_report);

  void SetGainSource(std::function<double()> gain_db) { gain_db_ = std::move(gain_db); }
  // The receiver's tone was found at `found_hz` and moved by `shift_hz` before the front end,
  // keeping `half_width_hz` either side of it: the noise is then read within that band.
  void SetToneShift(double found_hz, double shift_hz, double half_width_hz) {
    found_hz_ = found_hz;
    shift_hz_ = shift_hz;
    band_half_width_hz_ = half_width_hz;
  }
  // Other stations' markers, filled in by whoever watches them, for the summary.
  void SetOtherStations(std::function<std::vector<OtherStationSeen>()> others) {
    others_ = std::move(others);
  }

  void OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                       int64_t capture_time_ns) override;
  void OnUpdate(int hint) override;
  void OnStatusText(const char* text) override;
  void OnClockWrite(const SYSTEMTIME& written, bool ok) override;
  void OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) override;

  // Judges a last partial minute (when it holds at least 20 s) and sums up the run.
  RunSummary Finish();

  const std::vector<SignalReport>& Reports() const { return reports_; }
  int MinuteMarkers() const { return minute_markers_; }

 private:
  static constexpr int FftSize = FramePower::Size;  // 31.25 Hz bins
  static constexpr int LevelBins = HighestCountedLevel + 1;
  void EndWindow();
  SignalReport Judge();

  const CVarnolDoc& doc_;
  std::function<void(const SignalReport&)> on_report_;
  std::function<double()> gain_db_;
  std::optional<double> found_hz_;
  double shift_hz_ = 0.0;
  double band_half_width_hz_ = 0.0;  // 0: the whole 0..4 kHz holds the receiver's noise
  std::optional<double> first_gain_db_;  // levels are compared at this gain for the fading
  std::function<std::vector<OtherStationSeen>()> others_;

  // The current minute.
  std::array<int, LevelBins> level_hist_{};
  int window_blocks_ = 0;
  int window_ceiling_ = 0;
  int64_t window_samples_ = 0;
  int64_t window_clipped_ = 0;
  std::array<double, FftSize / 2 + 1> power_{};  // summed |X|^2 of Hann-windowed frames
  int frames_ = 0;
  std::array<int16_t, FftSize> frame_{};
  int frame_fill_ = 0;
  int64_t frame_count_ = 0;  // whole frames seen, of which one in four is measured
  FramePower spectrum_;

  // The whole run.
  int64_t seen_block_ = 0;
  int64_t blocks_total_ = 0;
  int second_max_ = 0;  // highest level in the current second
  int second_blocks_ = 0;
  std::array<int, LevelBins> second_hist_{};  // highest level of each second
  int markers_ = 0;
  int minute_markers_ = 0;
  std::array<int, 64> intervals_{};  // the last minute-spaced marker intervals, blocks
  int interval_count_ = 0;
  int clock_steps_ = 0;
  // A daemon runs for months: only counts and the last accepted minute are kept of the run's
  // accepted minutes, and the reports of the last day or two (older ones are dropped a day at a
  // time), so memory stays flat however long it runs.
  static constexpr size_t KeptReports = 1440;  // minutes
  int accepted_count_ = 0;
  int disagreeing_ = 0;  // accepted minutes not as far from the previous one as the audio between
  bool have_accepted_ = false;
  AcceptedMinute last_accepted_{};
  std::vector<SignalReport> reports_;
  std::string last_key_;
};
