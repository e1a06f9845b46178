// SPDX-License-Identifier: GPL-3.0-or-later
// The buffer queue shared by the capture backends, recordings as input, the simulated clock
// and the system-time conversions.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/varnol_doc.h"
#include "capture/recording_source.h"
#include "capture/source_wave_input.h"
#include "platform/linux_clock.h"
#include "tools/cli_common.h"

namespace {

class CountingSource : public SampleSource {
 public:
  explicit CountingSource(size_t total) : total_(total) {}
  size_t Read(int16_t* out, size_t count) override {
    size_t n = 0;
    while (n < count && next_ < total_) out[n++] = static_cast<int16_t>(next_++ % 30000);
    return n;
  }

 private:
  size_t total_;
  size_t next_ = 0;
};

struct Buffers {
  int16_t data[2][BufferSamples] = {};
  WAVEHDR h[2];
  Buffers() {
    for (int i = 0; i < 2; ++i) {
      h[i].lpData = reinterpret_cast<char*>(data[i]);
      h[i].dwBufferLength = sizeof data[i];
    }
  }
};

WAVEFORMATEX Pcm8k() {
  WAVEFORMATEX f;
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = 1;
  f.nSamplesPerSec = 8000;
  f.nAvgBytesPerSec = 16000;
  f.nBlockAlign = 2;
  f.wBitsPerSample = 16;
  return f;
}

TEST(SourceWaveInput, FillsQueuedBuffersInOrderAndMarksThemDone) {
  SourceWaveInput wave(std::make_unique<CountingSource>(5000));
  Buffers b;
  HWAVEIN h = 0;
  const WAVEFORMATEX f = Pcm8k();
  ASSERT_EQ(wave.waveInOpen(&h, WAVE_MAPPER, &f, 0, 0, 0), MMSYSERR_NOERROR);
  HWAVEIN second = 0;
  EXPECT_EQ(wave.waveInOpen(&second, WAVE_MAPPER, &f, 0, 0, 0), MMSYSERR_ALLOCATED);
  EXPECT_EQ(wave.waveInAddBuffer(h, &b.h[0], sizeof(WAVEHDR)), WAVERR_UNPREPARED);
  for (auto& hdr : b.h) {
    ASSERT_EQ(wave.waveInPrepareHeader(h, &hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(wave.waveInAddBuffer(h, &hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  EXPECT_FALSE(wave.Pump());  // not started
  ASSERT_EQ(wave.waveInStart(h), MMSYSERR_NOERROR);
  ASSERT_TRUE(wave.Pump());
  EXPECT_EQ(b.h[0].dwFlags.load() & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
  EXPECT_EQ(b.h[1].dwFlags.load() & WHDR_DONE, 0u);
  EXPECT_EQ(b.data[0][2047], 2047);
  ASSERT_TRUE(wave.Pump());
  EXPECT_EQ(b.data[1][0], 2048);
  EXPECT_FALSE(wave.Pump());  // nothing queued: nothing read
  ASSERT_EQ(wave.waveInAddBuffer(h, &b.h[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_FALSE(wave.Pump());  // 904 samples left: the partial buffer is not handed over
  EXPECT_TRUE(wave.AtEnd());
  EXPECT_EQ(b.h[0].dwFlags.load() & WHDR_DONE, 0u);
  // Reset hands back what is queued, marked done; then the headers can go.
  EXPECT_EQ(wave.waveInUnprepareHeader(h, &b.h[0], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  ASSERT_EQ(wave.waveInReset(h), MMSYSERR_NOERROR);
  EXPECT_NE(b.h[0].dwFlags.load() & WHDR_DONE, 0u);
  EXPECT_EQ(wave.waveInUnprepareHeader(h, &b.h[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_EQ(wave.waveInClose(h), MMSYSERR_NOERROR);
  EXPECT_EQ(wave.waveInStart(h), MMSYSERR_INVALHANDLE);
}

TEST(SourceWaveInput, RefusesOtherFormats) {
  SourceWaveInput wave(std::make_unique<CountingSource>(10));
  HWAVEIN h = 0;
  WAVEFORMATEX f = Pcm8k();
  f.nChannels = 2;
  EXPECT_EQ(wave.waveInOpen(&h, WAVE_MAPPER, &f, 0, 0, 0), WAVERR_BADFORMAT);
  f = Pcm8k();
  f.nSamplesPerSec = 11025;
  EXPECT_EQ(wave.waveInOpen(&h, WAVE_MAPPER, &f, 0, 0, 0), WAVERR_BADFORMAT);
  EXPECT_EQ(wave.waveInOpen(&h, 3, &f, 0, 0, 0), MMSYSERR_BADDEVICEID);
}

TEST(SourceWaveInput, RealTimePacingDeliversAndWakesTheReader) {
  SourceWaveInput wave(std::make_unique<CountingSource>(100000), SourceWaveInput::Pacing::RealTime);
  std::atomic<int> wakes{0};
  wave.SetBufferDoneNotifier([&] { wakes.fetch_add(1); });
  Buffers b;
  HWAVEIN h = 0;
  const WAVEFORMATEX f = Pcm8k();
  ASSERT_EQ(wave.waveInOpen(&h, WAVE_MAPPER, &f, 0, 0, 0), MMSYSERR_NOERROR);
  for (auto& hdr : b.h) {
    wave.waveInPrepareHeader(h, &hdr, sizeof(WAVEHDR));
    wave.waveInAddBuffer(h, &hdr, sizeof(WAVEHDR));
  }
  wave.waveInStart(h);
  for (int i = 0; i < 200 && (b.h[0].dwFlags.load() & WHDR_DONE) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(b.h[0].dwFlags.load() & WHDR_DONE, 0u);
  EXPECT_GE(wakes.load(), 1);
  wave.waveInReset(h);
  for (auto& hdr : b.h) wave.waveInUnprepareHeader(h, &hdr, sizeof(WAVEHDR));
  EXPECT_EQ(wave.waveInClose(h), MMSYSERR_NOERROR);
}

std::string WriteTone(const char* name, int rate, int channels, double seconds) {
  const std::string path = std::string("/tmp/varnol-unit-") + std::to_string(getpid()) + name;
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(f, nullptr);
  const int frames = static_cast<int>(seconds * rate);
  std::vector<short> data(static_cast<size_t>(frames * channels));
  for (int i = 0; i < frames; ++i) {
    data[static_cast<size_t>(i * channels)] = static_cast<short>(1000 * std::sin(2 * M_PI * 1000.0 * i / rate));
    for (int c = 1; c < channels; ++c) data[static_cast<size_t>(i * channels + c)] = 12345;  // not the signal
  }
  sf_writef_short(f, data.data(), frames);
  sf_close(f);
  return path;
}

TEST(RecordingSource, ResamplesToEightKilohertzAndTakesTheLeftChannel) {
  const std::string path = WriteTone("-44k.wav", 44100, 2, 2.0);
  std::string error;
  auto source = RecordingSource::Open(path, error);
  ASSERT_NE(source, nullptr) << error;
  EXPECT_EQ(source->FileRate(), 44100);
  std::vector<int16_t> out(20000);
  const size_t n = source->Read(out.data(), out.size());
  EXPECT_NEAR(static_cast<double>(n), 16000.0, 40.0);  // two seconds at 8000 per second
  // One period of 1 kHz at 8000 per second is 8 samples: x[i] and x[i+8] agree.
  double diff = 0, energy = 0;
  for (size_t i = 2000; i < 10000; ++i) {
    diff += std::abs(out[i] - out[i + 8]);
    energy += std::abs(out[i]);
  }
  EXPECT_LT(diff, 0.02 * energy);
  // Mean |x| of a 1000-peak sine taken 8 times a period: 603 to 653 depending on phase (the
  // right channel's constant 12345 would be far above).
  EXPECT_GT(energy / 8000.0, 590.0);
  EXPECT_LT(energy / 8000.0, 660.0);
  std::remove(path.c_str());
}

TEST(RecordingSource, UnreadableInputsSayWhy) {
  std::string error;
  EXPECT_EQ(RecordingSource::Open("/nonexistent/x.wav", error), nullptr);
  EXPECT_FALSE(error.empty());
  const std::string text = "/tmp/varnol-unit-text.wav";
  FILE* f = std::fopen(text.c_str(), "w");
  std::fputs("hello", f);
  std::fclose(f);
  error.clear();
  EXPECT_EQ(RecordingSource::Open(text, error), nullptr);
  EXPECT_FALSE(error.empty());
  std::remove(text.c_str());
  const std::string empty = WriteTone("-empty.wav", 8000, 1, 0.0);
  error.clear();
  EXPECT_EQ(RecordingSource::Open(empty, error), nullptr);
  EXPECT_EQ(error, "the recording holds no audio");
  std::remove(empty.c_str());
}

TEST(SimulatedClock, FollowsTheAudioAndItsWrites) {
  SimulatedClock c(1796648400, 3756.0);
  int64_t blocks = 3756;  // one minute of audio
  c.FollowBlocks(&blocks);
  EXPECT_EQ(c.Now(), 1796648460);
  SYSTEMTIME st = c.GetSystemTime();
  st.wMinute = 30;
  st.wSecond = 1;
  EXPECT_TRUE(c.SetSystemTime(st));
  EXPECT_EQ(c.Now(), 1796648400 + 30 * 60 + 1);
  blocks += 3756 * 2;
  EXPECT_EQ(c.Now(), 1796648400 + 32 * 60 + 1);
  c.RefuseWrites(true);
  EXPECT_FALSE(c.SetSystemTime(st));
  EXPECT_EQ(c.Now(), 1796648400 + 32 * 60 + 1);
}

TEST(SystemTime, ConversionsRoundTripAcrossYearsAndLeapDays) {
  for (int64_t t : {int64_t{0}, int64_t{951782400} /* 2000-02-29 */, int64_t{1798761599}, int64_t{4107542400}}) {
    const SYSTEMTIME st = SystemTimeFromUnix(t);
    EXPECT_EQ(UnixFromSystemTime(st), t);
  }
  const SYSTEMTIME leap = SystemTimeFromUnix(951782400 + 3661);
  EXPECT_EQ(leap.wYear, 2000);
  EXPECT_EQ(leap.wMonth, 2);
  EXPECT_EQ(leap.wDay, 29);
  EXPECT_EQ(leap.wDayOfWeek, 2);  // a Tuesday
  EXPECT_EQ(leap.wHour, 1);
  EXPECT_EQ(leap.wMinute, 1);
  EXPECT_EQ(leap.wSecond, 1);
}

// A recording's first sample at a fraction of a second: milliseconds since 1970, or refused.
struct FractionCase {
  const char* text;
  int64_t ms;  // -1 = refused
};

class ClockFraction : public ::testing::TestWithParam<FractionCase> {};

TEST_P(ClockFraction, MillisecondsOrRefused) {
  const FractionCase& c = GetParam();
  const auto ms = ParseIsoUtcMilliseconds(c.text);
  if (c.ms < 0) {
    EXPECT_FALSE(ms) << c.text;
  } else {
    ASSERT_TRUE(ms) << c.text;
    EXPECT_EQ(*ms, c.ms) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, ClockFraction,
                         ::testing::Values(FractionCase{"2023-06-25T20:27:58.22Z", 1687724878220},
                                           FractionCase{"2023-06-25T20:27:58Z", 1687724878000},
                                           FractionCase{"2023-06-25 20:27:58.5", 1687724878500},
                                           FractionCase{"2023-06-25T20:27:58.0005Z", 1687724878001},
                                           FractionCase{"2023-06-25T20:27:59.9996Z", 1687724880000},
                                           FractionCase{"2023-06-25T20:27:58.123456789Z", 1687724878123},
                                           FractionCase{"2023-06-25T20:27Z", 1687724820000},
                                           FractionCase{"2023-06-25T20:27:58.Z", -1},
                                           FractionCase{"2023-06-25T20:27:58.1234567890Z", -1},
                                           FractionCase{"2023-06-25T20:27:58,22Z", -1},
                                           FractionCase{"2023-06-25T20:27.5Z", -1},
                                           FractionCase{"2023-06-25T20:27:58.-2Z", -1}));

TEST(CommandLine, TimesAndNumbers) {
  EXPECT_EQ(ParseIsoUtc("2026-12-07T13:05:00Z"), 1796648700);
  EXPECT_EQ(ParseIsoUtc("2026-12-07T13:05Z"), 1796648700);
  EXPECT_EQ(ParseIsoUtc("2026-12-07 13:05:30"), 1796648730);
  EXPECT_FALSE(ParseIsoUtc("2026-02-30T00:00:00Z"));
  EXPECT_FALSE(ParseIsoUtc("2026-12-07T25:00:00Z"));
  EXPECT_FALSE(ParseIsoUtc("2026-12-07T13:05:00+02:00"));
  EXPECT_FALSE(ParseIsoUtc("yesterday"));
  EXPECT_FALSE(ParseIsoUtc("2026-12-07T13:05:00.5Z"));  // whole seconds only where a minute starts
  EXPECT_FALSE(ParseDouble("1.5x"));
  EXPECT_FALSE(ParseDouble("nan"));
  EXPECT_EQ(ParseDouble("-3.5"), -3.5);
  EXPECT_EQ(ParseDouble("1e3"), 1000.0);
  EXPECT_EQ(ParseLong("-12"), -12);
  // Decimal only: what strtod and strtol would also read some other way is refused.
  for (const char* other : {"0x10", "0X1p4", "inf", "infinity", " 5", "5 ", "1.", ""}) {
    EXPECT_FALSE(ParseDouble(other)) << other;
    EXPECT_FALSE(ParseLong(other)) << other;
  }
  EXPECT_EQ(JsonString("a\"b\\c\n"), "\"a\\\"b\\\\c\\n\"");
  EXPECT_EQ(StationFromName("wwv"), 6);
  EXPECT_EQ(StationFromName("wwvh"), 6);
  for (const char* jjy : {"jjy", "jjy40", "jjy60"}) EXPECT_EQ(StationFromName(jjy), 7) << jjy;
  EXPECT_STREQ(StationName(7), "jjy");
  EXPECT_EQ(StationFromName("chu"), 8);
  EXPECT_STREQ(StationName(8), "chu");
  EXPECT_STREQ(StationName(StationCount), "?");
  // Every name the list gives is taken, and gives the station back under its own name.
  std::string list = StationNameList() + ", ";
  for (size_t at; (at = list.find(", ")) != std::string::npos; list.erase(0, at + 2))
    EXPECT_TRUE(StationFromName(list.substr(0, at))) << list.substr(0, at);
  for (int station = 0; station < StationCount; ++station)
    EXPECT_EQ(StationFromName(StationName(station)), station);
  EXPECT_FALSE(StationFromName("DCF"));
  EXPECT_FALSE(StationFromName("jjy50"));
}

}  // namespace

namespace {

std::string ReadBytes(const std::string& path) {
  std::string bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
    std::fclose(f);
  }
  return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace

// A one-second 8000 Hz WAV with its header's sample rate replaced, or cut short: absurd rates
// are refused with the rate named, a cut file is read as far as it goes and says so.
TEST(RecordingSource, AbsurdRatesAreRefusedAndACutFileEndsEarly) {
  const std::string good = WriteTone("-hdr.wav", 8000, 1, 1.0);
  const std::string whole = ReadBytes(good);
  ASSERT_EQ(whole.size(), 44u + 16000u);
  struct Case {
    uint32_t rate;  // written into the header (the byte rate is left as it was)
    size_t keep;    // bytes of the file kept
    bool opens;
    bool ended_early;
    size_t min_samples, max_samples;  // read at 8000 per second
  } cases[] = {
      {8000, whole.size(), true, false, 8000, 8000},
      {8000, 44 + 8000, true, true, 4000, 4000},  // half the data: the header claims twice that
      {1, whole.size(), false, false, 0, 0},
      {3999, whole.size(), false, false, 0, 0},
      {4000, whole.size(), true, false, 15900, 16100},  // 8000 frames at 4 kHz: two seconds
      {384000, whole.size(), true, false, 150, 200},
      {384001, whole.size(), false, false, 0, 0},
      {0x7FFFFFFFu, whole.size(), false, false, 0, 0},
      {0x80000000u, whole.size(), false, false, 0, 0},
  };
  const std::string path = good + "-patched.wav";
  for (const Case& c : cases) {
    std::string bytes = whole.substr(0, c.keep);
    for (int i = 0; i < 4; ++i)
      bytes[static_cast<size_t>(24 + i)] = static_cast<char>((c.rate >> (8 * i)) & 0xFF);
    WriteBytes(path, bytes);
    std::string error;
    auto source = RecordingSource::Open(path, error);
    EXPECT_EQ(source != nullptr, c.opens) << c.rate << " Hz: " << error;
    if (!source) {
      // (A rate beyond 2^31 - 1 is refused by libsndfile itself, in its own words.)
      if (c.rate <= 0x7FFFFFFFu) {
        EXPECT_NE(error.find(std::to_string(c.rate) + " Hz"), std::string::npos) << error;
      }
      continue;
    }
    std::vector<int16_t> out(40000);
    const size_t n = source->Read(out.data(), out.size());
    EXPECT_GE(n, c.min_samples) << c.rate << " Hz, " << c.keep << " bytes";
    EXPECT_LE(n, c.max_samples) << c.rate << " Hz, " << c.keep << " bytes";
    EXPECT_EQ(source->EndedEarly(), c.ended_early) << c.rate << " Hz, " << c.keep << " bytes";
  }
  std::remove(path.c_str());
  std::remove(good.c_str());
}

// Each format libsndfile writes, whole, cut in half and cut to 100 bytes: the whole file reads
// to its end without a complaint; a cut one is refused at the start or, once read as far as it
// goes, says that it ended early or failed -- never a silent success.
struct CutCase {
  const char* name;
  int format;
  bool stub;  // also cut to 100 bytes (libsndfile leaks its Vorbis state refusing such an Ogg stub)
};

class CutRecording : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutRecording, IsNeverTakenForAWholeOne) {
  const CutCase& c = GetParam();
  const std::string path = std::string("/tmp/varnol-unit-") + std::to_string(getpid()) + "-cut." + c.name;
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = c.format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  std::vector<short> tone(8000 * 10);
  for (size_t i = 0; i < tone.size(); ++i)
    tone[i] = static_cast<short>(3000 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / 8000.0));
  sf_write_short(f, tone.data(), static_cast<sf_count_t>(tone.size()));
  sf_close(f);
  const std::string whole = ReadBytes(path);
  std::vector<int16_t> out(8000 * 12);
  for (const size_t keep : {whole.size(), whole.size() / 2, size_t{100}}) {
    if (keep == 100 && !c.stub) continue;
    WriteBytes(path, whole.substr(0, keep));
    std::string error;
    auto source = RecordingSource::Open(path, error);
    if (source == nullptr) {
      EXPECT_NE(keep, whole.size()) << "the whole file is refused: " << error;
      EXPECT_FALSE(error.empty());
      continue;
    }
    const size_t n = source->Read(out.data(), out.size());
    const bool complained = source->EndedEarly() || !source->ReadError().empty();
    if (keep == whole.size()) {
      EXPECT_EQ(n, tone.size());
      EXPECT_FALSE(complained) << source->ReadError();
    } else {
      EXPECT_LT(n, tone.size()) << keep << " bytes";
      EXPECT_TRUE(complained) << keep << " of " << whole.size() << " bytes read silently";
    }
  }
  std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Formats, CutRecording,
                         ::testing::Values(CutCase{"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, true},
                                           CutCase{"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, true},
                                           CutCase{"au", SF_FORMAT_AU | SF_FORMAT_PCM_16, true},
                                           CutCase{"w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, true},
                                           CutCase{"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, true},
                                           CutCase{"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, false}),
                         [](const auto& p) { return std::string(p.param.name); });

// A FIFO as the recording: Open says once that it waits and gives up when told to, without
// blocking in open(); audio written into it later is read, and a WAV cut short on the way is
// noticed although its length cannot be checked at the start.
TEST(RecordingSource, FifoIsWaitedForAndReadToItsHeadersEnd) {
  const std::string dir = std::string("/tmp/varnol-unit-") + std::to_string(getpid()) + "-fifo";
  const std::string fifo = dir + "/in.wav";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int said = 0, asked = 0;
  const RecordingSource::WriterWait give_up{[&] { ++said; }, [&] { return ++asked >= 3; }};
  std::string error;
  EXPECT_EQ(RecordingSource::Open(fifo, error, ChannelChoice::Left, &give_up), nullptr);
  EXPECT_EQ(said, 1);
  EXPECT_EQ(asked, 3);
  EXPECT_NE(error.find("FIFO"), std::string::npos) << error;

  const std::string whole = ReadBytes(WriteTone("-fifo-src.wav", 8000, 1, 2.0));
  for (const size_t keep : {whole.size(), whole.size() / 2}) {
    // The writer comes after the reader has started waiting.
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(600));
      WriteBytes(fifo, whole.substr(0, keep));
    });
    said = 0;
    const RecordingSource::WriterWait wait{[&] { ++said; }, {}};
    auto source = RecordingSource::Open(fifo, error, ChannelChoice::Left, &wait);
    ASSERT_NE(source, nullptr) << error;
    std::vector<int16_t> out(20000);
    const size_t n = source->Read(out.data(), out.size());
    writer.join();
    EXPECT_EQ(said, 1);
    EXPECT_EQ(n, (keep - 44) / 2);
    EXPECT_EQ(source->EndedEarly(), keep != whole.size()) << keep << " bytes";
  }
  std::remove(fifo.c_str());
  ::rmdir(dir.c_str());
  std::remove(("/tmp/varnol-unit-" + std::to_string(getpid()) + "-fifo-src.wav").c_str());
}

TEST(RecordingSource, TakesTheChosenChannel) {
  // Left 1000, right -3000 throughout, at 8000 Hz (no resampling in the way).
  const std::string path = std::string("/tmp/varnol-unit-") + std::to_string(getpid()) + "-lr.wav";
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  std::vector<short> frames(2 * 4000);
  for (size_t i = 0; i < frames.size(); i += 2) {
    frames[i] = 1000;
    frames[i + 1] = -3000;
  }
  sf_writef_short(f, frames.data(), 4000);
  sf_close(f);
  const struct {
    const char* name;
    int16_t expected;
  } cases[] = {{"left", 1000}, {"right", -3000}, {"mix", -1000}};
  for (const auto& c : cases) {
    std::string error;
    auto source = RecordingSource::Open(path, error, *ChannelFromName(c.name));
    ASSERT_NE(source, nullptr) << error;
    std::vector<int16_t> out(4000);
    ASSERT_EQ(source->Read(out.data(), out.size()), 4000u);
    EXPECT_EQ(out[0], c.expected) << c.name;
    EXPECT_EQ(out[3999], c.expected) << c.name;
  }
  EXPECT_FALSE(ChannelFromName("centre"));
  std::remove(path.c_str());
}

// A 16-bit recording at 8000 Hz gives its samples exactly, the 16-bit limits included, over
// several reads' worth of frames; "mix" rounds the mean of the two sides half away from zero
// (the mean of 3 and -4 is -1, of 1 and 2 is 2), whatever the container.
TEST(RecordingSource, SixteenBitSamplesComeThroughExactly) {
  const int16_t pairs[][2] = {{32767, 32767}, {-32768, -32768}, {32767, -32768}, {1, 2},  {-1, -2},
                              {3, -4},        {0, 1},           {0, -1},         {-7, 0}, {12345, -321}};
  constexpr int Frames = 10007;  // more than two chunks of the reader
  std::vector<short> data(2 * Frames);
  uint32_t seed = 1;
  for (int i = 0; i < Frames; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const int16_t* p = pairs[seed % std::size(pairs)];
    const int16_t wobble = static_cast<int16_t>((seed >> 20) % 200 - 100);
    data[2 * i] = i % 3 == 0 ? p[0] : static_cast<int16_t>(p[0] / 2 + wobble);
    data[2 * i + 1] = i % 3 == 0 ? p[1] : static_cast<int16_t>(p[1] / 2 - wobble - i % 2);
  }
  const std::string path = std::string("/tmp/varnol-unit-") + std::to_string(getpid()) + "-16bit";
  for (int format : {SF_FORMAT_WAV, SF_FORMAT_FLAC, SF_FORMAT_AIFF}) {
    for (int channels : {1, 2}) {
      SF_INFO info{};
      info.samplerate = 8000;
      info.channels = channels;
      info.format = format | SF_FORMAT_PCM_16;
      SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
      ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
      std::vector<short> written;
      for (int i = 0; i < Frames; ++i)
        for (int c = 0; c < channels; ++c) written.push_back(data[static_cast<size_t>(2 * i + c)]);
      sf_writef_short(f, written.data(), Frames);
      sf_close(f);
      for (ChannelChoice choice : {ChannelChoice::Left, ChannelChoice::Right, ChannelChoice::Mix}) {
        std::string error;
        auto source = RecordingSource::Open(path, error, choice);
        ASSERT_NE(source, nullptr) << error;
        std::vector<int16_t> out(Frames + 100);
        ASSERT_EQ(source->Read(out.data(), out.size()), static_cast<size_t>(Frames));
        int wrong = 0;
        for (int i = 0; i < Frames; ++i) {
          const int a = data[static_cast<size_t>(2 * i)], b = data[static_cast<size_t>(2 * i + 1)];
          const long want = channels == 1 || choice == ChannelChoice::Left ? a
                            : choice == ChannelChoice::Right               ? b
                                                                           : std::lround((a + b) / 2.0);
          if (out[static_cast<size_t>(i)] != want && ++wrong <= 3)
            ADD_FAILURE() << "format " << std::hex << format << std::dec << ", " << channels
                          << " channels, choice " << static_cast<int>(choice) << ", frame " << i << ": " << a
                          << " and " << b << " gave " << out[static_cast<size_t>(i)] << ", not " << want;
        }
      }
    }
  }
  std::remove(path.c_str());
}
