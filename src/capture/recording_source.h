// SPDX-License-Identifier: GPL-3.0-or-later
// A recording as the sound card's input: WAV, FLAC or anything libsndfile reads, any sample
// rate from 4 kHz to 384 kHz (resampled to 8000 Hz), mono, or stereo and more with the left
// or right channel taken or the first two mixed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/channel_choice.h"
#include "capture/sample_source.h"

class RecordingSource : public SampleSource {
 public:
  // Opens the file; on failure returns nullptr and a one-line reason in `error`.
  static std::unique_ptr<RecordingSource> Open(const std::string& path, std::string& error,
                                               ChannelChoice channel = ChannelChoice::Left);

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
  bool EndedEarly() const { return ended_early_; }

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
  int64_t frames_ = 0;
  bool file_done_ = false;
  bool flushed_ = false;
  bool ended_early_ = false;
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
