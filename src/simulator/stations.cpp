// SPDX-License-Identifier: GPL-3.0-or-later
// The list of simulated stations, by the names used on the command line; "wwvh" is the
// Hawaiian twin of WWV (1200 Hz seconds ticks), decoded in the same mode.
#include "simulator/chu_code.h"
#include "simulator/dcf77_code.h"
#include "simulator/encoder.h"
#include "simulator/station_codes.h"

std::unique_ptr<StationEncoder> MakeEncoder(const std::string& station) {
  if (station == "msf") return MakeMsfEncoder();
  if (station == "hbg") return MakeHbgEncoder();
  if (station == "dcf77") return MakeDcf77Encoder();
  if (station == "wwvb") return MakeWwvbEncoder();
  if (station == "vng") return MakeVngEncoder();
  if (station == "rwm") return MakeRwmEncoder();
  if (station == "wwv") return MakeWwvEncoder(false);
  if (station == "wwvh") return MakeWwvEncoder(true);
  // JJY's two transmitters send the same code.
  if (station == "jjy" || station == "jjy40" || station == "jjy60") return MakeJjyEncoder();
  if (station == "chu") return MakeChuEncoder();
  return nullptr;
}
