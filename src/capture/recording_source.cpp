// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/recording_source.h"

#include <fcntl.h>
#include <poll.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
constexpr size_t ChunkFrames = 4096;
// At most this many samples (all channels) are read at a time, whatever the header claims:
// 256 KB of floats.
constexpr size_t ChunkSamples = 65536;

// libsndfile reads a file whose data chunk is longer than the file up to its end, and notes
// the mismatch in its log as "<chunk> : <header's size> (should be <what is there>)": "data" for
// WAV, "SSND" for AIFF, "Data Size" for AU, and W64's outer "riff" (its data chunk is the last).
bool HeaderClaimsMore(SNDFILE* f) {
  char log[4096] = {};
  sf_command(f, SFC_GET_LOG_INFO, log, sizeof log);
  for (const char* line = log; line != nullptr && *line != 0;) {
    const char* end = std::strchr(line, '\n');
    std::string text(line, end != nullptr ? static_cast<size_t>(end - line) : std::strlen(line));
    text.erase(0, text.find_first_not_of(' '));
    // A size of 0 or 0xFFFFFFFF is a recorder's placeholder for "until the end", not a claim.
    unsigned long long claimed = 0;
    size_t key = 0;
    for (const char* k : {"data", "SSND", "Data Size", "riff"})
      if (text.rfind(k, 0) == 0) key = std::strlen(k);
    if (key != 0 && text.find("(should be") != std::string::npos &&
        std::sscanf(text.c_str() + key, " : %llu", &claimed) == 1 && claimed != 0 && claimed != 0xFFFFFFFFull)
      return true;
    line = end != nullptr ? end + 1 : nullptr;
  }
  return false;
}

// A compressed stream that stops without its last page (Ogg) says so in the log once it is read.
bool StreamStoppedShort(SNDFILE* f) {
  char log[4096] = {};
  sf_command(f, SFC_GET_LOG_INFO, log, sizeof log);
  return std::strstr(log, "ended unexpectedly") != nullptr;
}

// Opens a FIFO for reading without blocking in open(), and waits until a program writes into
// it (or has opened and closed it). The descriptor, or -1 with `error` set.
int OpenFifo(const std::string& path, const RecordingSource::WriterWait* wait, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return -1;
  }
  bool said = false;
  for (int waited_ms = 0;;) {
    pollfd p{fd, POLLIN, 0};
    const int step_ms = said ? 100 : 200;
    const int r = ::poll(&p, 1, step_ms);
    if (r > 0) break;  // audio, or a writer that has come and gone: read what is there
    if (r < 0 && errno != EINTR) {
      error = std::strerror(errno);
      ::close(fd);
      return -1;
    }
    if (r == 0) waited_ms += step_ms;
    if (!said && waited_ms >= 200) {
      said = true;
      if (wait != nullptr && wait->waiting) wait->waiting();
    }
    if (wait != nullptr && wait->cancelled && wait->cancelled()) {
      error = "no audio came into the FIFO before the program was stopped";
      ::close(fd);
      return -1;
    }
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}
}  // namespace

std::unique_ptr<RecordingSource> RecordingSource::Open(const std::string& path, std::string& error,
                                                       ChannelChoice channel, const WriterWait* wait) {
  SF_INFO info;
  std::memset(&info, 0, sizeof info);
  SNDFILE* f = nullptr;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
    const int fd = OpenFifo(path, wait, error);
    if (fd < 0) return nullptr;
    f = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);  // closed by libsndfile, on failure too
  } else {
    f = sf_open(path.c_str(), SFM_READ, &info);
  }
  if (f == nullptr) {
    error = sf_strerror(nullptr);
    if (error.empty()) error = "not a readable sound file";
    return nullptr;
  }
  if (info.samplerate < MinRate || info.samplerate > MaxRate) {
    sf_close(f);
    error = "its header gives a sample rate of " + std::to_string(info.samplerate) +
            " Hz; recordings from 4000 to 384000 Hz can be read";
    return nullptr;
  }
  if (info.frames <= 0 || info.channels <= 0) {
    sf_close(f);
    error = "the recording holds no audio";
    return nullptr;
  }
  std::unique_ptr<RecordingSource> r(new RecordingSource());
  r->channel_ = channel;
  r->ended_early_ = HeaderClaimsMore(f);
  r->chunk_frames_ = std::clamp<size_t>(ChunkSamples / static_cast<size_t>(info.channels), 1, ChunkFrames);
  r->file_ = f;
  r->rate_ = info.samplerate;
  r->channels_ = info.channels;
  r->frames_ = info.frames == SF_COUNT_MAX ? INT64_MAX : info.frames;
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
  r->shorts_ = info.samplerate == 8000 && (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
  if (r->shorts_) {
    r->out16_.resize(r->chunk_frames_);
    if (info.channels > 1) r->interleaved16_.resize(r->chunk_frames_ * static_cast<size_t>(info.channels));
  } else {
    r->interleaved_.resize(r->chunk_frames_ * static_cast<size_t>(info.channels));
    r->mono_.resize(ChunkFrames);
  }
  return r;
}

RecordingSource::~RecordingSource() {
  if (resampler_ != nullptr) soxr_delete(static_cast<soxr_t>(resampler_));
  if (file_ != nullptr) sf_close(static_cast<SNDFILE*>(file_));
}

bool RecordingSource::Refill() {
  out_.clear();
  out16_len_ = 0;
  out_pos_ = 0;
  if (file_done_ && (resampler_ == nullptr || flushed_)) return false;

  size_t got = 0;
  if (!file_done_) {
    // A mono 16-bit recording is read straight into the samples waiting to be read.
    const sf_count_t n = shorts_ ? sf_readf_short(static_cast<SNDFILE*>(file_),
                                                  channels_ == 1 ? out16_.data() : interleaved16_.data(),
                                                  static_cast<sf_count_t>(chunk_frames_))
                                 : sf_readf_float(static_cast<SNDFILE*>(file_), interleaved_.data(),
                                                  static_cast<sf_count_t>(chunk_frames_));
    if (n < 0 || sf_error(static_cast<SNDFILE*>(file_)) != SF_ERR_NO_ERROR) {
      read_error_ = sf_strerror(static_cast<SNDFILE*>(file_));
    }
    got = n > 0 ? static_cast<size_t>(n) : 0;
    frames_read_ += static_cast<int64_t>(got);
    if (got == 0) {
      file_done_ = true;
      // Fewer frames than the header counts (FLAC, or a WAV through a pipe whose length
      // libsndfile cannot check at the start), or a stream stopped in the middle.
      if (read_error_.empty() && (frames_read_ < frames_ && frames_ != INT64_MAX)) ended_early_ = true;
      if (StreamStoppedShort(static_cast<SNDFILE*>(file_))) ended_early_ = true;
    }
    if (shorts_) {
      if (channels_ > 1)
        for (size_t i = 0; i < got; ++i)
          out16_[i] = PickShort(interleaved16_.data() + i * static_cast<size_t>(channels_));
      out16_len_ = got;
      return got > 0;
    }
    for (size_t i = 0; i < got; ++i)
      mono_[i] = PickChannel(interleaved_.data() + i * static_cast<size_t>(channels_), channels_, channel_);
    if (rate_filter_ != nullptr && got > 0) rate_filter_->Process(mono_.data(), got);
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

int16_t RecordingSource::PickShort(const int16_t* frame) const {
  if (channels_ < 2 || channel_ != ChannelChoice::Mix) return PickChannel(frame, channels_, channel_);
  // The mean of the two sides rounded half away from zero, as the mean of the same samples read
  // as floats is rounded (a sum of -3 gives -2, of 3 gives 2).
  const int32_t sum = int32_t{frame[0]} + int32_t{frame[1]};
  return static_cast<int16_t>(sum >= 0 ? (sum + 1) / 2 : (sum - 1) / 2);
}

size_t RecordingSource::Read(int16_t* out, size_t count) {
  size_t n = 0;
  while (n < count) {
    const size_t ready = (shorts_ ? out16_len_ : out_.size()) - out_pos_;
    if (ready == 0) {
      if (!Refill()) break;
      continue;
    }
    const size_t take = std::min(ready, count - n);
    if (shorts_) {
      std::memcpy(out + n, out16_.data() + out_pos_, take * sizeof(int16_t));
    } else {
      for (size_t i = 0; i < take; ++i) {
        const float v = out_[out_pos_ + i] * 32768.0f;
        out[n + i] = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
      }
    }
    out_pos_ += take;
    n += take;
  }
  return n;
}
