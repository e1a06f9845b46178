// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/source_wave_input.h"

#include <chrono>
#include <cmath>

SourceWaveInput::SourceWaveInput(std::unique_ptr<SampleSource> source, Pacing pacing)
    : source_(std::move(source)), pacing_(pacing) {}

SourceWaveInput::~SourceWaveInput() { OnStop(); }

void SourceWaveInput::SetCaptureStamps(const CaptureStamps& stamps) {
  stamps_ = stamps;
  if (!(stamps_.samples_per_second > 1000.0)) stamps_.samples_per_second = 8000.0;
  stamp_rng_.seed(stamps.seed);
  stamped_ = 0;
}

void SourceWaveInput::StampNext(size_t count) {
  if (stamps_.first_ns != 0) {
    std::uniform_real_distribution<double> scatter(-stamps_.jitter_s, stamps_.jitter_s);
    const double rate = stamps_.samples_per_second;
    // The driver's clock reading, then its own correction back to the chunk's first sample.
    const double read = static_cast<double>(stamped_ + static_cast<int64_t>(count)) / rate +
                        stamps_.latency_s + (stamps_.jitter_s > 0.0 ? scatter(stamp_rng_) : 0.0);
    const double first = read - stamps_.latency_s - static_cast<double>(count) / rate;
    SetDeliveryTime(stamps_.first_ns + static_cast<int64_t>(std::llround(first * 1e9)), 1e9 / rate);
  }
  stamped_ += static_cast<int64_t>(count);
}

MMRESULT SourceWaveInput::OnOpen(const WAVEFORMATEX& format) {
  if (format.nSamplesPerSec != 8000) return WAVERR_BADFORMAT;
  return MMSYSERR_NOERROR;
}

MMRESULT SourceWaveInput::OnStart() {
  if (pacing_ == Pacing::RealTime) {
    stop_.store(false);
    thread_ = std::thread([this] { PacedLoop(); });
  }
  return MMSYSERR_NOERROR;
}

void SourceWaveInput::OnStop() {
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    stop_.store(true);
  }
  stop_cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void SourceWaveInput::OnClose() {}

bool SourceWaveInput::Pump() {
  if (!IsRunning() || at_end_.load()) return false;
  // One buffer's worth of 2048 samples, read in small chunks straight into the queue.
  size_t pumped = 0;
  while (pumped < 2048) {
    if (!HasQueuedBuffer()) return false;
    const size_t n = source_->Read(chunk_, 128);
    StampNext(n);
    if (n > 0) Deliver(chunk_, n);
    pumped += n;
    if (n < 128) {
      at_end_.store(true);
      return false;
    }
  }
  return true;
}

void SourceWaveInput::PacedLoop() {
  using clock = std::chrono::steady_clock;
  // A sound card hands over its audio in periods; here one period is a whole capture buffer,
  // 2048 samples at 8000 per second every 256 ms, so the thread wakes four times a second.
  constexpr size_t Period = 2048;  // samples
  // Buffers come at the card's rate when stamps give one, else at 8000 samples a second.
  const auto period = std::chrono::nanoseconds(
      std::llround(static_cast<double>(Period) * 1e9 /
                   (stamps_.first_ns != 0 ? stamps_.samples_per_second : 8000.0)));
  auto next = clock::now() + period;
  while (!stop_.load()) {
    {
      // Sleep until the period is over, or until a stop wakes us at once.
      std::unique_lock<std::mutex> lock(stop_mutex_);
      if (stop_cv_.wait_until(lock, next, [this] { return stop_.load(); })) return;
    }
    const size_t n = source_->Read(paced_, Period);
    StampNext(n);
    if (n > 0) Deliver(paced_, n);
    if (n < Period) {
      at_end_.store(true);
      return;
    }
    next += period;
  }
}
