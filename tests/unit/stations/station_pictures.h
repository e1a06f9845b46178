// SPDX-License-Identifier: GPL-3.0-or-later
// Synthetic minutes of the stations, drawn into the level ring the way the front end would
// have stored them, and small helpers around the document fixture of the core tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "unit/core/fakes.h"
#include "unit/core/ring_builder.h"

// Runs the station's decoder once on the ring as it stands.
inline void DecodeOnce(CVarnolDoc& doc) {
  doc.DecodeBlock();
}

// Ends a marker run: a ring with no marker pattern (carrier throughout), one decoder step.
inline void EndRun(CVarnolDoc& doc) {
  FillRing(doc, [](int, double) { return true; });
  doc.DecodeBlock();
}

// The text of the only record, or "" when nothing was recorded.
inline std::string OnlyRecord(const CVarnolDoc& doc) {
  if (doc.MinuteRecordCount != 1) return doc.MinuteRecordCount == 0 ? "" : "several records";
  return doc.MinuteRecords[0].Text;
}

// BCD into a list of seconds with their weights, largest first.
template <int N>
void PutWeights(int (&bits)[60], const int (&seconds)[N], const int (&weights)[N], int value) {
  for (int i = 0; i < N; ++i) {
    if (value >= weights[i]) {
      bits[seconds[i]] = 1;
      value -= weights[i];
    }
  }
}

// Names the cases of a parameterised test after their `name` field.
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& p) {
  return p.param.name;
}

inline std::string Hhmmss(const SYSTEMTIME& st) {
  char s[40];
  std::snprintf(s, sizeof s, "%04d-%02d-%02d %02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond);
  return s;
}

// Stopping a capture writes "recording.wav" into the working directory: tests that stop one
// run inside a scratch directory of their own, removed afterwards.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    char name[] = "/tmp/varnol-stations-XXXXXX";
    if (mkdtemp(name) != nullptr) dir_ = name;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) old_ = cwd;
    if (!dir_.empty() && chdir(dir_.c_str()) != 0) dir_.clear();
  }
  ~ScratchDirectory() {
    if (dir_.empty()) return;
    if (!old_.empty() && chdir(old_.c_str()) != 0) return;
    std::remove((dir_ + "/recording.wav").c_str());
    rmdir(dir_.c_str());
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

 private:
  std::string dir_;
  std::string old_;
};
