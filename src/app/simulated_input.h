// SPDX-License-Identifier: GPL-3.0-or-later
// What the clock window runs on when it is given the simulated receiver or a recording instead
// of the sound card: a PC clock that the program may "set" without touching the machine's, and
// the simulated station heard live.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "capture/sample_source.h"
#include "platform/linux_clock.h"
#include "simulator/receiver.h"

// The machine's time plus the corrections the program has written; nothing outside the
// process changes.
class SandboxClock : public LibcLocalTime {
 public:
  // `wall_ms`: milliseconds since 1970 (the machine's clock unless a test gives another).
  explicit SandboxClock(std::function<int64_t()> wall_ms = nullptr);
  int64_t Now() override;
  SYSTEMTIME GetSystemTime() override;
  bool SetSystemTime(const SYSTEMTIME& st) override;
  int64_t AdjustMilliseconds() const { return adjust_ms_; }

 private:
  int64_t NowMs();
  std::function<int64_t()> wall_ms_;
  int64_t adjust_ms_ = 0;
};

// A simulated station whose broadcast follows the wall clock: the receiver is tuned in when
// reading starts, and again whenever reading resumes after a pause (a stop of the capture),
// so that the signal always carries the current time. Read runs on the capture thread.
class LiveStation : public SampleSource {
 public:
  // `station` as MakeEncoder names it; `wall_ms` as for SandboxClock.
  LiveStation(std::string station, ReceiverSettings settings,
              std::function<int64_t()> wall_ms = nullptr);
  size_t Read(int16_t* out, size_t count) override;
  // How many times the receiver has been tuned in.
  int Tunings() const { return tunings_; }

  static constexpr int64_t ResumeGapMs = 1000;

 private:
  std::string station_;
  ReceiverSettings settings_;
  std::function<int64_t()> wall_ms_;
  std::unique_ptr<SimulatedReceiver> receiver_;
  int64_t last_read_ms_ = 0;
  int tunings_ = 0;
};

int64_t WallClockMilliseconds();
