// SPDX-License-Identifier: GPL-3.0-or-later
#include "conditioning/conditioning.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "capture/recording_source.h"
#include "conditioning/level_probe.h"

namespace {
std::string Format(const char* fmt, auto... args) {
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}
// The same into `out`, whose capacity is kept: no allocation once it is large enough.
void FormatInto(std::string& out, const char* fmt, auto... args) {
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, args...);
  out.assign(buf);
}
constexpr size_t DecisionTextCapacity = 256;
// Stations whose audio is an AM receiver's: every tone in it stands where the station put it
// (WWV's 100 Hz code, CHU's 1000 Hz pulses and its modem tones), so nothing is moved.
bool AmAudio(int station_mode) {
  return station_mode == StationWwv || station_mode == StationChu;
}
}  // namespace

std::optional<ToneSetting> ParseToneSetting(const std::string& text) {
  if (text == "auto") return ToneSetting{ToneSetting::Mode::Auto, 0.0};
  if (text == "off") return ToneSetting{ToneSetting::Mode::Off, 0.0};
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double hz = std::strtod(text.c_str(), &end);
  // Up to a long-wave carrier sampled at 384 kHz.
  if (end == nullptr || *end != '\0' || !std::isfinite(hz) || hz < 100.0 || hz > 190000.0)
    return std::nullopt;
  return ToneSetting{ToneSetting::Mode::Fixed, hz};
}

void DecideToneInto(const ToneSetting& setting, const ToneFound& found, int station_mode, ToneDecision& d) {
  d.found = found;
  d.shifted = false;
  d.from_hz = 0.0;
  d.half_width_hz = 0.0;
  if (setting.mode == ToneSetting::Mode::Off) {
    d.text.assign("left as it is (measured at 1000 Hz)");
    return;
  }
  if (setting.mode == ToneSetting::Mode::Fixed) {
    if (std::fabs(setting.hz - FrontEndToneHz) < 0.5) {
      d.text.assign("1000 Hz as given, left where it is");
      return;
    }
    d.shifted = true;
    d.from_hz = setting.hz;
    FormatInto(d.text, "%.0f Hz as given, moved %+.0f Hz to 1000 Hz", setting.hz, d.ShiftHz());
    return;
  }
  if (station_mode == StationWwv) {
    d.text.assign("WWV/WWVH audio (AM): the 100 Hz code is measured where it is");
    return;
  }
  if (station_mode == StationChu) {
    d.text.assign("CHU audio (AM): the 1000 Hz pulses and the 2025/2225 Hz code are measured where they are");
    return;
  }
  if (!found.found) {
    FormatInto(d.text, "no tone keyed once a second in 300..3000 Hz in the first %.0f s; measured at 1000 Hz",
               found.seconds);
    return;
  }
  if (std::fabs(found.hz - FrontEndToneHz) <= ToneToleranceHz) {
    FormatInto(d.text, "found at %.0f Hz (%.0f dB above the noise), where the clock measures it", found.hz,
               found.above_noise_db);
    return;
  }
  d.shifted = true;
  d.from_hz = found.hz;
  FormatInto(d.text,
             "found at %.1f Hz (%.0f dB above the noise, keyed once a second), moved %+.1f Hz to 1000 Hz",
             found.hz, found.above_noise_db, d.ShiftHz());
}

ToneDecision DecideTone(const ToneSetting& setting, const ToneFound& found, int station_mode) {
  ToneDecision d;
  d.text.reserve(DecisionTextCapacity);
  DecideToneInto(setting, found, station_mode, d);
  return d;
}

bool CanLookAhead(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

LookAheadOutcome LookAheadRecording(const std::string& path, ChannelChoice channel, int station_mode,
                                    const ToneSetting& tone, bool want_gain, RecordingLookAhead& out,
                                    std::string& error) {
  error.clear();
  const auto samples = static_cast<size_t>(LookAheadSeconds * 8000.0);
  std::vector<int16_t> audio(samples);
  // Reads the first seconds at 8000 Hz through `filter`; how many samples came.
  auto read_start = [&](CaptureRateFilter* filter) -> size_t {
    auto r = RecordingSource::Open(path, error, channel);
    if (!r) return 0;
    out.file_rate = r->FileRate();
    r->SetRateFilter(filter);
    return r->Read(audio.data(), audio.size());
  };
  ToneFound found;
  if (tone.mode == ToneSetting::Mode::Auto && !AmAudio(station_mode)) {
    auto r = RecordingSource::Open(path, error, channel);
    if (!r) return LookAheadOutcome::CannotRead;
    out.file_rate = r->FileRate();
    // A fade can hide the tone for a while: each further stretch of LookAheadSeconds, up to
    // LookAheadMaxSeconds, is tried on its own until one shows the keyed tone.
    ToneFinder finder;
    double seen = 0.0;  // seconds
    while (!found.found && seen < LookAheadMaxSeconds) {
      const size_t n = r->Read(audio.data(), audio.size());
      if (n == 0) break;
      finder.Reset();
      finder.Add(audio.data(), static_cast<int>(n));
      found = finder.Result();
      seen += static_cast<double>(n) / 8000.0;
    }
    if (!found.found) found.seconds = seen;
  }
  out.tone = DecideTone(tone, found, station_mode);
  std::optional<ToneShift> shift;
  if (out.tone.shifted) {
    if (out.file_rate == 0) {
      auto r = RecordingSource::Open(path, error, channel);
      if (!r) return LookAheadOutcome::CannotRead;
      out.file_rate = r->FileRate();
    }
    if (!ToneShift::Fits(out.file_rate, out.tone.from_hz, FrontEndToneHz)) {
      error = Format(
          "a tone at %.0f Hz cannot be moved in a recording of %d samples a second (it must lie below "
          "%.0f Hz)",
          out.tone.from_hz, out.file_rate, out.file_rate / 2.0);
      return LookAheadOutcome::ToneOutOfReach;
    }
    shift.emplace(out.file_rate, out.tone.from_hz, FrontEndToneHz);
    out.tone.half_width_hz = ToneShift::HalfWidthFor(out.file_rate, out.tone.from_hz);
  }
  if (want_gain) {
    const size_t n = read_start(shift ? &*shift : nullptr);
    if (!error.empty()) return LookAheadOutcome::CannotRead;
    LevelProbe probe(station_mode);
    probe.Add(audio.data(), static_cast<int>(n));
    out.gain_db = LookAheadGainDb(probe, station_mode);
  }
  return LookAheadOutcome::Done;
}

LiveToneStage::LiveToneStage(const ToneSetting& setting, int station_mode)
    : setting_(setting), station_mode_(station_mode) {
  decision_.text.reserve(DecisionTextCapacity);
  if (setting.mode != ToneSetting::Mode::Auto || AmAudio(station_mode)) {
    decided_ = true;
    decision_ = DecideTone(setting, ToneFound{}, station_mode);
    if (decision_.shifted && ToneShift::Fits(8000.0, decision_.from_hz, FrontEndToneHz)) {
      shift_.emplace(8000.0, decision_.from_hz, FrontEndToneHz);
      decision_.half_width_hz = ToneShift::HalfWidthFor(8000.0, decision_.from_hz);
    }
  }
}

void LiveToneStage::Apply(int16_t* samples, int count) {
  if (!decided_.load(std::memory_order_relaxed)) {
    finder_.Add(samples, count);
    if (finder_.Seconds() >= DecideAfterSeconds) {
      // Into the text's kept room: deciding on the audio's path allocates nothing.
      DecideToneInto(setting_, finder_.Result(), station_mode_, decision_);
      if (decision_.shifted) {
        shift_.emplace(8000.0, decision_.from_hz, FrontEndToneHz);
        decision_.half_width_hz = ToneShift::HalfWidthFor(8000.0, decision_.from_hz);
      }
      decided_.store(true, std::memory_order_release);
    }
    return;
  }
  if (shift_) shift_->Process(samples, static_cast<size_t>(count));
}

void CardRateWatch::OnCaptureBuffer(const int16_t*, int, int64_t first_block, int64_t capture_time_ns) {
  if (capture_time_ns == 0) return;
  const int64_t sample = (first_block - 1) * BlockSize;
  if (first_sample_ < 0 || sample < last_sample_) {
    clock_.Reset();  // a new capture
    first_sample_ = sample;
  }
  last_sample_ = sample;
  clock_.Add(sample, capture_time_ns);
}

std::optional<int> CardRateWatch::BlocksPerMinute() const {
  if (first_sample_ < 0 || !clock_.Ready() || clock_.Doubtful() || clock_.Residual() > MaxResidualSeconds)
    return std::nullopt;
  if (static_cast<double>(last_sample_ - first_sample_) < MinSeconds * 8000.0) return std::nullopt;
  const long bpm = std::lround(clock_.Rate() * 60.0 / BlockSize);
  if (bpm < MinBlocksPerMinute || bpm > MaxBlocksPerMinute) return std::nullopt;
  return static_cast<int>(bpm);
}
