// SPDX-License-Identifier: GPL-3.0-or-later
#include "timing/refclock_shm.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

RefclockShm::RefclockShm(int unit, int permissions)
    : key_(NtpShmKeyBase + unit), permissions_(permissions & 0777) {}

RefclockShm::RefclockShm(key_t key, int permissions, bool) : key_(key), permissions_(permissions & 0777) {}

RefclockShm::~RefclockShm() {
  if (shm_ != nullptr) shmdt(shm_);
}

bool RefclockShm::Attach(std::string* error) {
  if (shm_ != nullptr) return true;
  id_ = shmget(key_, sizeof(NtpShmTime), IPC_CREAT | permissions_);
  if (id_ < 0) {
    if (error != nullptr) *error = std::string("shmget: ") + std::strerror(errno);
    return false;
  }
  // A segment left by someone else decides who may read or forge the clock's samples: it is
  // used only when it is this user's or root's and no more open than asked.
  shmid_ds ds{};
  if (shmctl(id_, IPC_STAT, &ds) != 0) {
    if (error != nullptr) *error = std::string("shmctl: ") + std::strerror(errno);
    id_ = -1;
    return false;
  }
  const unsigned mode = ds.shm_perm.mode & 0777;
  const uid_t me = geteuid();
  if ((ds.shm_perm.uid != me && ds.shm_perm.uid != 0) || (mode & ~static_cast<unsigned>(permissions_)) != 0) {
    char why[200];
    if (ds.shm_perm.uid != me && ds.shm_perm.uid != 0)
      std::snprintf(why, sizeof why, "belongs to user %u, not to this user (%u) or root",
                    static_cast<unsigned>(ds.shm_perm.uid), static_cast<unsigned>(me));
    else
      std::snprintf(why, sizeof why, "has mode %04o, more open than the %04o asked for", mode,
                    static_cast<unsigned>(permissions_));
    char text[320];
    std::snprintf(text, sizeof text,
                  "the segment with key 0x%08x %s; not used (remove it with: ipcrm -M 0x%08x)",
                  static_cast<unsigned>(key_), why, static_cast<unsigned>(key_));
    if (error != nullptr) *error = text;
    id_ = -1;
    return false;
  }
  void* p = shmat(id_, nullptr, 0);
  if (p == reinterpret_cast<void*>(-1)) {
    if (error != nullptr) *error = std::string("shmat: ") + std::strerror(errno);
    return false;
  }
  shm_ = static_cast<NtpShmTime*>(p);
  return true;
}

namespace {
void Split(int64_t ns, time_t* sec, int* usec, unsigned* nsec) {
  int64_t s = ns / 1000000000, r = ns % 1000000000;
  if (r < 0) {
    r += 1000000000;
    s -= 1;
  }
  *sec = static_cast<time_t>(s);
  *usec = static_cast<int>(r / 1000);
  *nsec = static_cast<unsigned>(r);
}
}  // namespace

bool RefclockShm::Write(int64_t true_ns, int64_t system_ns, int leap) {
  if (shm_ == nullptr && !Attach()) return false;
  NtpShmTime* t = shm_;
  t->valid = 0;
  t->count = t->count + 1;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  t->mode = 1;
  Split(true_ns, &t->clockTimeStampSec, &t->clockTimeStampUSec, &t->clockTimeStampNSec);
  Split(system_ns, &t->receiveTimeStampSec, &t->receiveTimeStampUSec, &t->receiveTimeStampNSec);
  t->leap = leap;
  t->precision = Precision;
  t->nsamples = 3;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  t->count = t->count + 1;
  t->valid = 1;
  return true;
}
