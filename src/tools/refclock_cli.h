// SPDX-License-Identifier: GPL-3.0-or-later
// varnol-decode as a reference clock: the options that serve the measured seconds to chrony or
// ntpd, and the outputs behind them.
//   --refclock sock:PATH     chrony's SOCK datagrams to the socket chronyd created at PATH
//   --refclock shm:UNIT[:MODE]  the NTP shared-memory segment, key 0x4e545030 + UNIT (MODE octal,
//                            default 600)
//   --receiver-delay MS      the receiver's own delay from antenna to sound card, milliseconds
//   --epochs                 measure the seconds and print them, without serving them
//   --realtime               a recording or the simulated receiver paced as a sound card would
//                            deliver it, stamped from the system clock
//   --broadcast-ahead MS     the simulated broadcast runs MS ahead of the system clock
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/varnol_doc.h"
#include "timing/time_service.h"

struct RefclockOptions {
  std::vector<std::string> sock_paths;
  std::vector<int> shm_units;
  std::vector<int> shm_modes;
  double receiver_delay_ms = 0.0;
  bool epochs = false;
  bool realtime = false;
  double broadcast_ahead_ms = 0.0;

  bool Serving() const { return !sock_paths.empty() || !shm_units.empty(); }
  bool Measuring() const { return Serving() || epochs; }
};

extern const char* const kRefclockUsage;

// --refclock outputs served at once (sockets and SHM units together).
constexpr int kMaxRefclocks = 4;

// Reads the option at argv[i] if it is one of the above (advancing i past its value).
// 1: taken; 0: not one of ours; -1: malformed, `error` says why.
int ParseRefclockOption(int argc, char** argv, int& i, RefclockOptions& o, std::string& error);

// The time service with its outputs, as one observer of the document.
class RefclockRunner {
 public:
  // `blocks`: the document's BlocksProcessed, for the "t" of the printed lines.
  RefclockRunner(const RefclockOptions& o, int station_mode, bool json, const int64_t* blocks);
  ~RefclockRunner();
  DocObserver* Observer();
  // Labels from a lock on the time of day (see TimeService::SetLabeller).
  void SetLabeller(SecondLabeller* labeller);
  // The document's LeapAnnounced: a leap second the station announces goes to chrony and SHM.
  void ReadLeapAnnouncements(const int* leap_announced);
  // A new capture after the sound card was lost: the service starts again.
  void Restart();
  // Says on stderr when the lock is gained or lost (one line each, with the reason), for the
  // journal.
  void ReportState();
  // The run's last words on the reference clock, after the diagnostics' summary: whether it
  // locked, how many seconds went out, their offsets' mean and spread. `t`: seconds of audio.
  std::string SummaryLine(double t) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// "2026-12-07T13:07:42.004813Z"
std::string FormatIsoUtcMicros(int64_t ns);
