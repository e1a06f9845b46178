// SPDX-License-Identifier: GPL-3.0-or-later
// The buffer queue that every wave-input backend shares. The user-interface thread queues
// buffers (waveInAddBuffer); the backend's own thread fills the oldest queued buffer with
// Deliver() and marks it done. The queue is a single-producer, single-consumer ring of
// header pointers, so neither side ever waits for the other.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

#include "capture/wave_input.h"

class QueuedWaveInput : public WaveInput {
 public:
  MMRESULT waveInOpen(HWAVEIN* handle, unsigned int device_id, const WAVEFORMATEX* format,
                      uintptr_t callback, uintptr_t instance, uint32_t flags) override;
  MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header, unsigned int size) override;
  MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header, unsigned int size) override;
  MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header, unsigned int size) override;
  MMRESULT waveInStart(HWAVEIN handle) override;
  MMRESULT waveInReset(HWAVEIN handle) override;
  MMRESULT waveInClose(HWAVEIN handle) override;
  void SetBufferDoneNotifier(std::function<void()> notify) override;

  bool IsOpen() const { return open_; }
  bool IsRunning() const { return running_.load(std::memory_order_acquire); }
  // Samples delivered into buffers since the device was opened.
  int64_t SamplesDelivered() const { return delivered_.load(std::memory_order_acquire); }

 protected:
  // Backend hooks, called on the user-interface thread.
  virtual MMRESULT OnOpen(const WAVEFORMATEX& format) = 0;
  virtual MMRESULT OnStart() = 0;
  virtual void OnStop() = 0;  // the backend's thread no longer calls Deliver afterwards
  virtual void OnClose() = 0;

  // Called on the backend's thread: copies samples into the queued buffers, marking each done
  // when full. Returns how many samples found room; the rest are lost (no buffer queued).
  size_t Deliver(const int16_t* samples, size_t count);
  // The system time (CLOCK_REALTIME, ns since 1970) of the first sample the next Deliver call
  // hands over, and the nominal time from one sample to the next: every buffer that starts
  // filling within that call is stamped from them (WAVEHDR::CaptureTimeNs). Without a call,
  // buffers are stamped 0 (unknown).
  void SetDeliveryTime(int64_t first_sample_ns, double ns_per_sample) {
    delivery_ns_ = first_sample_ns;
    ns_per_sample_ = ns_per_sample;
  }
  bool HasQueuedBuffer() const;

 private:
  static constexpr size_t QueueSize = 8;
  bool HandleValid(HWAVEIN handle) const { return open_ && handle == handle_; }

  bool open_ = false;
  HWAVEIN handle_ = 0;
  std::atomic<bool> running_{false};
  WAVEHDR* queue_[QueueSize] = {};
  std::atomic<size_t> head_{0};  // next to fill (consumer: backend thread)
  std::atomic<size_t> tail_{0};  // next free slot (producer: user-interface thread)
  size_t fill_bytes_ = 0;        // bytes already in the head buffer
  std::atomic<int64_t> delivered_{0};
  int64_t delivery_ns_ = 0;  // backend thread only
  double ns_per_sample_ = 125000.0;
  std::function<void()> notify_;  // set while the device is closed
};
