// SPDX-License-Identifier: GPL-3.0-or-later
// CHU in the robust lock's station table: its 1000 Hz second pulses, whose lengths mark the
// minute's phase. The time of day is not in the pulses but in the Bell 103 code of seconds
// 31..39 (chu_times.h reads it); here only the pulse shapes, as for the other short-wave
// stations: "low" is no tone, "high" the tone.
//
//   second   0              1..28   29     30      31..39         40..50   51..59
//   pulse    500 ms (1 s    300 ms  none   300 ms  a 10 ms tick   300 ms   a 10 ms tick
//            at the hour)                          + the code                (voice)
//
// A tick fills a tenth of the first slot: it is read as silence. (A symbol for it, keyed for a
// tenth of a slot, would say nothing of the tone's level, yet a pulse second read as one would
// pull the level the tracker fits upwards, a little every second, with nothing to bring it
// back.) The silent level and its scatter come from 500..1000 ms, silent in every second but the hour's
// first (that one second a little raises the silent level the tracker follows, for a few
// seconds once an hour).
#include "app/varnol_doc.h"
#include "tracking/station_symbols.h"

namespace {

constexpr SymbolMask Bit(int s) {
  return static_cast<SymbolMask>(1u << s);
}

enum { ChuPulse, ChuMinute, ChuHour, ChuNone };

}  // namespace

StationSymbols MakeChuSymbols() {
  StationSymbols t;
  t.station = StationChu;
  t.symbol_count = 4;
  t.symbols[ChuPulse] = {"pulse", 0x3f8};
  t.symbols[ChuMinute] = {"minute", 0x3e0};
  t.symbols[ChuHour] = {"hour", 0x000};
  t.symbols[ChuNone] = {"none", 0x3ff};
  t.tone_keyed = true;
  t.always_low = 0x3e0;  // 500..1000 ms
  for (SymbolMask& a : t.allowed) a = Bit(ChuPulse);
  t.allowed[0] = Bit(ChuMinute) | Bit(ChuHour);
  t.allowed[29] = Bit(ChuNone);
  for (int p = 31; p <= 39; ++p) t.allowed[p] = Bit(ChuNone);
  for (int p = 51; p <= 59; ++p) t.allowed[p] = Bit(ChuNone);
  t.expected = nullptr;  // the time of day is in the code, not the pulses
  t.fsk_code = true;
  return t;
}
