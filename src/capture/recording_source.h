// A recording as the sound card's input: WAV, FLAC or anything libsndfile reads, any sample
// rate (resampled to 8000 Hz), stereo or more (the left channel is taken).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/sample_source.h"

class RecordingSource : public SampleSource {
 public:
  // Opens the file; on failure returns nullptr and a one-line reason in `error`.
  static std::unique_ptr<RecordingSource> Open(const std::string& path, std::string& error);
  ~RecordingSource() override;

  size_t Read(int16_t* out, size_t count) override;

  int FileRate() const { return rate_; }
  int64_t FileFrames() const { return frames_; }
  // A read error met while reading (empty when none).
  const std::string& ReadError() const { return read_error_; }

 private:
  RecordingSource() = default;
  bool Refill();

  void* file_ = nullptr;    // SNDFILE*
  void* resampler_ = nullptr;  // soxr_t, only when the file rate is not 8000
  int rate_ = 0;
  int channels_ = 0;
  int64_t frames_ = 0;
  bool file_done_ = false;
  bool flushed_ = false;
  std::string read_error_;
  std::vector<float> interleaved_;
  std::vector<float> mono_;
  std::vector<float> out_;   // samples at 8000 Hz waiting to be read
  size_t out_pos_ = 0;
};
