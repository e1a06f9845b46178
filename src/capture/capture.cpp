// SPDX-License-Identifier: GPL-3.0-or-later
// Start and stop of the sound card's recording side, the wave-error message and the snapshot
// of the last quarter second of audio written on every stop.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/varnol_doc.h"
#include "platform/atomic_file.h"

namespace {

void PutU16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>(v >> 8);
}

void PutU32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

void PutSamples(unsigned char* p, const int16_t* samples, int count) {
  for (int i = 0; i < count; ++i) PutU16(p + 2 * i, static_cast<uint16_t>(samples[i]));
}

}  // namespace

const char* CVarnolDoc::WaveErrorReason(MMRESULT code) {
  switch (code) {
    case MMSYSERR_BADDEVICEID: return "The sound device does not exist";
    case MMSYSERR_ALLOCATED: return "Another program is using the sound device";
    case MMSYSERR_INVALHANDLE: return "The specified wave handle is invalid";
    case MMSYSERR_NODRIVER: return "No sound driver is present";
    case MMSYSERR_NOMEM: return "Unable to allocate or lock memory";
    case WAVERR_BADFORMAT: return "Your sound card does not support the audio format";
    case WAVERR_UNPREPARED: return "The buffer has not been prepared";
    default: return "";  // MMSYSERR_NOTENABLED (3) and codes without a text
  }
}

void CVarnolDoc::ShowWaveError(const char* operation, MMRESULT code) {
  Errors.ShowModal(operation, WaveErrorReason(code));
}

void CVarnolDoc::StartCapture() {
  if (Stopped == 0) return;
  SetStatusText("decoding... ");

  CaptureFormat = WAVEFORMATEX{};
  CaptureFormat.wFormatTag = WAVE_FORMAT_PCM;
  CaptureFormat.nChannels = 1;
  CaptureFormat.nSamplesPerSec = 8000;
  CaptureFormat.nAvgBytesPerSec = 16000;
  CaptureFormat.nBlockAlign = 2;
  CaptureFormat.wBitsPerSample = 16;
  CaptureFormat.cbSize = 0;

  WaveHandle = 0;
  const MMRESULT open = Wave.waveInOpen(&WaveHandle, WAVE_MAPPER, &CaptureFormat, 0, 0, 0);
  if (open != MMSYSERR_NOERROR) {
    ShowWaveError("On opening the wave device..", open);
    WaveHandle = 0;
  } else {
    for (int i = 0; i < CaptureBufferCount; ++i) {
      WAVEHDR& h = WaveHeaders[i];
      h.lpData = reinterpret_cast<char*>(CaptureBuffers[i]);
      h.dwBufferLength = BufferSamples * sizeof(int16_t);
      h.dwBytesRecorded.store(0);
      h.dwUser = 0;
      h.dwFlags.store(0);
      h.dwLoops = 0;
    }
    // Each failing call is reported and the next one is made regardless.
    bool all_buffers_queued = true;
    for (int i = 0; i < CaptureBufferCount; ++i) {
      const MMRESULT prep = Wave.waveInPrepareHeader(WaveHandle, &WaveHeaders[i], sizeof(WAVEHDR));
      if (prep != MMSYSERR_NOERROR) {
        ShowWaveError("On preparing buffer ..", prep);
        all_buffers_queued = false;
      }
      const MMRESULT add = Wave.waveInAddBuffer(WaveHandle, &WaveHeaders[i], sizeof(WAVEHDR));
      if (add != MMSYSERR_NOERROR) {
        ShowWaveError("On adding buffer ..", add);
        all_buffers_queued = false;
      }
    }

    // Recording starts only with both buffers queued; a device that is not started is closed
    // again, so that the next Start can open it.
    bool started = false;
    if (all_buffers_queued) {
      const MMRESULT start = Wave.waveInStart(WaveHandle);
      if (start != MMSYSERR_NOERROR) {
        ShowWaveError("On starting recording..", start);
      } else {
        started = true;
      }
    }
    if (started) {
      Stopped = 0;
      DisplayColumn = 0;
      TracesValid = 1;
      CaptureStarted = 1;
      UpdateAllViews(UPDATE_HINT_CAPTURE_STARTED);
    } else {
      CloseWaveDevice();
    }
  }

  ResetSyncDetector();
  // CHU's frames are paired by the audio between them: none is paired across a pause.
  ChuDemod.Reset();
  ChuLastValid = 0;
  ChuAnchorEnd = -1.0;
  ChuYearEnd = -1.0;
  BlocksSinceMarker = -1;
}

void CVarnolDoc::StopCapture() {
  if (Stopped != 0) return;
  Stopped = 1;
  CloseWaveDevice();
  int error = 0;
  LastSnapshot =
      SnapshotPath.empty() ? SnapshotOutcome::NotAsked : WriteSnapshotFile(SnapshotPath.c_str(), error);
  if (!destroying_)
    for (DocObserver* o : observers_)
      if (o != nullptr) o->OnSnapshot(LastSnapshot, SnapshotPath.c_str(), error);
  TracesValid = 1;
}

bool CVarnolDoc::ProtectFromSnapshot(const std::string& path) {
  struct stat st {};
  protect_known_ = ::stat(path.c_str(), &st) == 0;
  protect_device_ = protect_known_ ? static_cast<uint64_t>(st.st_dev) : 0;
  protect_inode_ = protect_known_ ? static_cast<uint64_t>(st.st_ino) : 0;
  return protect_known_;
}

void CVarnolDoc::CloseWaveDevice() {
  // The driver hands back both buffers; the results are not examined.
  Wave.waveInReset(WaveHandle);
  for (auto& h : WaveHeaders) {
    if ((h.dwFlags.load() & WHDR_PREPARED) != 0)
      Wave.waveInUnprepareHeader(WaveHandle, &h, sizeof(WAVEHDR));
  }
  Wave.waveInClose(WaveHandle);
  WaveHandle = 0;
}

bool CVarnolDoc::WriteRecordingSnapshot(const char* path) const {
  int error = 0;
  return WriteSnapshotFile(path, error) == SnapshotOutcome::Written;
}

SnapshotOutcome CVarnolDoc::WriteSnapshotFile(const char* path, int& error) const {
  error = 0;
  // RIFF/WAVE, 8000 Hz, 16-bit mono: 46 bytes of header and 4096 bytes of samples -- the first
  // half of the buffer due next, then the first half of the other one.
  constexpr int HalfBuffer = BufferSamples / 2;  // samples
  unsigned char bytes[4142];
  std::memcpy(bytes + 0, "RIFF", 4);
  PutU32(bytes + 4, 4134);
  std::memcpy(bytes + 8, "WAVE", 4);
  std::memcpy(bytes + 12, "fmt ", 4);
  PutU32(bytes + 16, 18);
  PutU16(bytes + 20, CaptureFormat.wFormatTag);
  PutU16(bytes + 22, CaptureFormat.nChannels);
  PutU32(bytes + 24, CaptureFormat.nSamplesPerSec);
  PutU32(bytes + 28, CaptureFormat.nAvgBytesPerSec);
  PutU16(bytes + 32, CaptureFormat.nBlockAlign);
  PutU16(bytes + 34, CaptureFormat.wBitsPerSample);
  PutU16(bytes + 36, CaptureFormat.cbSize);
  std::memcpy(bytes + 38, "data", 4);
  PutU32(bytes + 42, 4096);
  PutSamples(bytes + 46, CaptureBuffers[CurrentBuffer], HalfBuffer);
  PutSamples(bytes + 46 + 2 * HalfBuffer, CaptureBuffers[(CurrentBuffer + 1) % CaptureBufferCount],
             HalfBuffer);

  // The recording being played is never replaced by its own last quarter second.
  struct stat st {};
  if (protect_known_ && ::stat(path, &st) == 0 && static_cast<uint64_t>(st.st_dev) == protect_device_ &&
      static_cast<uint64_t>(st.st_ino) == protect_inode_)
    return SnapshotOutcome::WouldReplaceInput;

  // A file is written beside the target under a fresh name and renamed over it, so that it is
  // whole or untouched; the temporary file is created exclusively and never through a link. A
  // FIFO or device in the target's place is written through, never replaced.
  error = WriteOutputFile(path, std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes),
                          SnapshotWaitsForReader);
  if (error != 0) return SnapshotOutcome::CannotWrite;
  return SnapshotOutcome::Written;
}
