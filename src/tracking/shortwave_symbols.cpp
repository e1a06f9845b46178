// SPDX-License-Identifier: GPL-3.0-or-later
// The short-wave stations in the robust lock's station table: WWV/WWVH's 100 Hz time code,
// VNG's pulse-length code and RWM's minute mark. Each keys a tone (or the subcarrier) on for
// its pulses and leaves it off between them, so "low" below means no tone and the levels are
// followed from the slots that every symbol leaves silent.
#include <array>

#include "app/varnol_doc.h"
#include "simulator/station_codes.h"
#include "tracking/station_symbols.h"

namespace {

constexpr SymbolMask Bit(int s) {
  return static_cast<SymbolMask>(1u << s);
}

// --------------------------------------------------------------------- WWV/WWVH --
// The 100 Hz subcarrier on from 30 ms into the second to 200 ms (0), 500 ms (1) or 800 ms
// (position marker); second 0 carries no pulse. Slot 0 holds 70 ms of any pulse.
//
//   second   0      1..8     9    10..18   19   20..28   29   30..38   39   40..48   49   50..58   59
//   symbol   none   fields   P1   fields   P2   fields   P3   fields   P4   fields   P5   fields   P0
//
// Fields (see the simulator's encoder): 2 and 55 DST, 3 leap second, 4..7 and 51..54 year,
// 10..13 and 15..17 minute, 20..23 and 25, 26 hour, 30..33, 35..38, 40, 41 day of year, 50
// and 56..58 DUT1; seconds 1, 8, 14, 18, 24, 27, 28, 34 and 42..48 always 0.
constexpr int WwvMarkers[] = {9, 19, 29, 39, 49, 59};
constexpr int WwvUnused[] = {1, 8, 14, 18, 24, 27, 28, 34, 42, 43, 44, 45, 46, 47, 48};
// Leap second, year, day of year and DUT1: not a candidate here, or not known to the encoders.
constexpr int WwvOpen[] = {3,  4,  5,  6,  7,  30, 31, 32, 33, 35, 36, 37,
                           38, 40, 41, 50, 51, 52, 53, 54, 56, 57, 58};

void WwvExpected(int64_t minute_start_utc, SymbolMask out[60]) {
  const std::array<int, 60> s = WwvSymbols(minute_start_utc);
  for (int p = 0; p < 60; ++p) out[p] = Bit(s[p]);
  for (int p : WwvOpen) out[p] = Bit(NistZero) | Bit(NistOne);
}

// ---------------------------------------------------------------------------- VNG --
// A tone pulse from the second's start: 50 ms (0), 200 ms (1, seconds 21..35 only), 500 ms
// (second 0, the minute), none in second 59.
//
//   second   0      1..20   21..27       28       29..34     35       36..58   59
//   symbol   mark   0       minute BCD   parity   hour BCD   parity   0        none
//
// The code sent in a minute names the following minute in UT (VngBits).
enum { VngShort, VngLong, VngMark, VngNone };

void VngExpected(int64_t minute_start_utc, SymbolMask out[60]) {
  const std::array<int, 60> bits = VngBits(minute_start_utc);
  for (int p = 0; p < 60; ++p) out[p] = Bit(bits[p] ? VngLong : VngShort);
  out[0] = Bit(VngMark);
  out[59] = Bit(VngNone);
}

// ---------------------------------------------------------------------------- RWM --
// A 100 ms tone pulse at every second, 500 ms at second 0, none in second 59; no time code.
enum { RwmPulse, RwmMark, RwmNone };

}  // namespace

StationSymbols MakeWwvSymbols() {
  StationSymbols t;
  t.station = StationWwv;
  t.symbol_count = 4;
  t.symbols[NistZero] = {"0", 0x3fc, 0x001, 0.3f};
  t.symbols[NistOne] = {"1", 0x3e0, 0x001, 0.3f};
  t.symbols[NistMarker] = {"marker", 0x300, 0x001, 0.3f};
  t.symbols[NistNoPulse] = {"none", 0x3ff};
  t.tone_keyed = true;
  t.always_low = 0x300;  // 800..1000 ms
  t.code_cycles = 1;     // 100 Hz
  t.code_period = 80;
  t.edge_ms = 30;
  t.edge_rises = true;
  t.keyed_coherent = true;
  for (SymbolMask& a : t.allowed) a = Bit(NistZero) | Bit(NistOne);
  t.allowed[0] = Bit(NistNoPulse);
  for (int p : WwvMarkers) t.allowed[p] = Bit(NistMarker);
  for (int p : WwvUnused) t.allowed[p] = Bit(NistZero);
  t.expected = WwvExpected;
  // second 0's tone: 1000 Hz (WWV, 1 cycle in 8 samples), 1200 Hz (WWVH, 3 in 20), 1500 Hz at
  // the hour (3 in 16)
  t.mark_tones = {3, {1, 3, 3}, {8, 20, 16}};
  // the seconds' ticks: 5 ms of those two tones
  t.ticks = {2, {1, 3}, {8, 20}, 5};
  return t;
}

StationSymbols MakeVngSymbols() {
  StationSymbols t;
  t.station = StationVng;
  t.symbol_count = 4;
  t.symbols[VngShort] = {"0", 0x3fe, 0x001, 0.5f};
  t.symbols[VngLong] = {"1", 0x3fc};
  t.symbols[VngMark] = {"mark", 0x3e0};
  t.symbols[VngNone] = {"none", 0x3ff};
  t.tone_keyed = true;
  t.always_low = 0x3e0;  // 500..1000 ms
  for (SymbolMask& a : t.allowed) a = Bit(VngShort);
  for (int p = 21; p <= 35; ++p) t.allowed[p] = Bit(VngShort) | Bit(VngLong);
  t.allowed[0] = Bit(VngMark);
  t.allowed[59] = Bit(VngNone);
  t.expected = VngExpected;
  return t;
}

StationSymbols MakeRwmSymbols() {
  StationSymbols t;
  t.station = StationRwm;
  t.symbol_count = 3;
  t.symbols[RwmPulse] = {"pulse", 0x3fe};
  t.symbols[RwmMark] = {"mark", 0x3e0};
  t.symbols[RwmNone] = {"none", 0x3ff};
  t.tone_keyed = true;
  t.always_low = 0x3e0;  // 500..1000 ms
  for (SymbolMask& a : t.allowed) a = Bit(RwmPulse);
  t.allowed[0] = Bit(RwmMark);
  t.allowed[59] = Bit(RwmNone);
  t.expected = nullptr;  // the minute's phase only
  return t;
}
