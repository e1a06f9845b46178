// The system's time service, systemd-timedated, on the system bus (org.freedesktop.timedate1):
// SetTime(x usec_utc, b relative, b interactive) moves the clock when polkit allows it. The
// call is made in the background through GIO; its answer is handled by the GLib main loop of
// the thread that asked (the window's own loop), so nothing waits for a password being typed.
//
// The bus is the one GIO calls the system bus: DBUS_SYSTEM_BUS_ADDRESS when it is set (a
// private bus in tests), the machine's system bus otherwise.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/desktop_clock.h"

class TimedatedClockService : public ClockStepService {
 public:
  // `interactive`: polkit may ask the user for a password (the desktop's authentication agent).
  // After a refusal for want of permission it is not asked again in the same run.
  explicit TimedatedClockService(bool interactive = true);
  // A request still on its way is cancelled: its `done` is never called.
  ~TimedatedClockService() override;
  TimedatedClockService(const TimedatedClockService&) = delete;
  TimedatedClockService& operator=(const TimedatedClockService&) = delete;

  bool RequestStep(int64_t step_usec, std::function<void(const ClockWriteResult&)> done) override;

  // How long the service is given to answer, password prompt included (milliseconds).
  static constexpr int AnswerTimeoutMs = 180000;

  struct Request;  // one call on its way (shared with GIO's callbacks)

 private:
  bool interactive_;  // the next request may ask for a password
  std::shared_ptr<Request> pending_;
};

// The outcome a D-Bus error name stands for (timedated's own errors, polkit's, the bus's).
ClockWriteOutcome OutcomeOfBusError(const std::string& error_name);
