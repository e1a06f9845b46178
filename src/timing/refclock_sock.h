// SPDX-License-Identifier: GPL-3.0-or-later
// chrony's SOCK reference clock: one datagram per measured second, sent to the unix datagram
// socket that chronyd binds (`refclock SOCK /run/chrony/varnol.sock`).
//
// The datagram is chrony's own sample record, in the machine's native layout:
//   struct timeval tv   the system time of the measurement
//   double offset       seconds, true time minus system time at tv
//   int pulse           0: a full time sample, not a bare second pulse
//   int leap            0 normal, 1 insert, 2 delete a leap second at the end of the day
//   int _pad            ignored
//   int magic           0x534f434b ("SOCK")
//
// chronyd creates the socket when it starts; until then (or while it restarts) a datagram
// cannot be delivered. That is no error: the sample is dropped, the next second tries again,
// and the first failure is said once on stderr (again only after a success).
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <string>

struct ChronySockSample {
  struct timeval tv;
  double offset;
  int pulse;
  int leap;
  int _pad;
  int magic;
};

constexpr int ChronySockMagic = 0x534f434b;

// The datagram for a measurement at `system_ns` (CLOCK_REALTIME, ns since 1970) with
// `offset` seconds (true minus system).
ChronySockSample MakeChronySockSample(int64_t system_ns, double offset, int leap = 0);

class RefclockSock {
 public:
  explicit RefclockSock(std::string path);
  ~RefclockSock();
  RefclockSock(const RefclockSock&) = delete;
  RefclockSock& operator=(const RefclockSock&) = delete;

  // True when the path fits a unix socket address (else Send never succeeds).
  bool Valid() const { return valid_; }
  const std::string& Path() const { return path_; }

  // Sends one sample; false when it could not be delivered (chronyd not listening).
  bool Send(int64_t system_ns, double offset, int leap = 0);
  int64_t Sent() const { return sent_; }
  int64_t Dropped() const { return dropped_; }

 private:
  std::string path_;
  bool valid_ = false;
  int fd_ = -1;
  bool complained_ = false;  // the missing socket has been reported
  int64_t sent_ = 0;
  int64_t dropped_ = 0;
};
