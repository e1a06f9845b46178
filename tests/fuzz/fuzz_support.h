// SPDX-License-Identifier: GPL-3.0-or-later
// Shared pieces of the fuzz harnesses: a private folder for the run, and a check that stops
// the run (so that the fuzzer or the replay keeps the input) when a property does not hold.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace fuzz {

// Reports a broken property and aborts, so the fuzzer saves the input as a crash.
#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

// A folder of its own for the whole run (under TMPDIR), removed when the process ends.
inline const std::string& RunFolder() {
  // Never destroyed, so that the clean-up at exit can still read it.
  static const std::string* const folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnol-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return new std::string(pattern);
  }();
  static const bool cleanup = std::atexit([] {
                                std::error_code ec;
                                std::filesystem::remove_all(*folder, ec);
                              }) == 0;
  (void)cleanup;
  return *folder;
}

}  // namespace fuzz
