// SPDX-License-Identifier: GPL-3.0-or-later
#include "timing/refclock_shm.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <cerrno>
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
