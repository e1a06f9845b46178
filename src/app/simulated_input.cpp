// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/simulated_input.h"

#include <ctime>

#include "simulator/encoder.h"

int64_t WallClockMilliseconds() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

SandboxClock::SandboxClock(std::function<int64_t()> wall_ms) : wall_ms_(std::move(wall_ms)) {
  if (!wall_ms_) wall_ms_ = WallClockMilliseconds;
}

int64_t SandboxClock::NowMs() { return wall_ms_() + adjust_ms_; }

int64_t SandboxClock::Now() {
  const int64_t ms = NowMs();
  return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

SYSTEMTIME SandboxClock::GetSystemTime() {
  const int64_t ms = NowMs();
  const int64_t s = Now();
  return SystemTimeFromUnix(s, static_cast<int>(ms - s * 1000));
}

bool SandboxClock::SetSystemTime(const SYSTEMTIME& st) {
  const int64_t target = UnixFromSystemTime(st) * 1000 + st.wMilliseconds;
  adjust_ms_ = target - wall_ms_();
  return true;
}

LiveStation::LiveStation(std::string station, ReceiverSettings settings,
                         std::function<int64_t()> wall_ms)
    : station_(std::move(station)), settings_(settings), wall_ms_(std::move(wall_ms)) {
  if (!wall_ms_) wall_ms_ = WallClockMilliseconds;
}

size_t LiveStation::Read(int16_t* out, size_t count) {
  const int64_t now = wall_ms_();
  if (!receiver_ || now - last_read_ms_ > ResumeGapMs) {
    auto encoder = MakeEncoder(station_);
    if (!encoder) return 0;
    ReceiverSettings s = settings_;
    s.start_utc = static_cast<double>(now) / 1000.0;
    s.seed = settings_.seed + static_cast<uint64_t>(tunings_);
    receiver_ = std::make_unique<SimulatedReceiver>(std::move(encoder), s);
    ++tunings_;
  }
  last_read_ms_ = now;
  return receiver_->Read(out, count);
}
