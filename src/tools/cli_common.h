// Pieces shared by the command-line tools.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/system_clock.h"

// Station names on the command line, in the order of StationMode: msf hbg dcf77 wwvb vng rwm wwv;
// wwvh is WWV's mode with Hawaii's signal.
std::optional<int> StationFromName(const std::string& name);
const char* StationName(int station_mode);

// ISO 8601 UTC: 2026-12-07T13:05:00Z, 2026-12-07T13:05Z, 2026-12-07 13:05:00 (Z optional).
std::optional<int64_t> ParseIsoUtc(const std::string& text);
// The same, in milliseconds since 1970, also with a fraction of a second after the seconds
// (2023-06-25T20:27:58.22Z, up to nine digits, rounded to the millisecond).
std::optional<int64_t> ParseIsoUtcMilliseconds(const std::string& text);
std::string FormatIsoUtc(const SYSTEMTIME& st);

std::optional<double> ParseDouble(const std::string& text);
std::optional<long> ParseLong(const std::string& text);

// JSON string literal with the needed escapes.
std::string JsonString(const std::string& text);

// Why a file named on the command line for writing (a snapshot, a chart) cannot be written:
// its folder is missing or not writable, or the name is a folder. Found out before any
// decoding, not after it. Empty when it can be written.
std::string OutputFileProblem(const std::string& path);
