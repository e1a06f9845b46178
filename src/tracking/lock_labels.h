// SPDX-License-Identifier: GPL-3.0-or-later
// LockLabels: the robust lock as the time service's labeller. While the lock holds the time of
// day (locked, or holding over on the capture clock), every second it counts carries its label;
// when it lets go, no second does.
//
// A leap second is not in the count: the lock counts 23:59:60 as the next day's 00:00:00 and
// would go on one second ahead until the evidence turns against it. So no label is given in the
// last minute of June or December (UTC), and a lock that was held into such a minute is taken
// again from the seconds after it: the lock starts afresh there.
#pragma once

#include "timing/time_service.h"
#include "tracking/robust_lock.h"

class LockLabels : public SecondLabeller {
 public:
  explicit LockLabels(RobustLock& lock) : lock_(lock) {}
  Seconds Labels(double newest_sample) override;
  void Renew() override;

 private:
  RobustLock& lock_;
  int64_t leap_end_ = 0;  // while nonzero: the lock was held into a leap-second minute ending here
};

// Whether the minute that holds second `utc` is the last of 30 June or 31 December, which may
// end with a leap second.
bool MayEndWithLeapSecond(int64_t utc);
