// A wave-input device fed from a sample source instead of a sound card: a recording or the
// simulated receiver. Pumped by hand (as fast as the caller likes) or paced in real time by
// a thread of its own, as a sound card would be.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "capture/queued_wave_input.h"
#include "capture/sample_source.h"


class SourceWaveInput : public QueuedWaveInput {
 public:
  enum class Pacing { Manual, RealTime };
  SourceWaveInput(std::unique_ptr<SampleSource> source, Pacing pacing = Pacing::Manual);
  ~SourceWaveInput() override;

  // Manual pacing: fills queued buffers until one more is done. False at the end of the input
  // (a last partial buffer is dropped) or when nothing is queued or running.
  bool Pump();
  bool AtEnd() const { return at_end_.load(); }

 protected:
  MMRESULT OnOpen(const WAVEFORMATEX& format) override;
  MMRESULT OnStart() override;
  void OnStop() override;
  void OnClose() override;

 private:
  void PacedLoop();

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
