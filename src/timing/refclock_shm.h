// SPDX-License-Identifier: GPL-3.0-or-later
// The NTP shared-memory reference clock: a System V segment that ntpd (server 127.127.28.UNIT,
// type 28) and chronyd (`refclock SHM UNIT`) read, key 0x4e545030 + UNIT.
//
// The segment holds one sample at a time: the true time of a second ("clock") and the system
// time at which it was measured ("receive"), each as seconds, microseconds and nanoseconds.
// Mode 1, the count protocol: the writer clears `valid`, bumps `count`, writes the fields, bumps
// `count` again and sets `valid`; a reader that sees `count` change while it read, or `valid`
// clear, throws the sample away. Units 0 and 1 are root's by custom; the segment is created
// 0600 unless asked otherwise, so only the clock daemon's user (or root) may read it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>

struct NtpShmTime {
  int mode;
  volatile int count;
  time_t clockTimeStampSec;
  int clockTimeStampUSec;
  time_t receiveTimeStampSec;
  int receiveTimeStampUSec;
  int leap;
  int precision;
  int nsamples;
  volatile int valid;
  unsigned clockTimeStampNSec;
  unsigned receiveTimeStampNSec;
  int dummy[8];
};

constexpr key_t NtpShmKeyBase = 0x4e545030;

class RefclockShm {
 public:
  // Unit 0..255 on key 0x4e545030 + unit; `mode`: the segment's permissions when it is created.
  explicit RefclockShm(int unit, int permissions = 0600);
  // A segment by explicit key (IPC_PRIVATE for a test's own segment).
  RefclockShm(key_t key, int permissions, bool by_key);
  ~RefclockShm();
  RefclockShm(const RefclockShm&) = delete;
  RefclockShm& operator=(const RefclockShm&) = delete;

  // Attaches when not yet attached; false (and `error` says why) when the segment cannot be
  // had. Called again later, it tries again.
  bool Attach(std::string* error = nullptr);
  bool Attached() const { return shm_ != nullptr; }
  int ShmId() const { return id_; }

  // Writes one sample: the true time `true_ns` measured at system time `system_ns` (both
  // CLOCK_REALTIME-style nanoseconds since 1970). Attaches first if needed; false when the
  // segment is not there.
  bool Write(int64_t true_ns, int64_t system_ns, int leap = 0);

  // log2 of the samples' precision in seconds (-10: about a millisecond).
  static constexpr int Precision = -10;

 private:
  key_t key_;
  int permissions_;
  int id_ = -1;
  NtpShmTime* shm_ = nullptr;
};
