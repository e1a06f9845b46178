#include "capture/recording_source.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr size_t ChunkFrames = 4096;
}

std::unique_ptr<RecordingSource> RecordingSource::Open(const std::string& path, std::string& error) {
  SF_INFO info;
  std::memset(&info, 0, sizeof info);
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) {
    error = sf_strerror(nullptr);
    if (error.empty()) error = "not a readable sound file";
    return nullptr;
  }
  if (info.frames <= 0 || info.channels <= 0 || info.samplerate <= 0) {
    sf_close(f);
    error = "the recording holds no audio";
    return nullptr;
  }
  std::unique_ptr<RecordingSource> r(new RecordingSource());
  r->file_ = f;
  r->rate_ = info.samplerate;
  r->channels_ = info.channels;
  r->frames_ = info.frames;
  if (info.samplerate != 8000) {
    soxr_error_t e = nullptr;
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    r->resampler_ = soxr_create(info.samplerate, 8000.0, 1, &e, &io, &q, nullptr);
    if (e != nullptr) {
      error = std::string("cannot resample from ") + std::to_string(info.samplerate) + " Hz: " + e;
      return nullptr;
    }
  }
  r->interleaved_.resize(ChunkFrames * static_cast<size_t>(info.channels));
  r->mono_.resize(ChunkFrames);
  return r;
}

RecordingSource::~RecordingSource() {
  if (resampler_ != nullptr) soxr_delete(static_cast<soxr_t>(resampler_));
  if (file_ != nullptr) sf_close(static_cast<SNDFILE*>(file_));
}

bool RecordingSource::Refill() {
  out_.clear();
  out_pos_ = 0;
  if (file_done_ && (resampler_ == nullptr || flushed_)) return false;

  size_t got = 0;
  if (!file_done_) {
    const sf_count_t n = sf_readf_float(static_cast<SNDFILE*>(file_), interleaved_.data(),
                                        static_cast<sf_count_t>(ChunkFrames));
    if (n < 0 || sf_error(static_cast<SNDFILE*>(file_)) != SF_ERR_NO_ERROR) {
      read_error_ = sf_strerror(static_cast<SNDFILE*>(file_));
    }
    got = n > 0 ? static_cast<size_t>(n) : 0;
    if (got == 0) file_done_ = true;
    for (size_t i = 0; i < got; ++i) mono_[i] = interleaved_[i * static_cast<size_t>(channels_)];
  }

  if (resampler_ == nullptr) {
    out_.assign(mono_.begin(), mono_.begin() + static_cast<std::ptrdiff_t>(got));
    return !out_.empty();
  }
  // Room for the resampled chunk, plus what the filter still holds.
  const size_t room = got * 8000 / static_cast<size_t>(rate_) + 1024;
  out_.resize(room);
  size_t done = 0;
  soxr_t s = static_cast<soxr_t>(resampler_);
  if (got > 0) {
    soxr_process(s, mono_.data(), got, nullptr, out_.data(), room, &done);
  } else {
    soxr_process(s, nullptr, 0, nullptr, out_.data(), room, &done);  // flush
    flushed_ = true;
  }
  out_.resize(done);
  return !out_.empty() || !(file_done_ && flushed_);
}

size_t RecordingSource::Read(int16_t* out, size_t count) {
  size_t n = 0;
  while (n < count) {
    if (out_pos_ >= out_.size()) {
      if (!Refill()) break;
      continue;
    }
    const float v = out_[out_pos_++] * 32768.0f;
    out[n++] = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
  }
  return n;
}
