// SPDX-License-Identifier: GPL-3.0-or-later
// StationLock: the robust lock, and its guard on the clock step, for a program whose station
// may change while it runs (the window's Transmitter menu).
//
// The document is built with a StationLock as its clock: reads pass through to the clock it
// wraps, and a write goes through the GuardedClock of the lock for the document's present
// station (refused when it contradicts a confident lock). As an observer of the same document
// it hands each capture buffer to that lock. A change of station builds a new lock in
// FollowStation, which the owner calls outside the per-buffer path (a timer): the per-buffer
// path allocates nothing, and until the new lock is built the buffers go to none and every write
// passes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/varnol_doc.h"
#include "platform/system_clock.h"
#include "tracking/lock_guard.h"

class StationLock : public DocObserver, public SystemClock {
 public:
  explicit StationLock(SystemClock& inner);
  ~StationLock() override;

  // The document whose station is followed and whose PC clock offset the guard adds; nullptr
  // lets go of it.
  void Follow(const CVarnolDoc* doc);
  // Builds the lock for the document's station when that changed since the last call.
  void FollowStation();

  void OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                       int64_t capture_time_ns) override;
  void OnUpdate(int hint) override;
  void OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) override;
  void OnClockWrite(const SYSTEMTIME& written, bool ok) override;

  int64_t Now() override { return inner_.Now(); }
  LocalDateTime Local(int64_t t) override { return inner_.Local(t); }
  int64_t LocalStandardToTime(const LocalDateTime& local) override {
    return inner_.LocalStandardToTime(local);
  }
  SYSTEMTIME GetSystemTime() override { return inner_.GetSystemTime(); }
  bool SetSystemTime(const SYSTEMTIME& st) override;

  // The lock of the present station (nullptr: none yet, or none for this station).
  const RobustLock* Lock() const;
  // The last write refused since the last call, in words: "clock write of
  // 2026-12-07T13:08:01Z refused: the robust lock has 2026-12-07T12:08:01Z" (both as the
  // clock takes them: UT plus the PC clock offset).
  bool TakeRefusal(std::string* text);
  int64_t Refusals() const { return refusals_; }
  // One line for the signal report: "Robust lock: locked, last minute 13:07 UT, 6 minutes of
  // evidence, margin 54 nats", or what it is still looking for.
  std::string Describe() const;

 private:
  SystemClock& inner_;
  const CVarnolDoc* doc_ = nullptr;
  int station_ = -1;  // the station `lock_` was built for
  std::unique_ptr<LockObserver> lock_;
  std::unique_ptr<GuardedClock> guard_;
  bool refused_ = false;
  double refused_written_ = 0.0, refused_locked_ = 0.0;  // Unix seconds
  int64_t refusals_ = 0;
};
