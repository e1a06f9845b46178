// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/varnol_doc.h"

#include <cmath>
#include <cstdio>
#include <cstring>

CVarnolDoc::CVarnolDoc(WaveInput& wave, SystemClock& clock, WaveErrorDialog& errors,
                       SettingsStore* settings)
    : Wave(wave), Clock(clock), Errors(errors), Settings(settings) {
  std::snprintf(StatusText, sizeof StatusText, "%s", "Ready to start");

  // Both capture buffers live as long as the document.
  for (auto& buffer : CaptureBuffers) buffer = new int16_t[BufferSamples]();

  // Twiddle factors and analysis window of the 128-point transform, both ends included.
  // The angle uses 3.1415926536, not the full-precision pi.
  for (int k = 0; k <= 128; ++k) {
    const double angle = 2.0 * 3.1415926536 * k / 128.0;
    CosTable[k] = std::cos(angle);
    NegSinTable[k] = -std::sin(angle);
  }

  if (Settings != nullptr) Settings->Load(*this);
  SanitizeSettings();
  BuildUtOffsetLabel();
}

CVarnolDoc::~CVarnolDoc() {
  destroying_ = true;  // observers may already be gone: the last stop tells nobody
  if (Stopped == 0) StopCapture();
  for (auto& buffer : CaptureBuffers) {
    delete[] buffer;
    buffer = nullptr;
  }
  if (Settings != nullptr) Settings->Save(*this);
}

void CVarnolDoc::SanitizeSettings() {
  if (StationMode < 0 || StationMode >= StationCount) StationMode = StationMsf;
  if (BlocksPerMinute < MinBlocksPerMinute || BlocksPerMinute > MaxBlocksPerMinute)
    BlocksPerMinute = DefaultBlocksPerMinute;
  if (!std::isfinite(PcClockOffset) || PcClockOffset < -13.0 || PcClockOffset > 13.0)
    PcClockOffset = 0.0;
  if (AutoSetClock != 0 && AutoSetClock != 1) AutoSetClock = 0;
}

void CVarnolDoc::BuildUtOffsetLabel() {
  std::snprintf(UtOffsetLabel, sizeof UtOffsetLabel, "%c%04.1lf", PcClockOffset < 0 ? '-' : '+',
                std::fabs(PcClockOffset));
}

bool CVarnolDoc::OnIdle(long count, bool framework_busy) {
  if (framework_busy) return true;
  if (count > 10) ProcessCaptureBuffer();
  return true;
}

void CVarnolDoc::ProcessCaptureBuffer() { ProcessCaptureBuffer(nullptr); }

void CVarnolDoc::ProcessCaptureBuffer(const CVarnolDoc* measured_by) {
  if (Stopped != 0) return;
  WAVEHDR& header = WaveHeaders[CurrentBuffer];
  if ((header.dwFlags.load(std::memory_order_acquire) & WHDR_DONE) == 0) return;

  // A calibration or station that reached the document out of range (a damaged setting, a
  // caller's mistake) must not break the ring arithmetic or the decoder choice.
  if (BlocksPerMinute < MinBlocksPerMinute || BlocksPerMinute > MaxBlocksPerMinute ||
      StationMode < 0 || StationMode >= StationCount) {
    SanitizeSettings();
  }

  if (InputFilter != nullptr) InputFilter->Apply(CaptureBuffers[CurrentBuffer], BufferSamples);
  const int16_t* samples = CaptureBuffers[CurrentBuffer];
  for (DocObserver* o : observers_)
    if (o != nullptr) o->OnCaptureBuffer(samples, BufferSamples, BlocksProcessed + 1, header.CaptureTimeNs);
  const bool measured = measured_by != nullptr && measured_by->StationMode != StationWwv;
  // The column of the buffer's first block in `measured_by`'s traces.
  int measured_column = measured ? measured_by->DisplayColumn - BufferSamples / BlockSize : 0;
  if (measured_column < 0) measured_column += TraceColumns;
  for (int s = 0; s + BlockSize <= BufferSamples; s += BlockSize) {
    BlocksProcessed += 1;
    if (StationMode == StationWwv) {
      RunSyncDetector(samples + s);
    } else if (measured) {
      std::memcpy(SpectrumTrace[DisplayColumn], measured_by->SpectrumTrace[measured_column], SpectrumBins);
      LevelTrace[DisplayColumn] = measured_by->LevelTrace[measured_column];
      measured_column = (measured_column + 1) % TraceColumns;
    } else {
      LevelStep(samples + s);
    }
    DecisionStep();
    if (StationMode == StationChu) ChuDemodulate(samples + s);
    DecodeBlock();
    RingIndex = (RingIndex + 1) % BlocksPerMinute;
    if (BlocksSinceMarker != -1) BlocksSinceMarker += 1;
    DisplayColumn = (DisplayColumn + 1) % TraceColumns;
  }

  const MMRESULT requeued = Wave.waveInAddBuffer(WaveHandle, &header, sizeof(WAVEHDR));
  CurrentBuffer = (CurrentBuffer + 1) % CaptureBufferCount;
  UpdateAllViews(UPDATE_HINT_NEW_BUFFER);
  // A buffer the device will not take back would leave the capture waiting for ever while
  // the panes say "decoding...": the device is lost, so the capture stops.
  if (requeued != MMSYSERR_NOERROR) StopCapture();
}

void CVarnolDoc::DecodeBlock() {
  switch (StationMode) {
    case StationMsf: DecodeMsf(); break;
    case StationHbg: DecodeHbg(); break;
    case StationDcf77: DecodeDcf77(); break;
    case StationWwvb: DecodeWwvb(); break;
    case StationVng: DecodeVng(); break;
    case StationRwm: DetectRwmMark(); break;
    case StationWwv: DecodeWwv(); break;
    case StationJjy: DecodeJjy(); break;
    case StationChu: DecodeChu(); break;
    default: break;
  }
}

void CVarnolDoc::SetStatusText(const char* text) {
  if (text != StatusText) std::snprintf(StatusText, sizeof StatusText, "%s", text);
  for (DocObserver* o : observers_)
    if (o != nullptr) o->OnStatusText(StatusText);
}

void CVarnolDoc::SetSyncOffset(int64_t seconds) {
  const bool changed = seconds != SyncOffset;
  SyncOffset = seconds;
  if (!changed) return;
  for (DocObserver* o : observers_)
    if (o != nullptr) o->OnSyncOffset(seconds);
}

void CVarnolDoc::NotifyMinuteAccepted(int ut_hour, int ut_minute, int64_t block) {
  if (block == ThisBlock) block = BlocksProcessed;
  for (DocObserver* o : observers_)
    if (o != nullptr) o->OnMinuteAccepted(ut_hour, ut_minute, block);
}

void CVarnolDoc::UpdateAllViews(int hint) {
  for (DocObserver* o : observers_)
    if (o != nullptr) o->OnUpdate(hint);
}

void CVarnolDoc::NotifyClockWrite(const SYSTEMTIME& written, bool ok) {
  for (DocObserver* o : observers_)
    if (o != nullptr) o->OnClockWrite(written, ok);
}

void CVarnolDoc::AddObserver(DocObserver* observer) {
  for (DocObserver*& o : observers_) {
    if (o == observer) return;
  }
  for (DocObserver*& o : observers_) {
    if (o == nullptr) {
      o = observer;
      return;
    }
  }
}

void CVarnolDoc::RemoveObserver(DocObserver* observer) {
  for (DocObserver*& o : observers_)
    if (o == observer) o = nullptr;
}
