// SPDX-License-Identifier: GPL-3.0-or-later
// The time codes of the simulated stations besides DCF77, each written from the station's
// published broadcast format, and the encoders that key a carrier or a tone with them.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "simulator/encoder.h"

// DUT1 (UT1 - UTC) announced by the simulated stations, in tenths of a second.
constexpr int SimulatedDut1Tenths = 1;

// United States daylight saving time (second Sunday of March to first Sunday of November,
// changing at 02:00 local time) in force at the end (24:00 UTC) of the UTC day holding `utc`.
bool UsDaylightSavingAtDayEnd(int64_t utc);

// Day of the year of the UTC date holding `utc`, 1 = 1 January.
int DayOfYear(int64_t utc);

// British Summer Time in force at `utc`.
bool BritishSummerTime(int64_t utc);

// MSF (NPL): the A and B bits sent during the minute starting at `minute_start_utc`; they
// describe the following minute in UK civil time. a[0] and b[0] are unused (second 0 is the
// 500 ms minute marker).
struct MsfCode {
  std::array<int, 60> a{};
  std::array<int, 60> b{};
};
MsfCode MsfBits(int64_t minute_start_utc);
// The same minute sent in BST (`bst`) or GMT whatever the date, without the warning of a
// change (B of 53 stays 0).
MsfCode MsfBitsInZone(int64_t minute_start_utc, bool bst);

// Pulse kinds of the NIST codes (WWVB carrier reductions, WWV/WWVH 100 Hz pulses).
enum NistSymbol : int { NistZero = 0, NistOne = 1, NistMarker = 2, NistNoPulse = 3 };

// WWVB: the 60 symbols of the minute starting at `minute_start_utc`, describing that minute.
std::array<int, 60> WwvbSymbols(int64_t minute_start_utc);

// WWV/WWVH: the 60 symbols of the 100 Hz subcarrier code for the minute starting at
// `minute_start_utc`, describing that minute; second 0 carries no pulse.
std::array<int, 60> WwvSymbols(int64_t minute_start_utc);

// VNG: the bits of seconds 21..35 (others 0) sent during the minute starting at
// `minute_start_utc`; they give the following minute in UT.
std::array<int, 60> VngBits(int64_t minute_start_utc);

// HBG: carrier interruptions in second 0 of the minute starting at `minute_start_utc`:
// 2, 3 at the full hour, 4 at midnight and noon (Swiss legal time).
int HbgSecondZeroInterruptions(int64_t minute_start_utc);
// The same in Swiss summer time (`summer`) or standard time whatever the date.
int HbgSecondZeroInterruptionsInZone(int64_t minute_start_utc, bool summer);

// JJY: what each second of a minute carries, by its time at full carrier: a 0 (800 ms), a 1
// (500 ms), a position marker (200 ms), or a part of the Morse call sign (minutes 15 and 45,
// seconds 40..48).
enum JjySymbol : int { JjyZero = 0, JjyOne = 1, JjyMarker = 2, JjyMorse = 3 };

// A leap second announced in JJY's LS1 and LS2 bits, for the end of the current month.
struct JjyLeap {
  bool announced = false;
  bool insert = true;  // false: a second removed
};

// JJY: the 60 symbols of the minute starting at `minute_start_utc`, describing that minute in
// Japan Standard Time (UTC+9).
std::array<int, 60> JjySymbols(int64_t minute_start_utc, const JjyLeap& leap);
// The JST minutes (15 and 45) whose seconds 40..48 carry the call sign.
bool JjyCallSignMinute(int minute);
// The call sign's carrier `seconds_into_40` seconds after second 40 began: true when keyed on.
bool JjyMorseKeyed(double seconds_into_40);

std::unique_ptr<StationEncoder> MakeMsfEncoder();
std::unique_ptr<StationEncoder> MakeHbgEncoder();
std::unique_ptr<StationEncoder> MakeWwvbEncoder();
std::unique_ptr<StationEncoder> MakeJjyEncoder();
std::unique_ptr<StationEncoder> MakeVngEncoder();
std::unique_ptr<StationEncoder> MakeRwmEncoder();
// WWV (1000 Hz seconds ticks) or, with `hawaii`, WWVH (1200 Hz ticks).
std::unique_ptr<StationEncoder> MakeWwvEncoder(bool hawaii);
