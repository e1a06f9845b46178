// SPDX-License-Identifier: GPL-3.0-or-later
#include "timing/refclock_sock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

ChronySockSample MakeChronySockSample(int64_t system_ns, double offset, int leap) {
  ChronySockSample s;
  std::memset(&s, 0, sizeof s);
  // Floor division, so that a time before 1970 still has 0 <= tv_usec < 1000000.
  int64_t sec = system_ns / 1000000000;
  int64_t ns = system_ns % 1000000000;
  if (ns < 0) {
    ns += 1000000000;
    sec -= 1;
  }
  s.tv.tv_sec = static_cast<time_t>(sec);
  s.tv.tv_usec = static_cast<suseconds_t>(ns / 1000);
  // The microseconds dropped from tv belong to the offset: chrony reads offset at tv exactly.
  s.offset = offset + static_cast<double>(ns % 1000) * 1e-9;
  s.pulse = 0;
  s.leap = leap;
  s.magic = ChronySockMagic;
  return s;
}

RefclockSock::RefclockSock(std::string path) : path_(std::move(path)) {
  sockaddr_un addr{};
  valid_ = !path_.empty() && path_.size() < sizeof addr.sun_path;
  if (valid_) fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) valid_ = false;
}

RefclockSock::~RefclockSock() {
  if (fd_ >= 0) close(fd_);
}

bool RefclockSock::Send(int64_t system_ns, double offset, int leap) {
  const ChronySockSample sample = MakeChronySockSample(system_ns, offset, leap);
  ssize_t n = -1;
  int err = EINVAL;
  if (valid_) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
    n = sendto(fd_, &sample, sizeof sample, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&addr),
               sizeof addr);
    err = errno;
  }
  if (n == static_cast<ssize_t>(sizeof sample)) {
    ++sent_;
    if (complained_)
      std::fprintf(stderr, "varnol-decode: chrony socket %s is there again\n", path_.c_str());
    complained_ = false;
    return true;
  }
  ++dropped_;
  if (!complained_) {
    std::fprintf(stderr, "varnol-decode: chrony socket %s is not there (%s); retrying each second\n",
                 path_.c_str(), valid_ ? std::strerror(err) : "path too long for a socket");
    complained_ = true;
  }
  return false;
}
