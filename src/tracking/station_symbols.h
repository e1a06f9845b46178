// SPDX-License-Identifier: GPL-3.0-or-later
// What each station sends in a second, as the robust lock sees it: the symbols a second can
// carry (which tenths of the second have the carrier reduced), which symbols each second of the
// minute allows whatever the time (fixed bits, markers), and which symbols a given minute sends.
// This table is the only place in src/tracking that knows a station, but for CHU's Bell 103
// code, which chu_times.h reads; the minute's code itself comes from the simulator's encoders,
// so the broadcast formats are written down once.
//
// Every symbol keys the carrier (or a tone, or WWV's 100 Hz subcarrier) in tenths of a second
// from the second's start, so a second is read as ten slot levels of 100 ms each; where a pulse
// ends or begins inside a tenth (VNG's 50 ms pulse, WWV's code pulse that starts 30 ms in),
// that slot's level lies between the two in proportion.
//
// The short-wave stations key a tone on for their pulses and off between them: "low" is then
// no tone, "high" the tone, and the levels are followed from the slots every symbol leaves
// silent (see tone_keyed).
//
// Units: slots are tenths of a second from the on-time marker; UTC in Unix seconds.
#pragma once

#include <cstdint>

#include "tracking/minute_mark.h"
#include "tracking/tick_onset.h"

constexpr int SlotsPerSecond = 10;
constexpr int MaxSymbols = 8;

// A set of symbols: bit s for symbol s.
using SymbolMask = uint8_t;

struct SymbolShape {
  const char* name;
  uint16_t low_slots;  // bit j: the carrier is reduced (or off) in slot j
  // Slots low for only part of their length (bit j), and that part (0..1); not in low_slots.
  uint16_t part_slots = 0;
  float part_low = 0.0f;
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
  // nullptr: the station sends no time of day (RWM), only its minute's phase is found.
  void (*expected)(int64_t minute_start_utc, SymbolMask out[60]) = nullptr;
  // The same minute as the station sends it in the other of its two offsets from UTC (summer
  // time where the date has standard time, and the reverse), for stations that send their
  // country's civil time: the hour sent, with the summer-time bits, decides the offset, not
  // the capture clock's date, which may be in the wrong season. nullptr: the station sends
  // UTC or a time without summer time.
  void (*expected_other_zone)(int64_t minute_start_utc, SymbolMask out[60]) = nullptr;

  // A tone keyed on for the pulses (the short-wave stations): no slot is high in every second,
  // so the silent level and the scatter come from `always_low` (slots no symbol keys), and the
  // tone's level from the slots of each second's most likely symbol. always_high and
  // usually_low are not used then.
  bool tone_keyed = false;
  uint16_t always_low = 0;
  // The code is read on a subcarrier of its own rather than the station's tone: `code_cycles`
  // whole cycles in `code_period` samples at 8000 per second (WWV's 100 Hz: 1 in 80); 0: the
  // tone.
  int code_cycles = 0, code_period = 0;
  // The edge the seconds are placed by, in milliseconds after the second's start, and whether
  // the tone (or subcarrier) rises there: the reduction DCF77, MSF, WWVB and HBG start each
  // second with falls; JJY's full carrier rises at 0 ms; WWV's 100 Hz code rises 30 ms in (the
  // first 30 ms are kept for the tick).
  int edge_ms = 0;
  bool edge_rises = false;
  // The level on that edge's low side as a fraction of its high side: DCF77's carrier reduced
  // to 15 %, WWVB's by 17 dB, JJY's to 10 %; 0 where the carrier or the tone is switched off.
  float edge_low = 0.0f;
  // A keyed tone whose phase runs on through the second (WWV's 100 Hz, locked to the
  // second): its slots are read coherently against the phase of the rest of the second and of
  // the seconds before, as a carrier's are, rather than as the mean of 10 ms magnitudes.
  bool keyed_coherent = false;
  // A minute's mark on tones of its own (WWV/WWVH's 800 ms tone at second 0), weighed for the
  // minute's phase beside the code's symbols; no channels: none.
  MarkTones mark_tones;
  // A short tick of its own tone at each second's start (WWV's 5 ms of 1000 Hz, WWVH's of
  // 1200 Hz): where the lock finds the seconds itself, they are placed by its onset once it
  // stands out of the noise (TickOnset); no tones: by the edge above.
  TickTones ticks;
  // The time of day is sent in seconds 31..39 as a Bell 103 code (CHU), read by ChuTimes
  // rather than from the symbols (`expected` stays nullptr).
  bool fsk_code = false;
};

// The table of `station_mode` (a StationModes value), or nullptr for a station not read this
// way.
const StationSymbols* SymbolsFor(int station_mode);

// The level slot `slot` of `symbol` has with the full (`high`) and the reduced (`low`) level.
double SlotTemplate(const SymbolShape& symbol, int slot, double high, double low);

// The short-wave stations' tables (shortwave_symbols.cpp).
StationSymbols MakeWwvSymbols();
StationSymbols MakeVngSymbols();
StationSymbols MakeRwmSymbols();
// CHU's second pulses (chu_symbols.cpp).
StationSymbols MakeChuSymbols();
