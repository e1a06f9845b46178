// SPDX-License-Identifier: GPL-3.0-or-later
// RWM (Moscow), short wave, as the receiver's audio: a 100 ms tone pulse at the start of every
// second, none in second 59, and a 0.5 s pulse at second 0 marking the minute.
#include "simulator/station_codes.h"

namespace {

class RwmEncoder : public StationEncoder {
 public:
  double Envelope(double utc) override {
    const UtcMinute m = SplitUtc(utc);
    double pulse = 0.1;  // seconds of tone
    if (m.second == 0)
      pulse = 0.5;
    else if (m.second == 59)
      pulse = 0.0;
    return m.fraction < pulse ? 1.0 : 0.0;
  }
};

}  // namespace

std::unique_ptr<StationEncoder> MakeRwmEncoder() {
  return std::make_unique<RwmEncoder>();
}
