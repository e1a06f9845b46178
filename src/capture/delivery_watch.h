// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>

// Notices a sound device that has stopped delivering audio: true once no chunk has arrived
// for `limit_ns` since the last one (or since the start). Times are CLOCK_MONOTONIC
// nanoseconds, passed in so that the rule can be checked without a device.
class DeliveryWatch {
 public:
  explicit DeliveryWatch(int64_t limit_ns) : limit_ns_(limit_ns) {}
  void Start(int64_t now_ns) { last_ns_.store(now_ns, std::memory_order_release); }
  void Delivered(int64_t now_ns) { last_ns_.store(now_ns, std::memory_order_release); }
  bool Silent(int64_t now_ns) const { return now_ns - last_ns_.load(std::memory_order_acquire) > limit_ns_; }

 private:
  int64_t limit_ns_;
  std::atomic<int64_t> last_ns_{0};  // written by the audio thread, read by the other
};
