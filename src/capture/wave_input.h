// SPDX-License-Identifier: GPL-3.0-or-later
// The sound card's recording side, as a wave-input device with two queued buffers.
//
// The calls, header flags and numeric result codes are those of the Windows multimedia
// wave-input interface, so the capture code reads the same whichever backend fills the
// buffers: PortAudio, a recording, or the simulated receiver. A backend fills the oldest
// queued buffer completely, sets its done flag last (release order), and moves on to the
// next; the clock program polls the done flag and never waits.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

using MMRESULT = unsigned int;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr unsigned int WAVE_MAPPER = 0xFFFFFFFFu;  // device id -1: the default input
constexpr uint16_t WAVE_FORMAT_PCM = 1;

constexpr uint32_t WHDR_DONE = 0x00000001;
constexpr uint32_t WHDR_PREPARED = 0x00000002;
constexpr uint32_t WHDR_INQUEUE = 0x00000010;

#pragma pack(push, 1)
// The 18-byte wave format block, exactly as it is stored in a RIFF "fmt " chunk.
struct WAVEFORMATEX {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// A buffer header. The flags are written by the backend's thread and read by the
// user-interface thread, hence atomic; everything else is set before the buffer is queued.
struct WAVEHDR {
  char* lpData = nullptr;
  uint32_t dwBufferLength = 0;  // bytes
  std::atomic<uint32_t> dwBytesRecorded{0};
  uintptr_t dwUser = 0;
  std::atomic<uint32_t> dwFlags{0};
  uint32_t dwLoops = 0;
  // CLOCK_REALTIME of the buffer's first sample as the sound card took it, nanoseconds since
  // 1970 UTC; 0 when the backend cannot tell. Written before the done flag is set (release).
  int64_t CaptureTimeNs = 0;
};

// Opaque device handle; 0 is no device.
using HWAVEIN = uintptr_t;

class WaveInput {
 public:
  virtual ~WaveInput() = default;

  virtual MMRESULT waveInOpen(HWAVEIN* handle, unsigned int device_id, const WAVEFORMATEX* format,
                              uintptr_t callback, uintptr_t instance, uint32_t flags) = 0;
  virtual MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header, unsigned int size) = 0;
  virtual MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header, unsigned int size) = 0;
  virtual MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header, unsigned int size) = 0;
  virtual MMRESULT waveInStart(HWAVEIN handle) = 0;
  virtual MMRESULT waveInReset(HWAVEIN handle) = 0;
  virtual MMRESULT waveInClose(HWAVEIN handle) = 0;

  // Called (from any thread) whenever a buffer has been marked done, so that a window
  // program can wake its idle processing instead of polling. Optional.
  virtual void SetBufferDoneNotifier(std::function<void()> notify) { (void)notify; }
};
