// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/cli_common.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include "app/varnol_doc.h"

CommandLine::CommandLine(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  Split(args);
}

CommandLine::CommandLine(const std::vector<std::string>& args) {
  Split(args);
}

void CommandLine::Split(const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const size_t eq = a.find('=');
    // "--name=value" with a name of at least one letter; "-x=..." and "--=..." stay as given.
    if (i > 0 && a.size() > 2 && a.compare(0, 2, "--") == 0 && eq != std::string::npos && eq > 2) {
      args_.push_back(a.substr(0, eq));
      attached_.push_back(false);
      args_.push_back(a.substr(eq + 1));
      attached_.push_back(true);
    } else {
      args_.push_back(a);
      attached_.push_back(false);
    }
  }
  for (std::string& a : args_) pointers_.push_back(a.data());
  pointers_.push_back(nullptr);
}

std::string CommandLine::StrayValue(int i) const {
  if (!Attached(i) || i == 0) return "";
  return Arg(i - 1) + " takes no value (given '" + Arg(i - 1) + "=" + Arg(i) + "')";
}

#include "app/varnol_doc.h"
#include "platform/atomic_file.h"

namespace {
// Each station's name on the command line, in StationMode order.
const char* const kStations[] = {"msf", "hbg", "dcf77", "wwvb", "vng", "rwm", "wwv", "jjy", "chu"};
static_assert(std::size(kStations) == StationCount);

// Further names of a station: a transmitter of a pair that sends the same code.
struct StationAlias {
  const char* name;
  int station_mode;
};
constexpr StationAlias kAliases[] = {
    {"wwvh", StationWwv},   // decoded as WWV; simulated with Hawaii's 1200 Hz ticks
    {"jjy40", StationJjy},  // Ohtakadoya, 40 kHz
    {"jjy60", StationJjy},  // Hagane, 60 kHz
};
}  // namespace

std::optional<int> StationFromName(const std::string& name) {
  for (int i = 0; i < StationCount; ++i)
    if (name == kStations[i]) return i;
  for (const StationAlias& a : kAliases)
    if (name == a.name) return a.station_mode;
  return std::nullopt;
}

std::string StationNameList() {
  std::string list;
  for (const char* name : kStations) list += (list.empty() ? "" : ", ") + std::string(name);
  for (const StationAlias& a : kAliases) list += ", " + std::string(a.name);
  return list;
}

const char* StationName(int station_mode) {
  return station_mode >= 0 && station_mode < StationCount ? kStations[station_mode] : "?";
}

namespace {

// Seconds since 1970 and the milliseconds of a fraction after the seconds (0 without one);
// `fraction_allowed` false refuses a fraction.
std::optional<std::pair<int64_t, int>> ParseIsoUtcParts(const std::string& text, bool fraction_allowed) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  int ms = 0;
  char sep = 0;
  int consumed = 0;
  std::string rest;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d%n", &y, &mo, &d, &sep, &h, &mi, &consumed) != 6)
    return std::nullopt;
  if (sep != 'T' && sep != ' ') return std::nullopt;
  rest = text.substr(static_cast<size_t>(consumed));
  if (!rest.empty() && rest[0] == ':') {
    int n = 0;
    if (std::sscanf(rest.c_str(), ":%2d%n", &s, &n) != 1) return std::nullopt;
    rest = rest.substr(static_cast<size_t>(n));
    if (fraction_allowed && !rest.empty() && rest[0] == '.') {
      // Digits of the fraction, rounded to the millisecond: .22 is 220 ms, .0005 is 1 ms.
      size_t k = 1;
      int64_t ns = 0, weight = 100000000;  // nanoseconds of the digit
      while (k < rest.size() && k <= 9 && std::isdigit(static_cast<unsigned char>(rest[k]))) {
        ns += (rest[k] - '0') * weight;
        weight /= 10;
        ++k;
      }
      if (k == 1 || (k < rest.size() && std::isdigit(static_cast<unsigned char>(rest[k]))))
        return std::nullopt;
      ms = static_cast<int>((ns + 500000) / 1000000);
      rest = rest.substr(k);
    }
  }
  if (rest == "Z" || rest == "+00:00") rest.clear();
  if (!rest.empty()) return std::nullopt;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59 || y < 1970)
    return std::nullopt;
  SYSTEMTIME st;
  st.wYear = static_cast<uint16_t>(y);
  st.wMonth = static_cast<uint16_t>(mo);
  st.wDay = static_cast<uint16_t>(d);
  st.wHour = static_cast<uint16_t>(h);
  st.wMinute = static_cast<uint16_t>(mi);
  st.wSecond = static_cast<uint16_t>(s);
  const int64_t t = UnixFromSystemTime(st);
  // Reject dates such as 31 February that would roll into the next month.
  const SYSTEMTIME back = SystemTimeFromUnix(t);
  if (back.wDay != st.wDay || back.wMonth != st.wMonth) return std::nullopt;
  return std::pair{t, ms};
}

}  // namespace

std::optional<int64_t> ParseIsoUtc(const std::string& text) {
  const auto parts = ParseIsoUtcParts(text, false);
  if (!parts) return std::nullopt;
  return parts->first;
}

std::optional<int64_t> ParseIsoUtcMilliseconds(const std::string& text) {
  const auto parts = ParseIsoUtcParts(text, true);
  if (!parts) return std::nullopt;
  return parts->first * 1000 + parts->second;
}

std::string FormatIsoUtc(const SYSTEMTIME& st) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02uZ", st.wYear, st.wMonth, st.wDay,
                st.wHour, st.wMinute, st.wSecond);
  return buf;
}

namespace {
// Plain decimal notation only: digits, a sign, a point, an exponent. strtod and strtol would
// also take "0x10" (16), "inf", " 5" or, with base 0, "010" (8).
bool DecimalText(const std::string& text, bool whole) {
  const char* allowed = whole ? "0123456789+-" : "0123456789+-.eE";
  return !text.empty() && text.find_first_not_of(allowed) == std::string::npos &&
         std::isdigit(static_cast<unsigned char>(text.back()));
}
}  // namespace

std::optional<double> ParseDouble(const std::string& text) {
  if (!DecimalText(text, false)) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<long> ParseLong(const std::string& text) {
  if (!DecimalText(text, true)) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
  return v;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string OutputFileProblem(const std::string& path) {
  std::string what;
  switch (ClassifyOutput(path, &what)) {
    case OutputKind::Folder: return "'" + path + "' is a folder";
    case OutputKind::Refused:
      return "'" + path + "' is " + what + "; only a file, a FIFO or a character device can be written";
    case OutputKind::WriteThrough:
      // A pipe or device is written in place: only the right to write it matters (it is not
      // opened here, which for some devices does something of its own).
      if (::access(path.c_str(), W_OK) != 0) return "cannot write '" + path + "': " + std::strerror(errno);
      return "";
    case OutputKind::Replace: break;
  }
  struct stat st {};
  const std::string folder = ParentDirectory(path);
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "no folder '" + folder + "'";
  if (::access(folder.c_str(), W_OK | X_OK) != 0)
    return "cannot write in '" + folder + "': " + std::strerror(errno);
  return "";
}

bool SameExistingFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void CatchEndingSignals(void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
  std::signal(SIGUSR1, SIG_IGN);
  std::signal(SIGUSR2, SIG_IGN);
}
