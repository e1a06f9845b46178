// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/queued_wave_input.h"

#include <cmath>
#include <cstring>

static uintptr_t NextHandle() {
  static std::atomic<uintptr_t> next{1};
  return next.fetch_add(1);
}

MMRESULT QueuedWaveInput::waveInOpen(HWAVEIN* handle, unsigned int device_id,
                                     const WAVEFORMATEX* format, uintptr_t, uintptr_t, uint32_t) {
  if (handle == nullptr || format == nullptr) return MMSYSERR_INVALPARAM;
  if (device_id != WAVE_MAPPER && device_id != 0) return MMSYSERR_BADDEVICEID;
  if (open_) return MMSYSERR_ALLOCATED;
  if (format->wFormatTag != WAVE_FORMAT_PCM || format->nChannels != 1 ||
      format->wBitsPerSample != 16 || format->nBlockAlign != 2)
    return WAVERR_BADFORMAT;
  const MMRESULT r = OnOpen(*format);
  if (r != MMSYSERR_NOERROR) return r;
  open_ = true;
  handle_ = NextHandle();
  head_.store(0);
  tail_.store(0);
  fill_bytes_ = 0;
  delivered_.store(0);
  *handle = handle_;
  return MMSYSERR_NOERROR;
}

MMRESULT QueuedWaveInput::waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header, unsigned int size) {
  if (!HandleValid(handle)) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || size < sizeof(WAVEHDR) || header->lpData == nullptr)
    return MMSYSERR_INVALPARAM;
  header->dwFlags.fetch_or(WHDR_PREPARED);
  return MMSYSERR_NOERROR;
}

MMRESULT QueuedWaveInput::waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header, unsigned int size) {
  if (!HandleValid(handle)) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  if (header->dwFlags.load() & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header->dwFlags.fetch_and(~WHDR_PREPARED);
  return MMSYSERR_NOERROR;
}

MMRESULT QueuedWaveInput::waveInAddBuffer(HWAVEIN handle, WAVEHDR* header, unsigned int size) {
  if (!HandleValid(handle)) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  if ((header->dwFlags.load() & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
  if (header->dwFlags.load() & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  const size_t tail = tail_.load(std::memory_order_relaxed);
  if (tail - head_.load(std::memory_order_acquire) >= QueueSize) return MMSYSERR_NOMEM;
  header->dwBytesRecorded.store(0);
  header->dwFlags.store((header->dwFlags.load() & ~WHDR_DONE) | WHDR_INQUEUE,
                        std::memory_order_release);
  queue_[tail % QueueSize] = header;
  tail_.store(tail + 1, std::memory_order_release);
  return MMSYSERR_NOERROR;
}

MMRESULT QueuedWaveInput::waveInStart(HWAVEIN handle) {
  if (!HandleValid(handle)) return MMSYSERR_INVALHANDLE;
  if (running_.load()) return MMSYSERR_NOERROR;
  running_.store(true, std::memory_order_release);
  const MMRESULT r = OnStart();
  if (r != MMSYSERR_NOERROR) running_.store(false);
  return r;
}

MMRESULT QueuedWaveInput::waveInReset(HWAVEIN handle) {
  if (!HandleValid(handle)) return MMSYSERR_INVALHANDLE;
  if (running_.exchange(false)) OnStop();
  // Every queued buffer comes back marked done, with what it holds so far.
  size_t head = head_.load();
  const size_t tail = tail_.load();
  bool first = true;
  while (head != tail) {
    WAVEHDR* h = queue_[head % QueueSize];
    h->dwBytesRecorded.store(first ? static_cast<uint32_t>(fill_bytes_) : 0);
    h->dwFlags.store((h->dwFlags.load() & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_release);
    first = false;
    ++head;
  }
  head_.store(head);
  fill_bytes_ = 0;
  return MMSYSERR_NOERROR;
}

MMRESULT QueuedWaveInput::waveInClose(HWAVEIN handle) {
  if (!HandleValid(handle)) return MMSYSERR_INVALHANDLE;
  if (head_.load() != tail_.load()) return WAVERR_STILLPLAYING;
  if (running_.exchange(false)) OnStop();
  OnClose();
  open_ = false;
  handle_ = 0;
  return MMSYSERR_NOERROR;
}

void QueuedWaveInput::SetBufferDoneNotifier(std::function<void()> notify) {
  // The backend's thread reads it without a lock: it may change only while no capture runs.
  if (!running_.load()) notify_ = std::move(notify);
}

bool QueuedWaveInput::HasQueuedBuffer() const {
  return head_.load(std::memory_order_acquire) != tail_.load(std::memory_order_acquire);
}

size_t QueuedWaveInput::Deliver(const int16_t* samples, size_t count) {
  size_t used = 0;
  bool any_done = false;
  while (used < count) {
    const size_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) break;  // nothing queued: samples lost
    WAVEHDR* h = queue_[head % QueueSize];
    if (fill_bytes_ == 0) {
      h->CaptureTimeNs = delivery_ns_ == 0 ? 0
                                           : delivery_ns_ + static_cast<int64_t>(std::llround(
                                                                static_cast<double>(used) * ns_per_sample_));
    }
    const size_t room = (h->dwBufferLength - fill_bytes_) / sizeof(int16_t);
    const size_t n = room < count - used ? room : count - used;
    std::memcpy(h->lpData + fill_bytes_, samples + used, n * sizeof(int16_t));
    fill_bytes_ += n * sizeof(int16_t);
    used += n;
    if (fill_bytes_ + sizeof(int16_t) > h->dwBufferLength) {
      h->dwBytesRecorded.store(static_cast<uint32_t>(fill_bytes_));
      fill_bytes_ = 0;
      head_.store(head + 1, std::memory_order_release);
      // The done flag is set last: the samples are in place before the reader sees it.
      h->dwFlags.store((h->dwFlags.load() & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_release);
      any_done = true;
    }
  }
  delivery_ns_ = 0;  // a stamp belongs to one delivery only
  delivered_.fetch_add(static_cast<int64_t>(used), std::memory_order_release);
  if (any_done && notify_) notify_();
  return used;
}
