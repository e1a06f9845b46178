// SPDX-License-Identifier: GPL-3.0-or-later
// CHU (Ottawa, 3330, 7850 and 14670 kHz): the time code that the station sends in seconds 31
// to 39 as Bell 103 tones, and the station's audio as a short-wave receiver gives it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "simulator/encoder.h"

// TAI - UTC announced by the simulated CHU, in seconds.
constexpr int SimulatedTaiMinusUtc = 37;
// The Canadian daylight-time indicator sent by the simulated CHU (two decimal digits).
constexpr int SimulatedChuDaylight = 1;

// The ten bytes of one second's code, in the order sent.
using ChuBytes = std::array<uint8_t, 10>;

// Format A (seconds 32..39): UTC day of year, hour, minute and second of the second it is
// sent in; the five bytes are sent twice.
ChuBytes ChuFormatA(int day_of_year, int hour, int minute, int second);

// Format B (second 31): the year and the announcements; the five bytes are followed by their
// one's complement.
struct ChuYearCode {
  int year = 2000;
  int dut1_tenths = 0;        // UT1 - UTC, tenths of a second, -9..9
  int tai_minus_utc = 0;      // seconds, 0..99
  bool leap_warning = false;  // a leap second at the end of this month
  int daylight = 0;           // Canadian daylight-time indicator, 0..99
};
ChuBytes ChuFormatB(const ChuYearCode& code);

// The code sent in the second starting at `second_start_utc`; false in the seconds without one.
bool ChuCodeOfSecond(int64_t second_start_utc, ChuBytes& out);

std::unique_ptr<StationEncoder> MakeChuEncoder();
