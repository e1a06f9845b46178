// SPDX-License-Identifier: GPL-3.0-or-later
// A recording as the sound card's input: WAV, FLAC or anything libsndfile reads, any sample
// rate from 4 kHz to 384 kHz (resampled to 8000 Hz), mono, or stereo and more with the left
// or right channel taken or the first two mixed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/channel_choice.h"
#include "capture/sample_source.h"

class RecordingSource : public SampleSource {
 public:
  // A FIFO named as the recording gives no audio until a program writes into it. Open waits
  // for that: `waiting` is called once when no audio has come within a fifth of a second, then
  // `cancelled` every tenth of a second (an empty one waits for as long as it takes).
  struct WriterWait {
    std::function<void()> waiting;
    std::function<bool()> cancelled;
  };

  // Opens the file; on failure returns nullptr and a one-line reason in `error`.
  static std::unique_ptr<RecordingSource> Open(const std::string& path, std::string& error,
                                               ChannelChoice channel = ChannelChoice::Left,
                                               const WriterWait* wait = nullptr);

  // Sample rates a recording may have: a header outside them is damaged or absurd.
  static constexpr int MinRate = 4000;    // Hz
  static constexpr int MaxRate = 384000;  // Hz
  ~RecordingSource() override;

  size_t Read(int16_t* out, size_t count) override;

  int FileRate() const { return rate_; }
  int64_t FileFrames() const { return frames_; }
  // A read error met while reading (empty when none).
  const std::string& ReadError() const { return read_error_; }
  // The file is shorter than its header says (a recording cut short): what is there is read.
  // Known at the start for a file whose header gives its length in bytes, at the end for one
  // whose frames run out before the header's count or whose stream stops in the middle.
  bool EndedEarly() const { return ended_early_; }
  // Runs `filter` (not owned; nullptr for none) over the samples at the file's own rate, before
  // they are resampled. Set before the first Read.
  void SetRateFilter(CaptureRateFilter* filter) { rate_filter_ = filter; }

 private:
  RecordingSource() = default;
  bool Refill();
  int16_t PickShort(const int16_t* frame) const;  // one frame of a 16-bit recording

  void* file_ = nullptr;    // SNDFILE*
  void* resampler_ = nullptr;  // soxr_t, only when the file rate is not 8000
  int rate_ = 0;
  int channels_ = 0;
  ChannelChoice channel_ = ChannelChoice::Left;
  size_t chunk_frames_ = 0;  // frames read at a time: fewer for a file with many channels
  int64_t frames_ = 0;       // the header's count; INT64_MAX when the header gives none
  int64_t frames_read_ = 0;
  bool file_done_ = false;
  bool flushed_ = false;
  bool ended_early_ = false;
  CaptureRateFilter* rate_filter_ = nullptr;
  std::string read_error_;
  // A 16-bit recording at 8000 Hz is read as its own samples, with neither a conversion to
  // floats and back nor resampling; any other is read as floats (and resampled when needed).
  bool shorts_ = false;
  std::vector<float> interleaved_;
  std::vector<float> mono_;
  std::vector<float> out_;   // samples at 8000 Hz waiting to be read
  std::vector<int16_t> interleaved16_;
  std::vector<int16_t> out16_;  // the same, for a 16-bit recording at 8000 Hz: the first
  size_t out16_len_ = 0;        // out16_len_ of them
  size_t out_pos_ = 0;
};
