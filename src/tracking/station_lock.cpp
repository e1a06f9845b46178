// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/station_lock.h"

#include <cmath>
#include <cstdio>

namespace {

// "2026-12-07T13:08:01Z"
std::string IsoSeconds(double unix_seconds) {
  const SYSTEMTIME t = SystemTimeFromUnix(static_cast<int64_t>(std::floor(unix_seconds)));
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond);
  return text;
}

}  // namespace

StationLock::StationLock(SystemClock& inner) : inner_(inner) {}

StationLock::~StationLock() = default;

void StationLock::Follow(const CVarnolDoc* doc) {
  doc_ = doc;
  if (guard_) guard_->SetOffset(doc_ != nullptr ? &doc_->PcClockOffset : nullptr);
  FollowStation();
}

void StationLock::FollowStation() {
  if (doc_ == nullptr || doc_->StationMode == station_) return;
  station_ = doc_->StationMode;
  guard_.reset();
  lock_ = std::make_unique<LockObserver>(station_);
  if (!lock_->Lock().Supported()) {
    lock_.reset();
    return;
  }
  guard_ = std::make_unique<GuardedClock>(inner_, *lock_, &doc_->PcClockOffset);
}

void StationLock::OnCaptureBuffer(const int16_t* samples, int count, int64_t first_block,
                                  int64_t capture_time_ns) {
  // A station changed since the lock was built: nothing until FollowStation builds its own.
  if (!lock_ || doc_ == nullptr || doc_->StationMode != station_) return;
  lock_->OnCaptureBuffer(samples, count, first_block, capture_time_ns);
}

void StationLock::OnUpdate(int hint) {
  if (lock_) lock_->OnUpdate(hint);
}

void StationLock::OnMinuteAccepted(int ut_hour, int ut_minute, int64_t block) {
  if (lock_ && doc_ != nullptr && doc_->StationMode == station_)
    lock_->OnMinuteAccepted(ut_hour, ut_minute, block);
}

bool StationLock::SetSystemTime(const SYSTEMTIME& st) {
  if (guard_ && doc_ != nullptr && doc_->StationMode == station_) return guard_->SetSystemTime(st);
  return inner_.SetSystemTime(st);
}

void StationLock::OnClockWrite(const SYSTEMTIME&, bool ok) {
  double written = 0.0, locked = 0.0;
  if (ok || !guard_ || !guard_->TakeRefusal(&written, &locked)) return;
  refused_ = true;
  refused_written_ = written;
  refused_locked_ = locked;
  ++refusals_;
}

const RobustLock* StationLock::Lock() const {
  return lock_ ? &lock_->Lock() : nullptr;
}

bool StationLock::TakeRefusal(std::string* text) {
  if (!refused_) return false;
  refused_ = false;
  *text = "clock write of " + IsoSeconds(refused_written_) + " refused: the robust lock has " +
          IsoSeconds(refused_locked_);
  return true;
}

std::string StationLock::Describe() const {
  std::string out = "Robust lock: ";
  if (!lock_) return out + "none for this station";
  const LockStatus s = lock_->Lock().Status();
  char text[200];
  const SYSTEMTIME minute = SystemTimeFromUnix(s.minute_utc);
  switch (s.state) {
    case LockState::Searching: out += "looking for the seconds"; break;
    case LockState::Phasing:
      std::snprintf(text, sizeof text, "following the seconds, finding the minute (margin %.0f of %.0f nats)",
                    s.phase_margin, RobustLock::PhaseMargin);
      out += text;
      break;
    case LockState::Timing:
      std::snprintf(text, sizeof text,
                    "weighing the time of day, %d minute%s of evidence (margin %.0f of %.0f nats)", s.minutes,
                    s.minutes == 1 ? "" : "s", s.margin, TimeCandidates::LockMargin);
      out += text;
      break;
    case LockState::Locked:
    case LockState::Holdover:
      std::snprintf(text, sizeof text,
                    "%s, last minute %02d:%02d UT, %d minute%s of evidence, margin %.0f nats",
                    s.state == LockState::Locked ? "locked" : "locked, holding over on the capture clock",
                    minute.wHour, minute.wMinute, s.minutes, s.minutes == 1 ? "" : "s", s.margin);
      out += text;
      break;
  }
  if (refusals_ > 0)
    out += "; " + std::to_string(refusals_) + " clock write" + (refusals_ == 1 ? "" : "s") +
           " refused for contradicting it";
  return out;
}
