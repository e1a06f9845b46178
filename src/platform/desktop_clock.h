// Setting the PC clock the way a desktop allows it. A process that holds CAP_SYS_TIME writes
// the clock itself (clock_settime); any other asks the system's time service to do it
// (systemd-timedated over D-Bus, authorised by polkit: an administrator's password, or allowed
// for the active local session where the distribution says so). Asking may take as long as the
// user needs to type a password, so that request runs in the background and its outcome is
// reported later, on the thread that made it, through its main loop.
//
// Every outcome is told in plain words, so that a clock that could not be set never looks set.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/system_clock.h"

enum class ClockWriteOutcome {
  Written,        // the clock was set
  Requested,      // handed to the time service; its answer comes later
  NoPermission,   // neither CAP_SYS_TIME nor the time service's authorisation
  AutomaticSync,  // the time service refuses while network time synchronisation is on
  NoService,      // no system bus, or no time service on it
  Failed,         // anything else (`detail` says what)
};

struct ClockWriteResult {
  ClockWriteOutcome outcome = ClockWriteOutcome::Failed;
  std::string detail;            // the system's own words, for the curious ("" when none)
  int64_t step_usec = 0;         // microseconds the clock was (to be) moved: target minus clock
  bool through_service = false;  // the time service was asked (rather than clock_settime)
};

// One line with the reason: "PC clock set (+2.0 s)", "PC clock not set: no permission".
std::string ClockWriteStatus(const ClockWriteResult& r);
// The same in a few words, for the status bar's message line: "PC clock set (+2.0 s)",
// "Setting PC clock...", "PC clock not set".
std::string ClockWriteBrief(const ClockWriteResult& r);
// What went wrong and what the user can do about it, for a message box ("" for Written and
// Requested).
std::string ClockWriteAdvice(const ClockWriteResult& r);

// True when this process may set the clock itself (CAP_SYS_TIME in its effective set).
bool ProcessMaySetClock();

// A service that moves the clock on request, relative to whatever the clock reads when it
// carries the request out (so that a request held up by a password prompt still lands on
// the right second).
class ClockStepService {
 public:
  virtual ~ClockStepService() = default;
  // Starts a request to move the clock by `step_usec`; `done` is called later with the
  // outcome (never from inside this call). False, and nothing sent, while an earlier request
  // is still waiting for its answer.
  virtual bool RequestStep(int64_t step_usec, std::function<void(const ClockWriteResult&)> done) = 0;
};

// The PC clock of the window: reads through `base`; writes through `base` when `direct`
// (the process may set the clock), otherwise -- or when that write is refused for lack of
// permission -- through `service`. Every write's outcome goes to `report`, a request to the
// service once when it is sent (Requested) and again when its answer comes.
//
// SetSystemTime returns true only for a write that is done: a request still on its way
// returns false, and the caller learns of its success through `report`.
class DesktopSystemClock : public SystemClock {
 public:
  DesktopSystemClock(SystemClock& base, bool direct, ClockStepService* service,
                     std::function<void(const ClockWriteResult&)> report);

  int64_t Now() override { return base_.Now(); }
  LocalDateTime Local(int64_t t) override { return base_.Local(t); }
  int64_t LocalStandardToTime(const LocalDateTime& local) override {
    return base_.LocalStandardToTime(local);
  }
  SYSTEMTIME GetSystemTime() override { return base_.GetSystemTime(); }
  bool SetSystemTime(const SYSTEMTIME& st) override;

 private:
  SystemClock& base_;
  bool direct_;
  ClockStepService* service_;
  std::function<void(const ClockWriteResult&)> report_;
};
