// SPDX-License-Identifier: GPL-3.0-or-later
// Test doubles for the clock's core: a scripted wave-input device and a recording wave-error
// dialog, plus a document fixture that wires them up.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/varnol_doc.h"
#include "platform/linux_clock.h"

// A wave-input device whose every call can be made to fail, and which records the calls.
class ScriptedWave : public WaveInput {
 public:
  MMRESULT open_result = MMSYSERR_NOERROR;
  MMRESULT prepare_result[2] = {MMSYSERR_NOERROR, MMSYSERR_NOERROR};
  MMRESULT add_result[2] = {MMSYSERR_NOERROR, MMSYSERR_NOERROR};
  MMRESULT start_result = MMSYSERR_NOERROR;
  MMRESULT requeue_result = MMSYSERR_NOERROR;  // waveInAddBuffer once capture runs
  std::vector<std::string> calls;
  bool is_open = false;
  bool running = false;

  MMRESULT waveInOpen(HWAVEIN* h, unsigned int device_id, const WAVEFORMATEX* f, uintptr_t cb,
                      uintptr_t inst, uint32_t flags) override {
    calls.push_back("open");
    EXPECT_EQ(device_id, WAVE_MAPPER);
    EXPECT_EQ(cb, 0u);
    EXPECT_EQ(inst, 0u);
    EXPECT_EQ(flags, 0u);
    format = *f;
    if (open_result != MMSYSERR_NOERROR) return open_result;
    is_open = true;
    *h = 77;
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInPrepareHeader(HWAVEIN, WAVEHDR* h, unsigned int) override {
    const int i = Index(h);
    calls.push_back("prepare" + std::to_string(i));
    if (prepare_result[i] != MMSYSERR_NOERROR) return prepare_result[i];
    h->dwFlags.fetch_or(WHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInUnprepareHeader(HWAVEIN, WAVEHDR* h, unsigned int) override {
    calls.push_back("unprepare" + std::to_string(Index(h)));
    h->dwFlags.fetch_and(~WHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInAddBuffer(HWAVEIN, WAVEHDR* h, unsigned int) override {
    const int i = Index(h);
    calls.push_back("add" + std::to_string(i));
    const MMRESULT r = running ? requeue_result : add_result[i];
    if (r == MMSYSERR_NOERROR) h->dwFlags.fetch_and(~WHDR_DONE);
    return r;
  }
  MMRESULT waveInStart(HWAVEIN) override {
    calls.push_back("start");
    if (start_result == MMSYSERR_NOERROR) running = true;
    return start_result;
  }
  MMRESULT waveInReset(HWAVEIN) override {
    calls.push_back("reset");
    running = false;
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInClose(HWAVEIN) override {
    calls.push_back("close");
    is_open = false;
    return MMSYSERR_NOERROR;
  }

  // Fills a queued buffer with samples and marks it done, as the driver would.
  void Complete(CVarnolDoc& d, int i, const int16_t* samples = nullptr) {
    if (samples != nullptr) std::memcpy(d.CaptureBuffers[i], samples, BufferSamples * 2);
    d.WaveHeaders[i].dwFlags.fetch_or(WHDR_DONE);
  }

  std::string Calls() const {
    std::string s;
    for (const auto& c : calls) s += (s.empty() ? "" : " ") + c;
    return s;
  }

  CVarnolDoc* doc = nullptr;
  WAVEFORMATEX format;

 private:
  int Index(const WAVEHDR* h) const { return doc != nullptr && h == &doc->WaveHeaders[1] ? 1 : 0; }
};

class RecordingErrors : public WaveErrorDialog {
 public:
  void ShowModal(const std::string& operation, const std::string& reason) override {
    shown.push_back(operation + "|" + reason);
  }
  std::vector<std::string> shown;
};

// Collects what the document reports.
class EventLog : public DocObserver {
 public:
  void OnUpdate(int hint) override { hints.push_back(hint); }
  void OnStatusText(const char* text) override { texts.emplace_back(text); }
  void OnClockWrite(const SYSTEMTIME& st, bool ok) override {
    writes.push_back(st);
    write_ok.push_back(ok);
  }
  void OnSyncOffset(int64_t s) override { offsets.push_back(s); }
  std::vector<int> hints;
  std::vector<std::string> texts;
  std::vector<SYSTEMTIME> writes;
  std::vector<bool> write_ok;
  std::vector<int64_t> offsets;
};

// A document on fakes. The simulated clock starts at 2026-12-07 13:00:00 UTC; tests run with
// TZ=UTC so local time is UTC.
class DocTest : public ::testing::Test {
 protected:
  static constexpr int64_t kStart = 1796648400;  // 2026-12-07T13:00:00Z
  DocTest() : clock(kStart), doc(wave, clock, errors) {
    wave.doc = &doc;
    doc.AddObserver(&log);
  }
  static void SetUpTestSuite() {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  ScriptedWave wave;
  RecordingErrors errors;
  SimulatedClock clock;
  CVarnolDoc doc;
  EventLog log;
};
