#include "capture/source_wave_input.h"

#include <chrono>

SourceWaveInput::SourceWaveInput(std::unique_ptr<SampleSource> source, Pacing pacing)
    : source_(std::move(source)), pacing_(pacing) {}

SourceWaveInput::~SourceWaveInput() { OnStop(); }

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
  stop_.store(true);
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
  // 128 samples at 8000 per second: one block every 16 ms of wall-clock time.
  const auto period = std::chrono::microseconds(16000);
  auto next = clock::now();
  while (!stop_.load()) {
    const size_t n = source_->Read(chunk_, 128);
    if (n > 0) Deliver(chunk_, n);
    if (n < 128) {
      at_end_.store(true);
      return;
    }
    next += period;
    std::this_thread::sleep_until(next);
  }
}
