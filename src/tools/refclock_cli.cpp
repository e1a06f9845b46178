// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/refclock_cli.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "timing/refclock_shm.h"
#include "timing/refclock_sock.h"
#include "timing/time_service.h"
#include "tools/cli_common.h"

const char* const kRefclockUsage =
    "\n"
    "Reference clock (serve the measured seconds to chrony or ntpd):\n"
    "  --refclock sock:PATH    chrony's SOCK samples to the socket chronyd made at PATH\n"
    "  --refclock shm:UNIT[:MODE]  the NTP shared memory, key 0x4e545030+UNIT (MODE octal,\n"
    "                          default 600); up to four, of either kind, each once\n"
    "  --receiver-delay MS     the receiver's delay from antenna to sound card (default 0)\n"
    "  --epochs                print each measured second without serving it\n"
    "  --realtime              pace a recording or the simulated receiver like a sound card,\n"
    "                          stamped from the system clock\n"
    "  --broadcast-ahead MS    the simulated broadcast runs MS ahead of the system clock\n"
    "  With --refclock, a lost or missing sound card is retried every few seconds, and the\n"
    "  program runs until stopped (SIGTERM, Ctrl-C) unless --minutes is given. A recording\n"
    "  (--input) cannot serve a clock: its time of day is when it was made, not now.\n"
    "\n"
    "Locking takes 4 to 5 minutes: a second is only served once three decoded minutes agree with\n"
    "one another and with the count of seconds (a wrong label would put the clock off by whole\n"
    "seconds, which no time daemon can tell), and the first of them needs a minute marker before\n"
    "it. chronyd then takes about one more minute to select the source. Each change of the lock\n"
    "is one line on stderr: \"locked: 3 minutes agree\", \"unlocked: minute 13:07 disagrees; ...\"\n"
    "(minutes in UT). With --robust-lock the seconds are labelled by the robust lock once it is\n"
    "sure of the time of day (\"locked: the robust lock holds the time of day\"), which it can be\n"
    "in noise that leaves too few minutes decoded; it counts them on the capture clock through a\n"
    "fade, and while it does not label, the decoded minutes do. A second that the decoded minutes\n"
    "label otherwise is not sent, nor any second of the last minute of June or December (a leap\n"
    "second may end it: the lock is taken afresh after it).\n"
    "At the end a \"refclock\" line (JSON: {\"event\": \"refclock\", \"locked\",\n"
    "\"times_locked\", \"state\", \"seconds\", \"served\", \"offset_mean\", \"offset_spread\"}, in\n"
    "seconds) says whether it locked, how many seconds were sent and their offsets' spread.\n";

// Room for every served output and the printed line.
static_assert(kMaxRefclocks + 1 <= TimeService::MaxOutputs);

int ParseRefclockOption(int argc, char** argv, int& i, RefclockOptions& o, std::string& error) {
  const std::string a = argv[i];
  if (a == "--epochs") {
    o.epochs = true;
    return 1;
  }
  if (a == "--realtime") {
    o.realtime = true;
    return 1;
  }
  if (a != "--refclock" && a != "--receiver-delay" && a != "--broadcast-ahead") return 0;
  if (i + 1 >= argc) {
    error = a + (a == "--refclock" ? " needs sock:PATH or shm:UNIT" : " needs a number of milliseconds");
    return -1;
  }
  const std::string v = argv[++i];
  if (a == "--refclock") {
    if (o.sock_paths.size() + o.shm_units.size() >= static_cast<size_t>(kMaxRefclocks)) {
      error = "at most " + std::to_string(kMaxRefclocks) + " --refclock outputs; '" + v + "' is one too many";
      return -1;
    }
    if (v.rfind("sock:", 0) == 0) {
      const std::string path = v.substr(5);
      if (path.empty() || path.size() >= 108) {
        error = "--refclock sock: needs a socket path of 1 to 107 characters";
        return -1;
      }
      for (const std::string& p : o.sock_paths) {
        if (p == path) {
          error = "--refclock sock:" + path + " is given twice (each sample would be sent twice)";
          return -1;
        }
      }
      o.sock_paths.push_back(path);
      return 1;
    }
    if (v.rfind("shm:", 0) == 0) {
      std::string unit = v.substr(4), mode = "600";
      if (const auto colon = unit.find(':'); colon != std::string::npos) {
        mode = unit.substr(colon + 1);
        unit = unit.substr(0, colon);
      }
      const auto u = ParseLong(unit);
      if (!u || *u < 0 || *u > 255) {
        error = "--refclock shm: needs a unit 0..255, not '" + unit + "'";
        return -1;
      }
      char* end = nullptr;
      const long m = std::strtol(mode.c_str(), &end, 8);
      if (mode.empty() || *end != '\0' || m < 0 || m > 0777) {
        error = "--refclock shm:UNIT:MODE needs an octal mode such as 600, not '" + mode + "'";
        return -1;
      }
      for (const int given : o.shm_units) {
        if (given == *u) {
          error = "--refclock shm:" + unit + " is given twice (one segment, written twice a second)";
          return -1;
        }
      }
      o.shm_units.push_back(static_cast<int>(*u));
      o.shm_modes.push_back(static_cast<int>(m));
      return 1;
    }
    error = "--refclock takes sock:PATH or shm:UNIT, not '" + v + "'";
    return -1;
  }
  const auto d = ParseDouble(v);
  if (!d || !std::isfinite(*d)) {
    error = "cannot read the number '" + v + "' for " + a;
    return -1;
  }
  if (a == "--receiver-delay") {
    if (*d < 0 || *d > 1000) {
      error = "--receiver-delay must lie within 0..1000 ms";
      return -1;
    }
    o.receiver_delay_ms = *d;
  } else {
    if (*d < -86400000 || *d > 86400000) {
      error = "--broadcast-ahead must lie within a day";
      return -1;
    }
    o.broadcast_ahead_ms = *d;
  }
  return 1;
}

std::string FormatIsoUtcMicros(int64_t ns) {
  int64_t s = ns / 1000000000, r = ns % 1000000000;
  if (r < 0) {
    r += 1000000000;
    s -= 1;
  }
  const time_t t = static_cast<time_t>(s);
  tm u{};
  gmtime_r(&t, &u);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", u.tm_year + 1900, u.tm_mon + 1,
                u.tm_mday, u.tm_hour, u.tm_min, u.tm_sec, static_cast<int>(r / 1000));
  return buf;
}

namespace {

std::string FormatIsoUtcSeconds(int64_t s) {
  std::string text = FormatIsoUtcMicros(s * 1000000000);
  return text.substr(0, 19) + "Z";
}

class SockOutput : public EpochOutput {
 public:
  explicit SockOutput(const std::string& path) : sock_(path) {}
  void OnEpoch(const EpochMeasurement& m) override { sock_.Send(m.system_ns, m.offset, m.leap); }

 private:
  RefclockSock sock_;
};

class ShmOutput : public EpochOutput {
 public:
  ShmOutput(int unit, int mode) : unit_(unit), shm_(unit, mode) {}
  void OnEpoch(const EpochMeasurement& m) override {
    std::string error;
    const bool was = shm_.Attached();
    if (!was && !shm_.Attach(&error)) {
      if (!complained_)
        std::fprintf(stderr, "varnol-decode: NTP shared memory unit %d: %s; retrying each second\n", unit_,
                     error.c_str());
      complained_ = true;
      return;
    }
    if (!was && complained_) std::fprintf(stderr, "varnol-decode: NTP shared memory unit %d attached\n", unit_);
    complained_ = false;
    const int64_t true_ns = m.system_ns + static_cast<int64_t>(std::llround(m.offset * 1e9));
    shm_.Write(true_ns, m.system_ns, m.leap);
  }

 private:
  int unit_;
  RefclockShm shm_;
  bool complained_ = false;
};

class PrintOutput : public EpochOutput {
 public:
  PrintOutput(bool json, const int64_t* blocks) : json_(json), blocks_(blocks) {}
  void OnEpoch(const EpochMeasurement& m) override {
    const double t = static_cast<double>(*blocks_) * 128 / 8000.0;
    const std::string utc = FormatIsoUtcSeconds(m.utc), sys = FormatIsoUtcMicros(m.system_ns);
    if (json_)
      std::printf(
          "{\"t\": %.3f, \"event\": \"epoch\", \"utc\": \"%s\", \"system\": \"%s\", \"offset\": %.6f, "
          "\"quality\": %.3f%s}\n",
          t, utc.c_str(), sys.c_str(), m.offset, m.quality,
          m.leap == 0 ? "" : m.leap == 1 ? ", \"leap\": \"insert\"" : ", \"leap\": \"delete\"");
    else
      std::printf("%10.3f  epoch   %s  system %s  offset %+.6f s  quality %.2f\n", t, utc.c_str(), sys.c_str(),
                  m.offset, m.quality);
    std::fflush(stdout);
  }

 private:
  bool json_;
  const int64_t* blocks_;
};

}  // namespace

struct RefclockRunner::Impl {
  Impl(const RefclockOptions& o, int station_mode, bool json_lines)
      : service(station_mode, o.receiver_delay_ms / 1000.0), serving(o.Serving()), json(json_lines) {}
  TimeService service;
  std::vector<std::unique_ptr<EpochOutput>> outputs;
  int64_t reported_serial = 0;
  bool reported_locked = false;
  int64_t held_back_serial = -1;
  bool serving;
  bool json;
};

RefclockRunner::RefclockRunner(const RefclockOptions& o, int station_mode, bool json, const int64_t* blocks)
    : impl_(std::make_unique<Impl>(o, station_mode, json)) {
  for (const auto& path : o.sock_paths) impl_->outputs.push_back(std::make_unique<SockOutput>(path));
  for (size_t k = 0; k < o.shm_units.size(); ++k)
    impl_->outputs.push_back(std::make_unique<ShmOutput>(o.shm_units[k], o.shm_modes[k]));
  // Every measured second on standard output when asked for, or always as JSON.
  if (json || o.epochs) impl_->outputs.push_back(std::make_unique<PrintOutput>(json, blocks));
  for (auto& out : impl_->outputs) {
    if (!impl_->service.AddOutput(out.get()))
      std::fprintf(stderr, "varnol-decode: at most %d reference-clock outputs; the rest are left out\n",
                   TimeService::MaxOutputs);
  }
}

RefclockRunner::~RefclockRunner() = default;

DocObserver* RefclockRunner::Observer() { return &impl_->service; }

void RefclockRunner::SetLabeller(SecondLabeller* labeller) {
  impl_->service.SetLabeller(labeller);
}

void RefclockRunner::ReadLeapAnnouncements(const int* leap_announced) {
  impl_->service.ReadLeapAnnouncements(leap_announced);
}

void RefclockRunner::Restart() {
  impl_->service.Restart();
  ReportState();
}

void RefclockRunner::ReportState() {
  const LockChange& change = impl_->service.LastLockChange();
  // Seconds held back because the decoded minutes and the robust lock disagree: once while the
  // lock stays as it is.
  if (impl_->service.Contradicted() > 0 && impl_->held_back_serial != change.serial) {
    impl_->held_back_serial = change.serial;
    std::fprintf(stderr,
                 "varnol-decode: seconds held back: the decoded minutes name other seconds than the robust "
                 "lock\n");
  }
  if (change.serial == impl_->reported_serial) return;
  impl_->reported_serial = change.serial;
  // Locked and lost again between two looks: the journal needs only the state it ends in.
  if (change.locked == impl_->reported_locked) return;
  impl_->reported_locked = change.locked;
  std::fprintf(stderr, "varnol-decode: %s\n", DescribeLockChange(change).c_str());
}

std::string RefclockRunner::SummaryLine(double t) const {
  const TimeService& s = impl_->service;
  const OffsetStats& off = s.Offsets();
  const int64_t locks = s.TimesLocked();
  const char* verb = impl_->serving ? "sent" : "measured";
  // (labelled by the robust lock, the seconds are locked whatever the decoded minutes say)
  const char* state = s.Locked() ? "locked" : s.Epochs().State();
  char buf[400];
  if (impl_->json) {
    std::snprintf(buf, sizeof buf,
                  "{\"t\": %.3f, \"event\": \"refclock\", \"locked\": %s, \"times_locked\": %lld, "
                  "\"state\": \"%s\", \"seconds\": %lld, \"served\": %s, \"offset_mean\": %s, "
                  "\"offset_spread\": %s}\n",
                  t, locks > 0 ? "true" : "false", static_cast<long long>(locks), state,
                  static_cast<long long>(off.count), impl_->serving ? "true" : "false",
                  off.count > 0 ? std::to_string(off.mean).c_str() : "null",
                  off.count > 1 ? std::to_string(off.StdDev()).c_str() : "null");
    return buf;
  }
  std::string text;
  if (locks == 0) {
    std::snprintf(buf, sizeof buf,
                  "the reference clock never locked (%s at the end; it locks once 3 decoded minutes "
                  "agree, 4 to 5 minutes after a clean start): 0 seconds %s",
                  state, verb);
    text = buf;
  } else {
    char times[32] = "";
    if (locks > 1) std::snprintf(times, sizeof times, " %lld times", static_cast<long long>(locks));
    std::snprintf(buf, sizeof buf, "the reference clock locked%s%s: %lld second%s %s", times,
                  !s.Locked() ? ", unlocked at the end"
                  : locks > 1 ? ", locked at the end"
                              : " and kept its lock",
                  static_cast<long long>(off.count), off.count == 1 ? "" : "s", verb);
    text = buf;
    if (off.count > 0) {
      std::snprintf(buf, sizeof buf, ", offset %+.3f ms on average", off.mean * 1e3);
      text += buf;
    }
    if (off.count > 1) {
      std::snprintf(buf, sizeof buf, ", spread %.3f ms (standard deviation; %+.3f to %+.3f ms)",
                    off.StdDev() * 1e3, off.min * 1e3, off.max * 1e3);
      text += buf;
    }
    if (s.Contradicted() > 0) {
      std::snprintf(buf, sizeof buf, "; %lld held back where the decoded minutes named other seconds",
                    static_cast<long long>(s.Contradicted()));
      text += buf;
    }
  }
  std::snprintf(buf, sizeof buf, "%10.3f  refclock ", t);
  std::string line = buf;
  line += text;
  line += '\n';
  return line;
}
