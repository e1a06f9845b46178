// SPDX-License-Identifier: GPL-3.0-or-later
// A wave-input device fed from a sample source instead of a sound card: a recording or the
// simulated receiver. Pumped by hand (as fast as the caller likes) or paced in real time by
// a thread of its own, as a sound card would be.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "capture/queued_wave_input.h"
#include "capture/sample_source.h"


// How the buffers of a recording or of the simulated receiver are stamped with system time,
// as a sound-card driver would stamp them. The driver reads the clock when a chunk is handed
// over, `latency_s` after the chunk's last sample, with `jitter_s` of scatter either way; it
// knows its own latency and the card's rate and subtracts the latency and the chunk's length
// again (as a sound card's ADC time does), so the jitter is what remains for the capture
// clock's line to remove.
struct CaptureStamps {
  int64_t first_ns = 0;               // system time of the first sample; 0: buffers unstamped
  double samples_per_second = 8000.0; // the card's true rate against the system clock
  double latency_s = 0.0;
  double jitter_s = 0.0;              // +- this, uniformly
  uint64_t seed = 1;
};

class SourceWaveInput : public QueuedWaveInput {
 public:
  enum class Pacing { Manual, RealTime };
  SourceWaveInput(std::unique_ptr<SampleSource> source, Pacing pacing = Pacing::Manual);
  ~SourceWaveInput() override;

  // Manual pacing: fills queued buffers until one more is done. False at the end of the input
  // (a last partial buffer is dropped) or when nothing is queued or running.
  bool Pump();
  bool AtEnd() const { return at_end_.load(); }
  // Stamps every buffer from then on; with real-time pacing, the buffers also come at the
  // stamps' rate. Set before the capture starts.
  void SetCaptureStamps(const CaptureStamps& stamps);

 protected:
  MMRESULT OnOpen(const WAVEFORMATEX& format) override;
  MMRESULT OnStart() override;
  void OnStop() override;
  void OnClose() override;

 private:
  void PacedLoop();
  void StampNext(size_t count);  // before delivering `count` samples

  CaptureStamps stamps_;
  std::mt19937_64 stamp_rng_{1};
  int64_t stamped_ = 0;  // samples handed over so far

  std::unique_ptr<SampleSource> source_;
  Pacing pacing_;
  std::atomic<bool> at_end_{false};
  std::atomic<bool> stop_{false};
  std::mutex stop_mutex_;  // the pacing thread's sleep, ended early by a stop
  std::condition_variable stop_cv_;
  std::thread thread_;
  int16_t chunk_[128] = {};    // manual pumping
  int16_t paced_[2048] = {};   // real-time pacing, one buffer a period
};
