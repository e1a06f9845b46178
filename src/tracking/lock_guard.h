// SPDX-License-Identifier: GPL-3.0-or-later
// The robust lock beside the document's loop, and the guard it puts on the clock step.
//
// LockObserver: a DocObserver fed the same capture buffers as the document. Its own second-epoch
// estimator follows the seconds' phase; the robust lock reads the buffers along it. It reads,
// never writes, the document's state.
//
// GuardedClock: the SystemClock the document is given, around the real one. A write of the
// system time that is more than ContradictSeconds away from what a confident lock says it is
// now (plus the user's offset from UT) is not made: SetSystemTime answers false, as for any
// write the system refused, and the refusal with both times waits in TakeRefusal. Everything
// else passes through unchanged, and so does every write while there is no lock, unless the
// owner asks that such writes wait for one (SetWaitForLock: a write the lock has no evidence
// for is then held back too, for a station the lock reads, and waits in TakeHeldBack).
//
// RWM sends no time of day: its clock step snaps the clock to the nearest whole minute at each
// minute mark it detects, and a false mark more than half a minute from the true one puts the
// clock a minute off for good (every true mark after it rounds to the same wrong minute). While
// the lock is fed, such a snap is made only where the lock's minute phase agrees: the write
// lands within MarkAgreeSeconds of the second of the minute the phase gives now. A snap while
// the phase is not yet sure is refused as well (its locked time is then unknown: NaN).
#pragma once

#include <cstdint>

#include "app/varnol_doc.h"
#include "platform/system_clock.h"
#include "timing/second_epochs.h"
#include "tracking/robust_lock.h"

class LockObserver : public DocObserver {
 public:
  explicit LockObserver(int station_mode);

  void OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                       int64_t capture_time_ns) override;
  void OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) override;
  void OnUpdate(int hint) override;

  const RobustLock& Lock() const { return lock_; }
  RobustLock& Lock() { return lock_; }
  // UTC (seconds, with a fraction) at the end of the newest buffer, while locked.
  bool UtcNow(double* utc) const;
  // Where the end of the newest buffer lies in its minute by the sure minute phase (seconds,
  // 0..60).
  bool SecondOfMinuteNow(double* seconds) const;
  // Buffers have reached the lock since the capture began (it is running).
  bool Fed() const { return fed_; }

 private:
  SecondEpochs epochs_;
  SecondEpochs::Line line_;  // the seconds' line after the newest buffer
  RobustLock lock_;
  double newest_sample_ = 0.0;  // one past the newest buffer's last sample
  bool fed_ = false;
};

class GuardedClock : public SystemClock {
 public:
  // `pc_offset_hours`: the document's PcClockOffset, read at each write (the clock takes UT
  // plus that offset).
  GuardedClock(SystemClock& inner, const LockObserver& lock, const double* pc_offset_hours)
      : inner_(inner), lock_(lock), offset_(pc_offset_hours) {}

  void SetOffset(const double* pc_offset_hours) { offset_ = pc_offset_hours; }

  int64_t Now() override { return inner_.Now(); }
  LocalDateTime Local(int64_t t) override { return inner_.Local(t); }
  int64_t LocalStandardToTime(const LocalDateTime& local) override {
    return inner_.LocalStandardToTime(local);
  }
  SYSTEMTIME GetSystemTime() override { return inner_.GetSystemTime(); }
  bool SetSystemTime(const SYSTEMTIME& st) override;

  // The last write refused since the last call: the time it would have written and the time
  // the lock gives (both as the clock would take them, UT plus the offset; Unix seconds; for
  // RWM the written time moved onto the minute's phase, NaN while the phase is not sure).
  bool TakeRefusal(double* written, double* locked);

  // Writes while the lock has no time (it is still looking, or lost it) are held back, for a
  // station the lock reads. Off unless set: the clock step's own rule then decides them.
  void SetWaitForLock(bool wait) { wait_for_lock_ = wait; }
  // The last write held back for want of a lock since the last call: the time it would have
  // written (UT plus the offset; Unix seconds).
  bool TakeHeldBack(double* written);

  // A right write lands within a few seconds of the lock (the clock step writes second 01 of
  // the minute it has just accepted); a wrong one is a minute or more away.
  static constexpr double ContradictSeconds = 30.0;
  // A snap at a true minute mark writes second 01 about a second after the mark began, the
  // detection's delay; one at a false mark lands a whole number of seconds away from that.
  static constexpr double MarkAgreeSeconds = 0.6;

 private:
  bool Refuse(double written, double locked);

  SystemClock& inner_;
  const LockObserver& lock_;
  const double* offset_;
  bool refused_ = false;
  double refused_written_ = 0.0, refused_locked_ = 0.0;
  bool wait_for_lock_ = false;
  bool held_back_ = false;
  double held_back_written_ = 0.0;
};
