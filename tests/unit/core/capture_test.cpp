// SPDX-License-Identifier: GPL-3.0-or-later
// Start, stop, the wave-error messages, the snapshot and the idle-driven loop, against a
// scripted wave-input device.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fakes.h"

namespace {

class CaptureTest : public DocTest {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/varnol-capture-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_TRUE(getcwd(old_cwd_, sizeof old_cwd_) != nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    std::remove("recording.wav");
    EXPECT_EQ(chdir(old_cwd_), 0);
    rmdir(dir_.c_str());
  }
  static std::string ReadFile(const char* path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  std::string dir_;
  char old_cwd_[4096] = {};
};

TEST_F(CaptureTest, StartOpensQueuesBothBuffersAndStarts) {
  doc.BlocksSinceMarker = 42;
  doc.SyncPhase = 1.5;
  doc.DisplayColumn = 300;
  doc.StartCapture();
  EXPECT_EQ(wave.Calls(), "open prepare0 add0 prepare1 add1 start");
  EXPECT_EQ(doc.Stopped, 0);
  EXPECT_EQ(doc.CaptureStarted, 1);
  EXPECT_EQ(doc.TracesValid, 1);
  EXPECT_EQ(doc.DisplayColumn, 0);
  EXPECT_EQ(doc.BlocksSinceMarker, -1);
  EXPECT_EQ(doc.SyncPhase, 0.0);
  EXPECT_STREQ(doc.StatusText, "decoding... ");
  EXPECT_EQ(log.hints, std::vector<int>{0});
  EXPECT_EQ(wave.format.nSamplesPerSec, 8000u);
  EXPECT_EQ(wave.format.nAvgBytesPerSec, 16000u);
  EXPECT_EQ(wave.format.wBitsPerSample, 16);
  EXPECT_EQ(doc.WaveHeaders[1].dwBufferLength, 4096u);

  doc.StartCapture();  // already running: nothing
  EXPECT_EQ(wave.calls.size(), 6u);
}

struct ErrorCase {
  MMRESULT code;
  const char* reason;
};

class WaveErrors : public CaptureTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(WaveErrors, FailedOpenShowsTheReasonAndStaysStopped) {
  wave.open_result = GetParam().code;
  doc.BlocksSinceMarker = 9;
  doc.StartCapture();
  ASSERT_EQ(errors.shown.size(), 1u);
  EXPECT_EQ(errors.shown[0], std::string("On opening the wave device..|") + GetParam().reason);
  EXPECT_EQ(wave.Calls(), "open");
  EXPECT_EQ(doc.Stopped, 1);
  EXPECT_EQ(doc.CaptureStarted, 0);
  EXPECT_STREQ(doc.StatusText, "decoding... ");
  EXPECT_EQ(doc.BlocksSinceMarker, -1);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, WaveErrors,
    ::testing::Values(ErrorCase{2, "The sound device does not exist"}, ErrorCase{3, ""},
                      ErrorCase{4, "Another program is using the sound device"},
                      ErrorCase{5, "The specified wave handle is invalid"},
                      ErrorCase{6, "No sound driver is present"},
                      ErrorCase{7, "Unable to allocate or lock memory"},
                      ErrorCase{32, "Your sound card does not support the audio format"},
                      ErrorCase{34, "The buffer has not been prepared"}, ErrorCase{1, ""},
                      ErrorCase{99, ""}));

TEST_F(CaptureTest, FailedBufferCallsAreEachReportedAndTheDeviceClosed) {
  wave.prepare_result[0] = MMSYSERR_NOMEM;
  wave.add_result[0] = WAVERR_UNPREPARED;
  doc.StartCapture();
  EXPECT_EQ(errors.shown, (std::vector<std::string>{
                              "On preparing buffer ..|Unable to allocate or lock memory",
                              "On adding buffer ..|The buffer has not been prepared"}));
  // Not started with a buffer missing; the device is closed again so the next Start can open it.
  EXPECT_EQ(wave.Calls(), "open prepare0 add0 prepare1 add1 reset unprepare1 close");
  EXPECT_EQ(doc.Stopped, 1);
  EXPECT_FALSE(wave.is_open);
  wave.prepare_result[0] = wave.add_result[0] = MMSYSERR_NOERROR;
  wave.calls.clear();
  doc.StartCapture();
  EXPECT_EQ(doc.Stopped, 0);
}

TEST_F(CaptureTest, DeviceThatWillNotStartIsClosed) {
  wave.start_result = MMSYSERR_NODRIVER;
  doc.StartCapture();
  EXPECT_EQ(errors.shown, std::vector<std::string>{"On starting recording..|No sound driver is present"});
  EXPECT_EQ(doc.Stopped, 1);
  EXPECT_FALSE(wave.is_open);
}

TEST_F(CaptureTest, StopWritesTheSnapshotAndStopWhenStoppedDoesNothing) {
  doc.StopCapture();
  EXPECT_TRUE(wave.calls.empty());
  EXPECT_TRUE(ReadFile("recording.wav").empty());

  doc.StartCapture();
  for (int i = 0; i < BufferSamples; ++i) {
    doc.CaptureBuffers[0][i] = static_cast<int16_t>(i);
    doc.CaptureBuffers[1][i] = static_cast<int16_t>(-i - 1);
  }
  doc.CurrentBuffer = 1;
  wave.calls.clear();
  doc.StopCapture();
  EXPECT_EQ(wave.Calls(), "reset unprepare0 unprepare1 close");
  EXPECT_EQ(doc.Stopped, 1);
  EXPECT_EQ(doc.TracesValid, 1);
  const std::string f = ReadFile("recording.wav");
  ASSERT_EQ(f.size(), 4142u);
  const unsigned char header[46] = {'R', 'I', 'F', 'F', 0x26, 0x10, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm',
                                    't', ' ', 18, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E,
                                    0, 0, 2, 0, 16, 0, 0, 0, 'd', 'a', 't', 'a', 0, 0x10, 0, 0};
  EXPECT_EQ(f.substr(0, 46), std::string(reinterpret_cast<const char*>(header), 46));
  auto sample = [&](size_t byte) {
    return static_cast<int16_t>(static_cast<unsigned char>(f[byte]) | (static_cast<unsigned char>(f[byte + 1]) << 8));
  };
  // First half of the buffer due next (1), then the first half of the other (0).
  EXPECT_EQ(sample(46), -1);
  EXPECT_EQ(sample(46 + 2 * 1023), -1024);
  EXPECT_EQ(sample(2094), 0);
  EXPECT_EQ(sample(4140), 1023);
}

TEST_F(CaptureTest, UnwritableSnapshotIsSkippedSilently) {
  ASSERT_EQ(mkdir("recording.wav", 0700), 0);  // a folder where the file should go
  doc.StartCapture();
  doc.StopCapture();
  EXPECT_EQ(doc.Stopped, 1);
  EXPECT_TRUE(errors.shown.empty());
  rmdir("recording.wav");
}

TEST_F(CaptureTest, CurrentBufferSurvivesRestart) {
  doc.StartCapture();
  wave.Complete(doc, 0);
  doc.ProcessCaptureBuffer();
  EXPECT_EQ(doc.CurrentBuffer, 1);
  doc.StopCapture();
  wave.calls.clear();
  doc.StartCapture();
  EXPECT_EQ(doc.CurrentBuffer, 1);
  EXPECT_EQ(wave.Calls(), "open prepare0 add0 prepare1 add1 start");
}

TEST_F(CaptureTest, IdleCountsUpToTenNeverProcess) {
  for (long count = 0; count < 20; ++count) EXPECT_TRUE(doc.OnIdle(count));  // stopped: nothing
  EXPECT_EQ(doc.BlocksProcessed, 0);
  doc.StartCapture();
  wave.Complete(doc, 0);
  for (long count = 0; count <= 10; ++count) doc.OnIdle(count);
  EXPECT_EQ(doc.BlocksProcessed, 0);
  doc.OnIdle(11, /*framework_busy=*/true);
  EXPECT_EQ(doc.BlocksProcessed, 0);
  doc.OnIdle(11);
  EXPECT_EQ(doc.BlocksProcessed, 16);
}

TEST_F(CaptureTest, BuffersAreConsumedInTurnOnePerCall) {
  doc.StartCapture();
  wave.Complete(doc, 1);  // the other buffer is never taken out of turn
  doc.ProcessCaptureBuffer();
  EXPECT_EQ(doc.BlocksProcessed, 0);
  wave.Complete(doc, 0);
  doc.ProcessCaptureBuffer();
  EXPECT_EQ(doc.BlocksProcessed, 16);
  EXPECT_EQ(doc.CurrentBuffer, 1);
  EXPECT_EQ(log.hints.back(), UPDATE_HINT_NEW_BUFFER);
  doc.ProcessCaptureBuffer();
  EXPECT_EQ(doc.BlocksProcessed, 32);
  EXPECT_EQ(wave.calls.back(), "add1");
}

TEST_F(CaptureTest, ColumnAndRingWrap) {
  doc.StartCapture();
  doc.RingIndex = 3750;
  for (int n = 0; n < 38; ++n) {  // 608 blocks
    wave.Complete(doc, doc.CurrentBuffer);
    doc.ProcessCaptureBuffer();
  }
  EXPECT_EQ(doc.DisplayColumn, 8);
  EXPECT_EQ(doc.RingIndex, (3750 + 608) % 3756);
  EXPECT_EQ(doc.BlocksSinceMarker, -1);  // never advanced while -1
}

TEST_F(CaptureTest, RingWrapUsesTheCalibrationAfterTheDecoderStep) {
  doc.StartCapture();
  doc.RingIndex = 3740;
  doc.BlocksPerMinute = 3741;  // as a decoder lowering it would leave it
  wave.Complete(doc, 0);
  doc.ProcessCaptureBuffer();
  EXPECT_EQ(doc.RingIndex, (3740 + 16) % 3741);
}

TEST_F(CaptureTest, OutOfRangeSettingsDoNotBreakTheRing) {
  doc.StartCapture();
  doc.BlocksPerMinute = 0;
  doc.StationMode = 42;
  wave.Complete(doc, 0);
  doc.ProcessCaptureBuffer();
  EXPECT_EQ(doc.BlocksPerMinute, DefaultBlocksPerMinute);
  EXPECT_EQ(doc.StationMode, StationMsf);
  EXPECT_EQ(doc.RingIndex, 16);
}

TEST_F(CaptureTest, BufferThatCannotBeHandedBackStopsTheCapture) {
  doc.StartCapture();
  wave.requeue_result = MMSYSERR_INVALHANDLE;
  wave.Complete(doc, 0);
  doc.ProcessCaptureBuffer();
  EXPECT_EQ(doc.Stopped, 1);
  EXPECT_FALSE(wave.is_open);
  EXPECT_EQ(ReadFile("recording.wav").size(), 4142u);
}

TEST_F(CaptureTest, DestructorStopsARunningCaptureAndWritesTheSnapshot) {
  {
    ScriptedWave w;
    CVarnolDoc d(w, clock, errors);
    w.doc = &d;
    d.StartCapture();
  }
  EXPECT_EQ(ReadFile("recording.wav").size(), 4142u);
}

// The user's files around the snapshot: a link planted under the old temporary name is never
// followed, the recording being played is never replaced (under any of its names), nothing is
// written when no snapshot is asked for, and a failed write leaves nothing behind.
TEST_F(CaptureTest, SnapshotKeepsTheUsersFiles) {
  struct Outcomes : DocObserver {
    void OnSnapshot(SnapshotOutcome o, const char*, int e) override {
      outcome = o;
      error = e;
    }
    SnapshotOutcome outcome = SnapshotOutcome::NotAsked;
    int error = -1;
  } seen;
  doc.AddObserver(&seen);
  auto run = [&] {
    doc.StartCapture();
    doc.StopCapture();
    return doc.LastSnapshot;
  };
  std::ofstream("victim.txt") << "keep me";
  ASSERT_EQ(symlink("victim.txt", "recording.wav.part"), 0);
  EXPECT_EQ(run(), SnapshotOutcome::Written);
  EXPECT_EQ(ReadFile("victim.txt"), "keep me");
  EXPECT_EQ(ReadFile("recording.wav").size(), 4142u);
  EXPECT_EQ(seen.outcome, SnapshotOutcome::Written);

  std::ofstream("played.wav") << "the user's recording";
  ASSERT_TRUE(doc.ProtectFromSnapshot("played.wav"));
  doc.SnapshotPath = "played.wav";
  EXPECT_EQ(run(), SnapshotOutcome::WouldReplaceInput);
  std::remove("recording.wav");
  ASSERT_EQ(link("played.wav", "recording.wav"), 0);
  doc.SnapshotPath = CVarnolDoc::RecordingFileName;
  EXPECT_EQ(run(), SnapshotOutcome::WouldReplaceInput);
  EXPECT_EQ(seen.outcome, SnapshotOutcome::WouldReplaceInput);
  EXPECT_EQ(ReadFile("played.wav"), "the user's recording");
  std::remove("recording.wav");

  doc.SnapshotPath = "";
  EXPECT_EQ(run(), SnapshotOutcome::NotAsked);
  EXPECT_TRUE(ReadFile("recording.wav").empty());

  ASSERT_EQ(mkdir("recording.wav", 0700), 0);  // a folder in the way
  doc.SnapshotPath = CVarnolDoc::RecordingFileName;
  EXPECT_EQ(run(), SnapshotOutcome::CannotWrite);
  EXPECT_EQ(seen.error, EISDIR);
  EXPECT_TRUE(errors.shown.empty());  // the window says nothing

  std::vector<std::string> left;
  if (DIR* d = opendir(".")) {
    while (const dirent* e = readdir(d))
      if (e->d_name[0] != '.') left.emplace_back(e->d_name);
    closedir(d);
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left,
            (std::vector<std::string>{"played.wav", "recording.wav", "recording.wav.part", "victim.txt"}));
  doc.RemoveObserver(&seen);
  rmdir("recording.wav");
  for (const char* f : {"played.wav", "recording.wav.part", "victim.txt"}) std::remove(f);
}

}  // namespace
