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
std::string FormatIsoUtc(const SYSTEMTIME& st);

// Numbers in decimal only ("2.5", "-3", "1e3"); hexadecimal, "inf", spaces and the like are
// refused rather than read some other way.
std::optional<double> ParseDouble(const std::string& text);
std::optional<long> ParseLong(const std::string& text);

// JSON string literal with the needed escapes.
std::string JsonString(const std::string& text);

// Why a file named on the command line for writing (a snapshot, a chart) cannot be written:
// its folder is missing or not writable, the name is a folder, a socket or a block device, or
// a FIFO or device that may not be written. Found out before any decoding, not after it. Empty
// when it can be written.
std::string OutputFileProblem(const std::string& path);

// Whether both names lead to one existing file (through links too).
bool SameExistingFile(const std::string& a, const std::string& b);
