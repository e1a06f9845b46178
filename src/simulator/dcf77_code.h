// SPDX-License-Identifier: GPL-3.0-or-later
// The DCF77 time code, shared by the DCF77 encoder and the HBG encoder (which sends the same
// code with a different keying of second 0).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "simulator/encoder.h"

// The 59 bits sent during the minute that starts at `minute_start_utc` (bit 59 is always 0):
// they describe the following minute in CET/CEST.
std::array<int, 60> Dcf77Bits(int64_t minute_start_utc, bool german_time_zone_rules = true);

// The same minute sent in CEST (`summer`) or CET whatever the date, without the announcement
// of a change (bit 16 stays 0).
std::array<int, 60> Dcf77BitsInZone(int64_t minute_start_utc, bool summer);

std::unique_ptr<StationEncoder> MakeDcf77Encoder();
