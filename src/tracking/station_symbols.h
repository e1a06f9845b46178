// SPDX-License-Identifier: GPL-3.0-or-later
// What each station sends in a second, as the robust lock sees it: the symbols a second can
// carry (which tenths of the second have the carrier reduced), which symbols each second of the
// minute allows whatever the time (fixed bits, markers), and which symbols a given minute sends.
// This table is the only place in src/tracking that knows a station; the minute's code itself
// comes from the simulator's encoders, so the broadcast formats are written down once.
//
// Every symbol of the stations here keys the carrier in whole tenths of a second from the
// second's start, so a second is read as ten slot levels of 100 ms each.
//
// Units: slots are tenths of a second from the on-time marker; UTC in Unix seconds.
#pragma once

#include <cstdint>

constexpr int SlotsPerSecond = 10;
constexpr int MaxSymbols = 8;

// A set of symbols: bit s for symbol s.
using SymbolMask = uint8_t;

struct SymbolShape {
  const char* name;
  uint16_t low_slots;  // bit j: the carrier is reduced (or off) in slot j
};

struct StationSymbols {
  int station = 0;  // StationModes value
  int symbol_count = 0;
  SymbolShape symbols[MaxSymbols] = {};
  // Slots high in every symbol: the full carrier's level and the noise are measured there.
  uint16_t always_high = 0;
  // A slot low in nearly every second: the reduced carrier's level is measured there.
  int usually_low = 0;
  // Symbols each second of the minute may carry, whatever the time (second 0 = the minute's
  // marker): what the minute's phase is found from.
  SymbolMask allowed[60] = {};
  // The symbols sent in each second of the minute that starts at `minute_start_utc`, as far as
  // the time of day decides them: one symbol where the code is known (time of day, parity,
  // fixed bits, summer-time bits), several where it is not (date fields, DUT1, announcements
  // the encoders cannot know), so that those seconds weigh alike for every candidate time.
  void (*expected)(int64_t minute_start_utc, SymbolMask out[60]) = nullptr;
};

// The table of `station_mode` (a StationModes value), or nullptr for a station not yet read
// this way (WWV/WWVH's 100 Hz code, VNG and RWM).
const StationSymbols* SymbolsFor(int station_mode);
