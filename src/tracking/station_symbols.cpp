// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/station_symbols.h"

#include <array>

#include "app/varnol_doc.h"
#include "simulator/dcf77_code.h"
#include "simulator/station_codes.h"

namespace {

constexpr SymbolMask Bit(int s) {
  return static_cast<SymbolMask>(1u << s);
}

// ---------------------------------------------------------------- DCF77 and HBG --
// A carrier reduction of 100 ms (0) or 200 ms (1) at the start of each second, none in second
// 59. HBG interrupts the carrier instead and marks second 0 with two to four 100 ms
// interruptions (0..100, 200..300, 400..500, 600..700 ms).
enum { DcfZero, DcfOne, DcfNone, HbgMark2, HbgMark3, HbgMark4 };

// Bits 1..15 (warnings, call bit), 19 (leap second announcement) and the date (36..58) are
// left open: the encoders cannot know them, or the date is not a candidate here.
void DcfExpected(const std::array<int, 60>& bits, SymbolMask out[60]) {
  for (int p = 0; p < 60; ++p) out[p] = Bit(bits[p] ? DcfOne : DcfZero);
  for (int p = 1; p <= 15; ++p) out[p] = Bit(DcfZero) | Bit(DcfOne);
  out[19] = Bit(DcfZero) | Bit(DcfOne);
  for (int p = 36; p <= 58; ++p) out[p] = Bit(DcfZero) | Bit(DcfOne);
  out[59] = Bit(DcfNone);
}

void Dcf77Expected(int64_t minute_start_utc, SymbolMask out[60]) {
  DcfExpected(Dcf77Bits(minute_start_utc, true), out);
}

void HbgExpected(int64_t minute_start_utc, SymbolMask out[60]) {
  DcfExpected(Dcf77Bits(minute_start_utc, true), out);
  out[0] = Bit(HbgMark2 + HbgSecondZeroInterruptions(minute_start_utc) - 2);
}

// In the other zone the announcement of a change (bit 16) is open: it follows the date.
void Dcf77OtherZone(int64_t minute_start_utc, SymbolMask out[60]) {
  DcfExpected(Dcf77BitsInZone(minute_start_utc, !CentralEuropeanSummerTime(minute_start_utc + 60)), out);
  out[16] = Bit(DcfZero) | Bit(DcfOne);
}

void HbgOtherZone(int64_t minute_start_utc, SymbolMask out[60]) {
  Dcf77OtherZone(minute_start_utc, out);
  out[0] = Bit(HbgMark2 +
               HbgSecondZeroInterruptionsInZone(minute_start_utc,
                                                !CentralEuropeanSummerTime(minute_start_utc)) -
               2);
}

StationSymbols MakeDcf(int station) {
  StationSymbols t;
  t.station = station;
  t.symbol_count = 3;
  t.symbols[DcfZero] = {"0", 0x001};
  t.symbols[DcfOne] = {"1", 0x003};
  t.symbols[DcfNone] = {"none", 0x000};
  t.always_high = 0x3fc;  // 200..1000 ms
  t.usually_low = 0;
  for (SymbolMask& a : t.allowed) a = Bit(DcfZero) | Bit(DcfOne);
  t.allowed[0] = Bit(DcfZero);
  t.allowed[20] = Bit(DcfOne);  // start of the time code
  t.allowed[59] = Bit(DcfNone);
  t.expected = Dcf77Expected;
  t.expected_other_zone = Dcf77OtherZone;
  t.edge_low = 0.15f;
  if (station == StationHbg) {
    t.edge_low = 0.0f;  // the carrier interrupted
    t.symbol_count = 6;
    t.symbols[HbgMark2] = {"mark 2", 0x005};
    t.symbols[HbgMark3] = {"mark 3", 0x015};
    t.symbols[HbgMark4] = {"mark 4", 0x055};
    t.always_high = 0x380;  // 700..1000 ms
    t.allowed[0] = Bit(HbgMark2) | Bit(HbgMark3) | Bit(HbgMark4);
    t.expected = HbgExpected;
    t.expected_other_zone = HbgOtherZone;
  }
  return t;
}

// --------------------------------------------------------------------------- MSF --
// 100 ms off at the start of every second, then bit A (100..200 ms) and bit B (200..300 ms),
// off for a 1; second 0 is 500 ms off.
enum { Msf00, MsfA, MsfB, MsfAB, MsfMarker };

SymbolMask MsfSymbol(int a, int b) {
  return Bit(a ? (b ? MsfAB : MsfA) : (b ? MsfB : Msf00));
}

void MsfCodeExpected(const MsfCode& code, SymbolMask out[60]) {
  for (int p = 0; p < 60; ++p) out[p] = MsfSymbol(code.a[p], code.b[p]);
  out[0] = Bit(MsfMarker);
  // DUT1 (B of 1..16) is announced by the station, not known here.
  for (int p = 1; p <= 16; ++p) out[p] = Bit(Msf00) | Bit(MsfB);
  // The date (A of 17..38) and its parity bits (B of 54..56) are open.
  for (int p = 17; p <= 38; ++p) out[p] = MsfSymbol(0, code.b[p]) | MsfSymbol(1, code.b[p]);
  for (int p = 54; p <= 56; ++p) out[p] = MsfSymbol(code.a[p], 0) | MsfSymbol(code.a[p], 1);
}

void MsfExpected(int64_t minute_start_utc, SymbolMask out[60]) {
  MsfCodeExpected(MsfBits(minute_start_utc), out);
}

// In the other zone the warning of a change (B of 53) is open: it follows the date.
void MsfOtherZone(int64_t minute_start_utc, SymbolMask out[60]) {
  const MsfCode code = MsfBitsInZone(minute_start_utc, !BritishSummerTime(minute_start_utc + 60));
  MsfCodeExpected(code, out);
  out[53] = MsfSymbol(code.a[53], 0) | MsfSymbol(code.a[53], 1);
}

StationSymbols MakeMsf() {
  StationSymbols t;
  t.station = StationMsf;
  t.symbol_count = 5;
  t.symbols[Msf00] = {"00", 0x001};
  t.symbols[MsfA] = {"A", 0x003};
  t.symbols[MsfB] = {"B", 0x005};
  t.symbols[MsfAB] = {"AB", 0x007};
  t.symbols[MsfMarker] = {"marker", 0x01f};
  t.always_high = 0x3e0;  // 500..1000 ms
  t.usually_low = 0;
  const SymbolMask a0 = Bit(Msf00) | Bit(MsfB), a1 = Bit(MsfA) | Bit(MsfAB);
  for (SymbolMask& a : t.allowed) a = a0 | a1;
  t.allowed[0] = Bit(MsfMarker);
  for (int p = 1; p <= 16; ++p) t.allowed[p] = a0;
  t.allowed[52] = a0;  // the minute identifier 0111 1110 in A of 52..59
  for (int p = 53; p <= 58; ++p) t.allowed[p] = a1;
  t.allowed[59] = a0;
  t.expected = MsfExpected;
  t.expected_other_zone = MsfOtherZone;
  return t;
}

// -------------------------------------------------------------------------- WWVB --
// The carrier 17 dB down for 200 ms (0), 500 ms (1) or 800 ms (position marker).
constexpr int WwvbMarkers[] = {0, 9, 19, 29, 39, 49, 59};
constexpr int WwvbUnused[] = {4, 10, 11, 14, 20, 21, 24, 34, 35, 44, 54};

void WwvbExpected(int64_t minute_start_utc, SymbolMask out[60]) {
  const std::array<int, 60> s = WwvbSymbols(minute_start_utc);
  for (int p = 0; p < 60; ++p) out[p] = Bit(s[p]);
  // Day of year, DUT1, year, leap year and leap second are open (the unused seconds among
  // them stay 0).
  const SymbolMask open = Bit(NistZero) | Bit(NistOne);
  for (int p : {22, 23, 25, 26, 27, 28, 30, 31, 32, 33}) out[p] = open;
  for (int p : {36, 37, 38, 40, 41, 42, 43}) out[p] = open;
  for (int p : {45, 46, 47, 48, 50, 51, 52, 53, 55, 56}) out[p] = open;
}

StationSymbols MakeWwvb() {
  StationSymbols t;
  t.station = StationWwvb;
  t.symbol_count = 3;
  t.symbols[NistZero] = {"0", 0x003};
  t.symbols[NistOne] = {"1", 0x01f};
  t.symbols[NistMarker] = {"marker", 0x0ff};
  t.always_high = 0x300;  // 800..1000 ms
  t.usually_low = 0;
  t.edge_low = 0.141f;  // -17 dB
  for (SymbolMask& a : t.allowed) a = Bit(NistZero) | Bit(NistOne);
  for (int p : WwvbMarkers) t.allowed[p] = Bit(NistMarker);
  for (int p : WwvbUnused) t.allowed[p] = Bit(NistZero);
  t.expected = WwvbExpected;
  return t;
}

// --------------------------------------------------------------------------- JJY --
// Full carrier from the second's start for 800 ms (0), 500 ms (1) or 200 ms (position marker),
// then 10 %. In minutes 15 and 45 (JST) the Morse call sign keys seconds 40..48 on and off.
constexpr int JjyMarkers[] = {0, 9, 19, 29, 39, 49, 59};
constexpr int JjyUnused[] = {4, 10, 11, 14, 20, 21, 24, 34, 35, 38, 56, 57, 58};

void JjyExpected(int64_t minute_start_utc, SymbolMask out[60]) {
  const std::array<int, 60> s = JjySymbols(minute_start_utc, JjyLeap{});
  const SymbolMask open = Bit(JjyZero) | Bit(JjyOne);
  for (int p = 0; p < 60; ++p) out[p] = s[p] == JjyMorse ? open | Bit(JjyMarker) : Bit(s[p]);
  // Day of year, year, weekday and the leap-second bits are open, and so are the notices of
  // an interruption that take their place in the call-sign minutes.
  for (int p : {22, 23, 25, 26, 27, 28, 30, 31, 32, 33}) out[p] = open;
  for (int p = 41; p <= 48; ++p)
    if (s[p] != JjyMorse) out[p] = open;
  for (int p = 50; p <= 55; ++p) out[p] = open;
}

StationSymbols MakeJjy() {
  StationSymbols t;
  t.station = StationJjy;
  t.symbol_count = 3;
  t.symbols[JjyZero] = {"0", 0x300};
  t.symbols[JjyOne] = {"1", 0x3e0};
  t.symbols[JjyMarker] = {"marker", 0x3fc};
  t.always_high = 0x003;  // 0..200 ms
  t.usually_low = 9;      // 900..1000 ms
  t.edge_rises = true;    // the full carrier comes back at the second's start
  t.edge_low = 0.1f;
  for (SymbolMask& a : t.allowed) a = Bit(JjyZero) | Bit(JjyOne);
  for (int p : JjyMarkers) t.allowed[p] = Bit(JjyMarker);
  for (int p : JjyUnused) t.allowed[p] = Bit(JjyZero);
  t.expected = JjyExpected;
  return t;
}

}  // namespace

const StationSymbols* SymbolsFor(int station_mode) {
  static const StationSymbols dcf77 = MakeDcf(StationDcf77);
  static const StationSymbols hbg = MakeDcf(StationHbg);
  static const StationSymbols msf = MakeMsf();
  static const StationSymbols wwvb = MakeWwvb();
  static const StationSymbols wwv = MakeWwvSymbols();
  static const StationSymbols vng = MakeVngSymbols();
  static const StationSymbols rwm = MakeRwmSymbols();
  static const StationSymbols jjy = MakeJjy();
  static const StationSymbols chu = MakeChuSymbols();
  switch (station_mode) {
    case StationDcf77: return &dcf77;
    case StationHbg: return &hbg;
    case StationMsf: return &msf;
    case StationWwvb: return &wwvb;
    case StationWwv: return &wwv;
    case StationVng: return &vng;
    case StationRwm: return &rwm;
    case StationJjy: return &jjy;
    case StationChu: return &chu;
    default: return nullptr;
  }
}

double SlotTemplate(const SymbolShape& symbol, int slot, double high, double low) {
  if (symbol.part_slots >> slot & 1) return high + symbol.part_low * (low - high);
  return (symbol.low_slots >> slot & 1) ? low : high;
}
