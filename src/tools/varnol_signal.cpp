// SPDX-License-Identifier: GPL-3.0-or-later
// varnol-signal: writes the simulated receiver's audio for a station to a sound file (WAV,
// FLAC, Ogg Vorbis, ...), as a receiver would feed it to the sound card.
#include <fcntl.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "capture/recording_source.h"
#include "platform/atomic_file.h"
#include "simulator/receiver.h"
#include "tools/cli_common.h"
#include "tools/receiver_options.h"

namespace {

const char* const kUsage =
    "Usage: varnol-signal --output FILE [options]\n"
    "Writes a station's simulated time signal as a mono sound file.\n"
    "\n"
    "  --output FILE           the file to write (required); its ending chooses the format:\n"
    "                          .wav (16-bit), .flac, .ogg (Vorbis), .mp3 (when this libsndfile\n"
    "                          writes MP3), .aiff, .au\n"
    "  --station NAME          msf, hbg, dcf77, wwvb, vng, rwm, wwv, wwvh, jjy or chu (jjy40 and\n"
    "                          jjy60 name JJY's two transmitters) (default dcf77)\n"
    "  --start TIME            the broadcast's first minute, ISO 8601 UTC (default: now)\n"
    "  --minutes N             length in minutes (default 3)\n"
    "  --snr DB                signal-to-noise ratio in dB over 0..4 kHz (default 3)\n"
    "  --amplitude A           tone peak in sample units (default 600)\n"
    "  --fade DEPTH            slow fading, 0..0.95 (default 0)\n"
    "  --seed N                noise seed (default 1)\n"
    "  --rate HZ               sample rate of the file, 4000..384000 (the rates varnol-decode\n"
    "                          reads), and the rate its samples are taken at: the 8000 Hz\n"
    "                          sound-card audio is resampled to it, as a recorder at that rate\n"
    "                          would capture it; a carrier above 3600 Hz is made at that rate\n"
    "                          directly (default 8000)\n"
    "  --card-blocks-per-minute N  a sound card off its nominal rate: its samples are taken at\n"
    "                          N * 128 / 60 a second of true time (times --rate / 8000) while\n"
    "                          the header says --rate, 3000..4500 (default 3750: exact)\n";
// After the receiver models' lines.
const char* const kUsageEnd =
    "  --help                  this text\n"
    "  --version               the program's version\n"
    "An option's value may follow it as the next word or after '=': --station=msf.\n"
    "\n"
    "A regular file is replaced whole once it is complete. A FIFO or a character device\n"
    "(/dev/stdout) is written through, never replaced; a socket or block device is refused.\n"
    "SIGINT, SIGTERM and SIGHUP stop the writing and leave nothing behind; SIGUSR1 and SIGUSR2\n"
    "are ignored.\n"
    "Exit codes: 0 written, 2 usage error, 3 the file cannot be written (nothing is left behind).\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "varnol-signal: %s\n(see varnol-signal --help)\n", message.c_str());
  return 2;
}

int WriteError(const std::string& output, const std::string& why) {
  std::fprintf(stderr, "varnol-signal: cannot write '%s': %s\n", output.c_str(), why.c_str());
  return 3;
}

std::atomic<bool> g_interrupted{false};
void OnSignal(int) {
  g_interrupted.store(true);
}


// A file of our own that nobody else can see, for a recording that goes to a pipe or device
// once it is complete (libsndfile goes back to the header at the end, which a pipe cannot).
int CreateHiddenTemporary() {
  const char* env = std::getenv("TMPDIR");
  const std::string dir = env != nullptr && *env != 0 ? env : "/tmp";
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return fd;
  std::string name = dir + "/varnol-signal.XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

// Copies the finished recording into the pipe or device; 0 or an errno.
int CopyThrough(int from, const std::string& output) {
  if (::lseek(from, 0, SEEK_SET) != 0) return errno;
  const int to = OpenWriteThrough(output, true);
  if (to < 0) return errno;
  std::vector<char> buffer(65536);
  int err = 0;
  while (err == 0 && !g_interrupted.load()) {
    const ssize_t n = ::read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;
    err = WriteAllToFd(to, std::string_view(buffer.data(), static_cast<size_t>(n)));
  }
  if (err == 0 && g_interrupted.load()) err = EINTR;
  ::close(to);
  return err;
}
struct FileFormat {
  const char* ending;  // lower case, without the dot
  int format;          // libsndfile's major format and encoding
};
const FileFormat kFormats[] = {
    {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},          {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},          {"oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III}, {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    {"aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},         {"au", SF_FORMAT_AU | SF_FORMAT_PCM_16},
};

// The format for the file's ending (case ignored); 0 when there is none for it.
int FormatFor(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return 0;
  std::string ending = path.substr(dot + 1);
  for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const FileFormat& f : kFormats)
    if (ending == f.ending) return f.format;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string output;
  std::string station = "dcf77";
  int64_t start = static_cast<int64_t>(std::time(nullptr));
  double minutes = 3.0;
  ReceiverSettings rs;
  // A recorder's samples are taken at the rate its header gives, unless a card off its nominal
  // rate is asked for.
  rs.card_rate = 8000.0;
  ReceiverModelChoice model;
  int rate = 8000;
  bool amplitude_given = false;
  CommandLine line(argc, argv);
  argc = line.Count();
  argv = line.Argv();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (line.Attached(i)) return UsageError(line.StrayValue(i));
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs(ReceiverModelUsage("--tone").c_str(), stdout);
      std::fputs(kUsageEnd, stdout);
      return 0;
    }
    if (a == "--version") {
      std::printf("varnol-signal %s\n", VARNOL_VERSION);
      return 0;
    }
    if (i + 1 >= argc)
      return UsageError(a == "--output" || a == "--station" || a == "--start" || a == "--minutes" ||
                                a == "--snr" || a == "--amplitude" || a == "--fade" || a == "--seed" ||
                                a == "--rate" || a == "--card-blocks-per-minute" || a == "--tone" ||
                                a == "--level" || a == "--agc" || a == "--filter" || a == "--fade-period" ||
                                a == "--static" || a == "--carrier"
                            ? a + " needs a value"
                            : "unknown option '" + a + "'");
    const std::string v = argv[++i];
    std::string model_error;
    if (ParseReceiverModelOption(a, v, "--tone", rs, model, model_error)) {
      if (!model_error.empty()) return UsageError(model_error);
    } else if (a == "--output") {
      output = v;
    } else if (a == "--station") {
      if (!StationFromName(v)) return UsageError("unknown station '" + v + "' (" + StationNameList() + ")");
      station = v;
    } else if (a == "--start") {
      const auto t = ParseIsoUtc(v);
      if (!t) return UsageError("cannot read the time '" + v + "' (use e.g. 2026-12-07T13:05:00Z)");
      start = *t;
    } else if (a == "--seed") {
      const auto n = ParseLong(v);
      if (!n) return UsageError("cannot read the whole number '" + v + "' for --seed (decimal digits)");
      rs.seed = static_cast<uint64_t>(*n);
    } else if (a == "--rate") {
      const auto n = ParseLong(v);
      if (!n || *n < RecordingSource::MinRate || *n > RecordingSource::MaxRate)
        return UsageError("--rate must be a whole number of Hz within " +
                          std::to_string(RecordingSource::MinRate) + ".." +
                          std::to_string(RecordingSource::MaxRate) + ", the rates varnol-decode reads");
      rate = static_cast<int>(*n);
    } else {
      const auto d = ParseDouble(v);
      if (!d) return UsageError("cannot read the number '" + v + "' for " + a + " (decimal, e.g. 2.5)");
      if (a == "--minutes") {
        if (*d <= 0 || *d > 1500)
          return UsageError("--minutes must be above 0 and at most 1500 (25 hours), e.g. 0.5 or 3");
        minutes = *d;
      } else if (a == "--snr") {
        rs.snr_db = *d;
      } else if (a == "--amplitude") {
        amplitude_given = true;
        if (*d < 0 || *d > 32767) return UsageError("--amplitude must lie within 0..32767");
        rs.amplitude = *d;
      } else if (a == "--fade") {
        if (*d < 0 || *d > 0.95) return UsageError("--fade must lie within 0..0.95");
        rs.fade_depth = *d;
      } else if (a == "--card-blocks-per-minute") {
        if (*d < 3000 || *d > 4500) return UsageError("--card-blocks-per-minute must lie within 3000..4500");
        rs.card_rate = *d * 128.0 / 60.0;
      } else {
        return UsageError("unknown option '" + a + "'");
      }
    }
  }
  if (output.empty()) return UsageError("--output FILE is required");
  if (model.level_given && amplitude_given) return UsageError("give --level or --amplitude, not both");
  // A tone the 8000 Hz card audio cannot carry (a carrier taken from the antenna) is made at
  // the file's rate directly.
  const bool direct = rate != 8000 && rs.tone_hz > 0.45 * 8000.0;
  if (direct) rs.sample_rate = rate;
  {
    ReceiverSettings at_file_rate = rs;
    at_file_rate.sample_rate = rate;
    if (const std::string why = ReceiverModelProblem(at_file_rate, "--tone"); !why.empty())
      return UsageError(why);
  }
  std::string what;
  const OutputKind kind = ClassifyOutput(output, &what);
  if (kind == OutputKind::Folder) return WriteError(output, "it is a folder");
  if (kind == OutputKind::Refused)
    return WriteError(output, "it is " + what + "; only a file, a FIFO or a character device can be written");
  if (kind == OutputKind::WriteThrough && ::access(output.c_str(), W_OK) != 0)
    return WriteError(output, std::strerror(errno));
  const int format = FormatFor(output);
  if (format == 0)
    return UsageError("cannot tell the format of '" + output +
                      "': name it .wav, .flac, .ogg, .mp3, .aiff or .au");
  auto encoder = MakeEncoder(station);
  if (!encoder) return UsageError("no simulated signal for station " + station + " yet");

  // The destination is checked before anything is generated: a folder in the way, a missing
  // or read-only folder, or a format this libsndfile cannot write.
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = format;
  if (!sf_format_check(&info)) return WriteError(output, "this libsndfile cannot write that format");
  // A file is written beside the target and renamed over it once complete; for a pipe or
  // device the recording is made in a hidden file of our own and then copied through.
  const bool through = kind == OutputKind::WriteThrough;
  std::string temp;
  const int fd = through ? CreateHiddenTemporary() : CreateTemporaryBeside(output, &temp);
  if (fd < 0) return WriteError(output, std::strerror(errno));
  // libsndfile closes a descriptor it was given to close, on failure too.
  SNDFILE* f = sf_open_fd(fd, SFM_WRITE, &info, through ? SF_FALSE : SF_TRUE);
  if (f == nullptr) {
    const std::string why = sf_strerror(nullptr);
    if (through) ::close(fd);
    if (!temp.empty()) std::remove(temp.c_str());
    return WriteError(output, why);
  }
  // A recorder holds what lies beyond full scale at full scale. Resampled audio near full scale
  // overshoots it between the 8000 Hz samples, and libsndfile would otherwise wrap such a float
  // round to the other end of the 16-bit range.
  sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  CatchEndingSignals(OnSignal);

  start -= start % 60;
  rs.start_utc = static_cast<double>(start);
  rs.duration_s = minutes * 60.0;
  SimulatedReceiver receiver(std::move(encoder), rs);

  // Written to the temporary file beside the target and renamed over it: the file is whole or
  // not there at all.
  // The receiver's audio at the sound card's 8000 samples per second, resampled when the file
  // is to hold another rate.
  soxr_t resampler = nullptr;
  if (rate != 8000 && !direct) {
    soxr_error_t e = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
    resampler = soxr_create(8000.0, rate, 1, &e, &io, &q, nullptr);
    if (e != nullptr) {
      sf_close(f);
      if (through) ::close(fd);
      if (!temp.empty()) std::remove(temp.c_str());
      std::fprintf(stderr, "varnol-signal: cannot resample to %d Hz: %s\n", rate, e);
      return 3;
    }
  }
  std::vector<int16_t> chunk(8192);
  std::vector<float> in(8192);
  std::vector<float> out(8192 * 50 + 4096);
  bool ok = true;
  for (bool last = false; ok && !last;) {
    if (g_interrupted.load()) {
      ok = false;
      break;
    }
    const size_t n = receiver.Read(chunk.data(), chunk.size());
    last = n == 0;
    if (resampler == nullptr) {
      if (n > 0 && sf_write_short(f, chunk.data(), static_cast<sf_count_t>(n)) != static_cast<sf_count_t>(n))
        ok = false;
      continue;
    }
    for (size_t i = 0; i < n; ++i) in[i] = static_cast<float>(chunk[i]) / 32768.0f;
    size_t done = 0;
    soxr_process(resampler, last ? nullptr : in.data(), n, nullptr, out.data(), out.size(), &done);
    if (done > 0 && sf_write_float(f, out.data(), static_cast<sf_count_t>(done)) != static_cast<sf_count_t>(done))
      ok = false;
  }
  if (resampler != nullptr) soxr_delete(resampler);
  std::string error = ok ? "" : g_interrupted.load() ? "interrupted" : sf_strerror(f);
  if (sf_close(f) != 0 && ok) {
    ok = false;
    error = "cannot finish the file";
  }
  if (ok && through) {
    if (const int e = CopyThrough(fd, output); e != 0) {
      ok = false;
      error = e == EINTR ? "interrupted" : std::strerror(e);
    }
  } else if (ok && std::rename(temp.c_str(), output.c_str()) != 0) {
    ok = false;
    error = std::strerror(errno);
  }
  if (through) ::close(fd);
  if (!ok) {
    if (!temp.empty()) std::remove(temp.c_str());
    return WriteError(output, error);
  }
  return 0;
}
