// SPDX-License-Identifier: GPL-3.0-or-later
// Pieces shared by the command-line tools.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/system_clock.h"

// The version every program reports (--version), set in one place by the build.
#ifndef VARNOL_VERSION
#error "VARNOL_VERSION is set by the build (CMakeLists.txt)"
#endif

// A program's command line with every "--option=value" split into "--option" and "value", so
// that the options are read in one form whichever way they were written (a service's
// EnvironmentFile gives "--device=hw:1" as readily as "--device hw:1"). Only the first '='
// splits; the value may hold more. Attached(i) says that argument i came after an '=': it can
// only be the value of the option before it, never an option of its own.
class CommandLine {
 public:
  CommandLine(int argc, const char* const* argv);
  explicit CommandLine(const std::vector<std::string>& args);  // args[0]: the program
  int Count() const { return static_cast<int>(args_.size()); }
  // Pointers into this object, in argv's form (ending with a null pointer).
  char** Argv() { return pointers_.data(); }
  const std::string& Arg(int i) const { return args_[static_cast<size_t>(i)]; }
  bool Attached(int i) const { return i >= 0 && i < Count() && attached_[static_cast<size_t>(i)]; }
  // The complaint for an attached value that no option took ("--json takes no value"); empty
  // when argument i is not one.
  std::string StrayValue(int i) const;

 private:
  void Split(const std::vector<std::string>& args);
  std::vector<std::string> args_;
  std::vector<bool> attached_;
  std::vector<char*> pointers_;
};

// Station names on the command line, in the order of StationMode: msf hbg dcf77 wwvb vng rwm wwv
// jjy chu; wwvh is WWV's mode with Hawaii's signal, jjy40 and jjy60 are JJY's two transmitters.
std::optional<int> StationFromName(const std::string& name);
const char* StationName(int station_mode);
// Every name StationFromName takes, for messages: "msf, hbg, ..., jjy60".
std::string StationNameList();

// ISO 8601 UTC: 2026-12-07T13:05:00Z, 2026-12-07T13:05Z, 2026-12-07 13:05:00 (Z optional).
std::optional<int64_t> ParseIsoUtc(const std::string& text);
// The same, in milliseconds since 1970, also with a fraction of a second after the seconds
// (2023-06-25T20:27:58.22Z, up to nine digits, rounded to the millisecond).
std::optional<int64_t> ParseIsoUtcMilliseconds(const std::string& text);
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

// SIGINT, SIGTERM and SIGHUP (a closed terminal or session) go to `handler`, which ends the run
// as its normal end does. Caught without SA_RESTART, so that a wait for a pipe's other end is
// ended too. SIGUSR1 and SIGUSR2 mean nothing to these tools and are ignored rather than ending
// the program without its outputs.
void CatchEndingSignals(void (*handler)(int));
