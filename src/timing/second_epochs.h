// SPDX-License-Identifier: GPL-3.0-or-later
// SecondEpochs: where each second's on-time marker begins in the captured samples, to a small
// fraction of a millisecond, and which UTC second it is.
//
// A second consumer of the capture beside the document's processing loop: it reads each buffer
// (OnCaptureBuffer) and each minute the clock step accepted (OnMinuteAccepted), never the
// document's state. For every second it finds the marker's start in the raw 8 kHz samples (the
// carrier's drop for the long-wave stations, the 5 ms tick of WWV/WWVH, the second tick of VNG,
// the onset of CHU's 1000 Hz pulse), fits the positions of a window of seconds against their
// second numbers with a robust line (the card's rate may be off by 0.1 % or more), and labels
// the seconds from accepted minutes.
//
// Labels are only handed out while locked: three accepted minutes agree with one another and
// with the running count of seconds, the marker shapes about the minute's edge (a missing
// second 59, a long minute marker) confirm at least two of them, and nothing has disagreed
// since. A break in the audio, a disagreement, a station change, a fade that loses the seconds
// or the last minute of June or December (a leap second may end it) drops the lock; no epoch is
// handed out until it is regained. A wrong label is never handed out knowingly: chrony cannot
// detect a sample one second off.
//
// The label's date is the one nearest the buffers' capture time (the machine's clock when the
// buffers carry no stamp).
//
// Units: `sample` counts samples since the capture's first sample (index 0 is the first sample
// of the buffer whose first_block is 1); `utc` is Unix seconds.
//
// Per-buffer path: no allocation after construction, no blocking.
//
// For the owner that forwards the document's events: forward OnUpdate as well (a new capture
// must restart the count even when the buffers carry no time stamps), and call SetStation when
// the document's StationMode changes; without that, a station change is only noticed through
// lost markers or a disagreeing minute.
#pragma once

#include <cstdint>
#include <memory>

#include "app/varnol_doc.h"

struct SecondEpoch {
  int64_t utc = 0;       // the second's label: Unix seconds UTC of its on-time marker
  double sample = 0.0;   // where that marker begins: samples since the capture's first sample
                         // (fractional; robust estimate over a window, outliers rejected)
  double quality = 0.0;  // 0..1
};

class SecondEpochs : public DocObserver {
 public:
  explicit SecondEpochs(int station_mode);  // StationModes value; RWM: seconds only, no epochs
  ~SecondEpochs() override;
  SecondEpochs(const SecondEpochs&) = delete;
  SecondEpochs& operator=(const SecondEpochs&) = delete;

  void OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                       int64_t capture_time_ns) override;
  void OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) override;
  // A capture that starts again (hint UPDATE_HINT_CAPTURE_STARTED) breaks the count of
  // seconds: the samples before and after the pause are not one stream.
  void OnUpdate(int hint) override;
  // The document's station changed (its StationMode): the seconds and their labels start
  // afresh. The owner calls it when it sees the document's StationMode differ from the last.
  void SetStation(int station_mode);

  // Labelled epochs ready since the last call, oldest first; only while locked (the label rules
  // hold); copies at most `max`, returns how many. No allocation after construction.
  int TakeEpochs(SecondEpoch* out, int max);
  bool Locked() const;
  // While the seconds are followed (labelled or not): where one of them begins, in samples
  // since the capture's first sample as SecondEpoch::sample, and their length in samples (the
  // card's measured rate). `following` is false while searching.
  struct Line {
    bool following = false;
    double sample = 0.0;
    double rate = 0.0;
  };
  Line SecondLine() const;
  // A short word for messages: "searching" (for the seconds), "locking" (seconds followed,
  // labels not yet sure), "locked", or "unsupported" (RWM).
  const char* State() const;
  // Decoded minutes in the present chain that agree with one another and with the count of
  // seconds (three, two of them confirmed by the marker shapes, lock the labels).
  int AgreeingMinutes() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
