// SPDX-License-Identifier: GPL-3.0-or-later
// Station time codes as the receiver hears them. Each encoder is written from the station's
// published broadcast format, independently of the decoders, so that decoding a simulated
// signal checks the decoders against a separate picture of the signal.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

// How a keyed long-wave carrier moves between full and reduced power: the amplitude during a
// reduction, and the time constants of its falling and rising edges, which the transmitting
// antenna's narrow bandwidth sets (a tuned antenna of high Q cannot change its current in an
// instant). Stations whose audio is a keyed tone or a subcarrier have no such edges.
struct CarrierKeying {
  bool keyed = false;    // a carrier keyed by Envelope()
  double reduced = 1.0;  // amplitude during a reduction, fraction of the full carrier
  double fall_s = 0.0;   // seconds, time constant of the fall to the reduced level
  double rise_s = 0.0;   // seconds, time constant of the rise back to full carrier
};

class StationEncoder {
 public:
  virtual ~StationEncoder() = default;

  // The carrier's keying as broadcast; the default is a station without a keyed carrier.
  virtual CarrierKeying Keying() const { return {}; }

  // Carrier amplitude at UTC time `utc` (seconds since 1970), 1.0 for the full carrier.
  virtual double Envelope(double utc) = 0;

  // The receiver's audio at UTC time `utc`, given the phase (radians) of the beat tone that
  // the receiver makes of the carrier at this sample. Peak 1.0 for a full carrier. Stations
  // with more than an on/off keyed carrier (a subcarrier, seconds ticks) override this.
  virtual double Audio(double utc, double tone_phase) { return Envelope(utc) * std::sin(tone_phase); }

  // True when Audio() is what an AM receiver's detector gives (a subcarrier and ticks at their
  // own audio frequencies, as WWV and WWVH on short wave) rather than a beat tone: the receiver's
  // filter is then its AM filter around the carrier, which passes the audio up to half its width.
  virtual bool AmAudio() const { return false; }
};

// Splits a UTC time count into the parts every encoder needs.
struct UtcMinute {
  int64_t minute_start = 0;  // seconds since 1970 at second 0 of the minute
  int second = 0;            // 0..59
  double fraction = 0.0;     // 0..1 within the second
};
UtcMinute SplitUtc(double utc);

// Civil UTC fields of a minute start.
struct CivilTime {
  int year = 1970, month = 1, day = 1, weekday = 4;  // weekday 0 = Sunday
  int hour = 0, minute = 0;
};
CivilTime CivilFromUtc(int64_t utc);

// Central European summer time (CEST) in force at `utc`: from 01:00 UTC on the last Sunday of
// March to 01:00 UTC on the last Sunday of October.
bool CentralEuropeanSummerTime(int64_t utc);

// Station names as given on the command line: msf hbg dcf77 wwvb vng rwm wwv wwvh jjy jjy40 jjy60 chu.
// Returns nullptr for a station without an encoder.
std::unique_ptr<StationEncoder> MakeEncoder(const std::string& station);
