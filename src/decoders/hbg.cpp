// SPDX-License-Identifier: GPL-3.0-or-later
// HBG, Prangins, 75 kHz (Swiss time signal, off the air since 2011 but still found in
// receivers). It sends the DCF77 time code: at the start of every second the carrier is
// interrupted for 100 ms (a 0 bit) or 200 ms (a 1 bit), second 59 has no interruption, and
// the code sent during a minute gives the hour and minute of the following minute in CET
// (UT+1) or CEST (UT+2). The minute itself is marked differently: second 0 carries two 100 ms
// interruptions, at 0..100 ms and 200..300 ms (three at the full hour, four at midnight and
// noon, which this decoder does not take as a minute marker).
//
// Fields read (second: field, weight):
//   17        summer time (CEST) announced         flag
//   18        standard time (CET) announced        flag
//   21..27    minute, BCD                          1 2 4 8 10 20 40
//   28        even parity over 21..28
//   29..34    hour, BCD                            1 2 4 8 10 20
//   35        even parity over 29..35
// A minute is taken when both parities hold and the fields are a time of day.
// A bit is 1 when the carrier is still interrupted in its second tenth (100..200 ms). The
// reader is DCF77's (ReadCentralEuropeanCode).
#include "app/varnol_doc.h"
#include "decoders/marker_probes.h"

namespace {

// Carrier present in tenths 1..9 of second 59, then at second 0 an interruption, carrier
// back, a second interruption and carrier for the rest of the second. Stops at the first
// probe that fails.
constexpr MarkerProbe HbgMarker[] = {
    {59, 1, 9, Tone::On},
    {0, 0, 0, Tone::Off},
    {0, 1, 1, Tone::On},
    {0, 2, 2, Tone::Off},
    {0, 3, 9, Tone::On},
};

}  // namespace

void CVarnolDoc::DecodeHbg() {
  DecoderFrame(ProbesHold(*this, HbgMarker), [this] { ReadCentralEuropeanCode(); });
}
