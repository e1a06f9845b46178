// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/other_stations.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/linux_clock.h"

namespace {

const char* const ShortNames[] = {"msf", "hbg", "dcf77", "wwvb", "vng", "rwm", "wwv", "jjy", "chu"};
static_assert(std::size(ShortNames) == StationCount);

// A wave input that the shadow's owner fills by hand: every call succeeds, a queued buffer
// waits until its samples are copied in and its done flag set.
class HandFedWave : public WaveInput {
 public:
  MMRESULT waveInOpen(HWAVEIN* handle, unsigned int, const WAVEFORMATEX*, uintptr_t, uintptr_t,
                      uint32_t) override {
    *handle = 1;
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInPrepareHeader(HWAVEIN, WAVEHDR* h, unsigned int) override {
    h->dwFlags.fetch_or(WHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInUnprepareHeader(HWAVEIN, WAVEHDR* h, unsigned int) override {
    h->dwFlags.fetch_and(~WHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInAddBuffer(HWAVEIN, WAVEHDR* h, unsigned int) override {
    h->dwFlags.fetch_and(~WHDR_DONE);
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInStart(HWAVEIN) override { return MMSYSERR_NOERROR; }
  MMRESULT waveInReset(HWAVEIN) override { return MMSYSERR_NOERROR; }
  MMRESULT waveInClose(HWAVEIN) override { return MMSYSERR_NOERROR; }
};

class SilentErrors : public WaveErrorDialog {
 public:
  void ShowModal(const std::string&, const std::string&) override {}
};

}  // namespace

struct OtherStations::Shadow : DocObserver {
  explicit Shadow(int mode) : clock(0), doc(wave, clock, errors) {
    doc.StationMode = mode;
    doc.AutoSetClock = 0;  // a shadow never writes even its own simulated clock
    doc.AddObserver(this);
    doc.StartCapture();
  }
  ~Shadow() override {
    doc.RemoveObserver(this);
    // Closed without the stop's snapshot file: the shadow must leave no trace on disk.
    doc.Stopped = 1;
    doc.CloseWaveDevice();
  }
  void OnStatusText(const char* text) override {
    int interval = 0;
    if (std::sscanf(text, "mark %d", &interval) == 1 && interval >= 3600 && interval <= 3900)
      minute_markers += 1;
  }
  void OnMinuteAccepted(int, int, int64_t) override { decoded += 1; }

  HandFedWave wave;
  SimulatedClock clock;
  SilentErrors errors;
  CVarnolDoc doc;
  int minute_markers = 0;
  int decoded = 0;
};

OtherStations::OtherStations(int station_mode, const CVarnolDoc* measured_by) : measured_by_(measured_by) {
  for (int mode = 0; mode < StationCount; ++mode)
    if (mode != station_mode && StationSupported(mode)) shadows_.push_back(std::make_unique<Shadow>(mode));
}

OtherStations::~OtherStations() = default;

void OtherStations::OnCaptureBuffer(const int16_t* samples, int count, int64_t, int64_t) {
  pending_ = false;
  if (count != BufferSamples || (wanted_ && !wanted_())) return;
  for (auto& s : shadows_) {
    CVarnolDoc& d = s->doc;
    if (d.Stopped != 0) continue;
    std::memcpy(d.CaptureBuffers[d.CurrentBuffer], samples, sizeof(int16_t) * BufferSamples);
    d.WaveHeaders[d.CurrentBuffer].dwFlags.fetch_or(WHDR_DONE, std::memory_order_release);
    if (measured_by_ == nullptr) d.ProcessCaptureBuffer();
  }
  // The clock's document measures the buffer after this call and says so with a new-buffer
  // update.
  pending_ = measured_by_ != nullptr;
}

void OtherStations::OnUpdate(int hint) {
  if (hint != UPDATE_HINT_NEW_BUFFER || !pending_) return;
  pending_ = false;
  for (auto& s : shadows_) s->doc.ProcessCaptureBuffer(measured_by_);
}

std::vector<OtherStationSeen> OtherStations::Seen() const {
  std::vector<OtherStationSeen> out;
  for (const auto& s : shadows_)
    out.push_back({ShortNames[s->doc.StationMode], s->minute_markers, s->decoded});
  return out;
}
