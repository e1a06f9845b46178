// SPDX-License-Identifier: GPL-3.0-or-later
// Stand-ins for the document's services: a wave-input device whose calls all succeed unless
// told otherwise, a settable clock in UTC, and recorders for the wave-error dialog and the
// command-UI refresh.
#pragma once

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/varnol_doc.h"

// Every call succeeds unless a failure is set; buffers are never filled.
class FakeWaveInput : public WaveInput {
 public:
  MMRESULT open_result = MMSYSERR_NOERROR;
  int opens = 0;
  MMRESULT waveInOpen(HWAVEIN* handle, unsigned int, const WAVEFORMATEX*, uintptr_t, uintptr_t,
                      uint32_t) override {
    ++opens;
    if (open_result != MMSYSERR_NOERROR) return open_result;
    *handle = 7;
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInPrepareHeader(HWAVEIN, WAVEHDR* h, unsigned int) override {
    h->dwFlags.fetch_or(WHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInUnprepareHeader(HWAVEIN, WAVEHDR* h, unsigned int) override {
    h->dwFlags.fetch_and(~WHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInAddBuffer(HWAVEIN, WAVEHDR*, unsigned int) override { return MMSYSERR_NOERROR; }
  MMRESULT waveInStart(HWAVEIN) override { return MMSYSERR_NOERROR; }
  MMRESULT waveInReset(HWAVEIN) override { return MMSYSERR_NOERROR; }
  MMRESULT waveInClose(HWAVEIN) override { return MMSYSERR_NOERROR; }
};

// A clock standing at `now`, whose local time is UTC.
class FakeClock : public SystemClock {
 public:
  int64_t now = 0;
  int64_t Now() override { return now; }
  LocalDateTime Local(int64_t t) override {
    const SYSTEMTIME st = SystemTimeFromUnix(t);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
  }
  int64_t LocalStandardToTime(const LocalDateTime& l) override {
    SYSTEMTIME st;
    st.wYear = uint16_t(l.year);
    st.wMonth = uint16_t(l.month);
    st.wDay = uint16_t(l.day);
    st.wHour = uint16_t(l.hour);
    st.wMinute = uint16_t(l.minute);
    st.wSecond = uint16_t(l.second);
    return UnixFromSystemTime(st);
  }
  SYSTEMTIME GetSystemTime() override { return SystemTimeFromUnix(now); }
  bool SetSystemTime(const SYSTEMTIME& st) override {
    now = UnixFromSystemTime(st);
    return true;
  }
};

class RecordingErrors : public WaveErrorDialog {
 public:
  std::vector<std::pair<std::string, std::string>> shown;
  void ShowModal(const std::string& operation, const std::string& reason) override {
    shown.emplace_back(operation, reason);
  }
};

// What an update handler did to its item.
class RecordingCmdUI : public CVarnolDoc::CCmdUI {
 public:
  int check = -1;  // -1: not set
  std::string text;
  bool text_set = false;
  void SetCheck(int c) override { check = c; }
  void SetText(const char* t) override {
    text = t;
    text_set = true;
  }
};
