#include "platform/desktop_clock.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

std::string ClockWriteStatus(const ClockWriteResult& r) {
  char step[48];
  std::snprintf(step, sizeof step, "%+.1f s", static_cast<double>(r.step_usec) / 1e6);
  switch (r.outcome) {
    case ClockWriteOutcome::Written: return std::string("PC clock set (") + step + ")";
    case ClockWriteOutcome::Requested:
      return std::string("Asking the system to set the PC clock (") + step + ")...";
    case ClockWriteOutcome::NoPermission: return "PC clock not set: no permission";
    case ClockWriteOutcome::AutomaticSync: return "PC clock not set: automatic time synchronisation is on";
    case ClockWriteOutcome::NoService: return "PC clock not set: no permission, and no time service to ask";
    case ClockWriteOutcome::Failed: break;
  }
  return "PC clock not set: " + (r.detail.empty() ? std::string("the system refused") : r.detail);
}

std::string ClockWriteBrief(const ClockWriteResult& r) {
  switch (r.outcome) {
    case ClockWriteOutcome::Written:
    case ClockWriteOutcome::Requested: break;
    default: return "PC clock not set";
  }
  return r.outcome == ClockWriteOutcome::Requested ? "Setting PC clock..." : ClockWriteStatus(r);
}

std::string ClockWriteAdvice(const ClockWriteResult& r) {
  std::string text;
  switch (r.outcome) {
    case ClockWriteOutcome::Written:
    case ClockWriteOutcome::Requested: return "";
    case ClockWriteOutcome::NoPermission:
      text =
          "The PC clock could not be set: this program has no permission to set it, and the "
          "system's time service did not allow it (no administrator's password was given, or "
          "the system's policy does not let this user set the time).\n\n"
          "Either allow it when the system asks for the password, or let the clock service "
          "set the time: run varnol-decode as the reference clock for chrony (see the help, "
          "\"How the PC clock is set\").";
      break;
    case ClockWriteOutcome::AutomaticSync:
      text =
          "The PC clock could not be set: automatic (network) time synchronisation is on, and "
          "while it is the system will not let any program set the time.\n\n"
          "To keep network time and use the radio signal as well, run varnol-decode as a "
          "reference clock for chrony (see the help, \"How the PC clock is set\"). To use the radio "
          "signal alone, turn automatic time off (timedatectl set-ntp false).";
      break;
    case ClockWriteOutcome::NoService:
      text =
          "The PC clock could not be set: this program has no permission to set it, and there "
          "is no time service (systemd-timedated) on the system bus to ask.\n\n"
          "Run varnol-decode as the reference clock for chrony (see the help, \"How "
          "the PC clock is set\"), or give this program the right to set the clock "
          "(setcap cap_sys_time+ep on the program).";
      break;
    case ClockWriteOutcome::Failed: text = "The PC clock could not be set."; break;
  }
  if (!r.detail.empty()) text += "\n\n(" + r.detail + ")";
  return text;
}

bool ProcessMaySetClock() {
  __user_cap_header_struct header{};
  header.version = _LINUX_CAPABILITY_VERSION_3;
  header.pid = 0;
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  return (data[CAP_SYS_TIME / 32].effective & (1u << (CAP_SYS_TIME % 32))) != 0;
}

DesktopSystemClock::DesktopSystemClock(SystemClock& base, bool direct, ClockStepService* service,
                                       std::function<void(const ClockWriteResult&)> report)
    : base_(base), direct_(direct), service_(service), report_(std::move(report)) {}

bool DesktopSystemClock::SetSystemTime(const SYSTEMTIME& st) {
  const SYSTEMTIME now = base_.GetSystemTime();
  ClockWriteResult r;
  r.step_usec = ((UnixFromSystemTime(st) - UnixFromSystemTime(now)) * 1000 +
                 (static_cast<int64_t>(st.wMilliseconds) - now.wMilliseconds)) *
                1000;
  if (direct_) {
    errno = 0;
    if (base_.SetSystemTime(st)) {
      r.outcome = ClockWriteOutcome::Written;
      if (report_) report_(r);
      return true;
    }
    const int error = errno;
    if (error != EPERM || service_ == nullptr) {
      r.outcome = error == EPERM ? ClockWriteOutcome::NoPermission : ClockWriteOutcome::Failed;
      r.detail = error != 0 ? std::strerror(error) : "";
      if (report_) report_(r);
      return false;
    }
  }
  if (service_ == nullptr) {
    r.outcome = ClockWriteOutcome::NoPermission;
    if (report_) report_(r);
    return false;
  }
  r.through_service = true;
  const bool sent = service_->RequestStep(r.step_usec, [report = report_](const ClockWriteResult& done) {
    if (report) report(done);
  });
  // A request still waiting (a password being typed) is not doubled; this minute's write is
  // simply not made.
  if (sent) {
    r.outcome = ClockWriteOutcome::Requested;
    if (report_) report_(r);
  }
  return false;
}
