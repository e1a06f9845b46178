// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/hive_registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <thread>

#include "platform/atomic_file.h"
#include "platform/text_lines.h"

namespace {

constexpr DWORD kQueryValue = 0x0001;  // KEY_QUERY_VALUE
constexpr DWORD kSetValue = 0x0002;    // KEY_SET_VALUE
constexpr DWORD kCreateSubKey = 0x0004;
constexpr LONG kLockViolation = 33;  // ERROR_LOCK_VIOLATION
// A writer that holds the hive lock longer than this is taken to be stuck; we give up
// rather than hang the program that wants to write.
constexpr int kLockWaitMs = 10000;

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

const char* RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  return nullptr;
}

// "A\\B\\\\C\\" -> "A\B\C": empty components are dropped.
std::string NormaliseKeyPath(const std::string& path) {
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      if (!out.empty()) out += '\\';
      out.append(path, start, end - start);
    }
    start = end + 1;
  }
  return out;
}

// Key and value names sit on one line of the hive file, which has no way to write a line
// break inside a name: such names are refused rather than stored in a file that cannot be
// read back.
bool NameFitsTheFile(const std::string& name) {
  return name.find_first_of("\r\n") == std::string::npos;
}

// Levels of a normalised key path below its root.
size_t KeyDepth(const std::string& path) {
  return path.empty() ? 0 : 1 + static_cast<size_t>(std::count(path.begin(), path.end(), '\\'));
}

// Adds the key `path` and whichever of its ancestors are missing; true when the key itself was
// new. The hive lists every ancestor of each key, so the search upwards stops at the first level
// present: a key below known ones costs one look-up, not one per level.
bool AddKey(HiveRegistry::Hive& hive, const std::string& path) {
  size_t end = path.size();
  std::vector<size_t> missing;  // lengths of the prefixes to add, deepest first
  for (;;) {
    if (hive.count(path.substr(0, end)) != 0) break;
    missing.push_back(end);
    if (end == 0) break;
    // Up one level; the root itself ("") is a key only where it was created or listed.
    size_t slash = path.rfind('\\', end - 1);
    if (slash == std::string::npos) break;
    end = slash;
  }
  for (size_t length : missing) {
    std::string partial = path.substr(0, length);
    hive[partial].path = partial;
  }
  return !missing.empty() && missing.front() == path.size();
}

std::string JoinKeyPath(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + "\\" + b;
}

LONG FromErrno(int err) {
  if (err == EACCES || err == EPERM || err == EROFS) return ERROR_ACCESS_DENIED;
  if (err == ENOENT || err == ENOTDIR) return ERROR_FILE_NOT_FOUND;
  return ERROR_ACCESS_DENIED;
}

int MakeDirectories(const std::string& dir) {
  if (dir.empty()) return 0;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  std::string parent = ParentDirectory(dir);
  if (parent != dir && parent != "." && parent != "/") {
    int err = MakeDirectories(parent);
    if (err != 0) return err;
  }
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return errno;
  return 0;
}

// --- REGEDIT4 text ---------------------------------------------------------------------------

void AppendQuoted(std::string* out, const std::string& text) {
  *out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') *out += '\\';
    *out += c;
  }
  *out += '"';
}

void AppendHex(std::string* out, const std::vector<uint8_t>& data) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) *out += ',';
    *out += kDigits[data[i] >> 4];
    *out += kDigits[data[i] & 15];
  }
}

// A REG_SZ value is written as a quoted string when that form gives back exactly its bytes:
// one terminating zero, no other zero, no line break. Anything else keeps its bytes as hex(1).
bool PlainString(const HiveRegistry::Value& v) {
  if (v.type != REG_SZ || v.data.empty() || v.data.back() != 0) return false;
  for (size_t i = 0; i + 1 < v.data.size(); ++i) {
    uint8_t c = v.data[i];
    if (c == 0 || c == '\r' || c == '\n') return false;
  }
  return true;
}

class LineParser {
 public:
  explicit LineParser(const std::string& line) : s_(line) {}
  bool AtEnd() const { return i_ >= s_.size(); }
  bool Eat(char c) {
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool EatPrefix(const char* prefix) {
    size_t n = std::strlen(prefix);
    if (s_.compare(i_, n, prefix) != 0) return false;
    i_ += n;
    return true;
  }
  // A quoted string with the escapes \\ and \".
  bool Quoted(std::string* out) {
    if (!Eat('"')) return false;
    out->clear();
    while (i_ < s_.size()) {
      char c = s_[i_++];
      if (c == '"') return true;
      if (c == '\\') {
        if (i_ >= s_.size() || (s_[i_] != '\\' && s_[i_] != '"')) return false;
        c = s_[i_++];
      }
      *out += c;
    }
    return false;
  }
  bool HexList(std::vector<uint8_t>* out) {
    out->clear();
    SkipSpaces();
    if (AtEnd()) return true;
    for (;;) {
      SkipSpaces();
      int hi = Digit(), lo = hi < 0 ? -1 : Digit();
      if (hi < 0 || lo < 0) return false;
      out->push_back(static_cast<uint8_t>(hi * 16 + lo));
      SkipSpaces();
      if (AtEnd()) return true;
      if (!Eat(',')) return false;
    }
  }
  bool Dword(uint32_t* value) {
    size_t digits = 0;
    uint32_t v = 0;
    int d;
    while ((d = Digit()) >= 0) {
      if (++digits > 8) return false;
      v = v * 16 + static_cast<uint32_t>(d);
    }
    *value = v;
    return digits > 0;
  }
  bool Decimal(uint32_t* value) {
    size_t digits = 0;
    uint64_t v = 0;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') {
      v = v * 10 + static_cast<uint64_t>(s_[i_++] - '0');
      if (++digits > 10 || v > 0xFFFFFFFFu) return false;
    }
    *value = static_cast<uint32_t>(v);
    return digits > 0;
  }
  bool HexNumber(uint32_t* value) { return Dword(value); }

 private:
  void SkipSpaces() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }
  int Digit() {
    if (i_ >= s_.size()) return -1;
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s_[i_])));
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d >= 0) ++i_;
    return d;
  }

  const std::string& s_;
  size_t i_ = 0;
};

// Whether a value line holds hex data (which alone may go on over several lines): the text
// after the value's name and its "=" starts with "hex". A string value is never taken for
// one, whatever it contains.
bool ValueIsHex(const std::string& line) {
  size_t i = 0;
  if (line.empty()) return false;
  if (line[0] == '@') {
    i = 1;
  } else if (line[0] == '"') {
    for (i = 1; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\') ++i;
    }
    ++i;
  } else {
    return false;
  }
  // A name that never closes (a damaged line) leaves i past the end: no value follows.
  return i < line.size() && line.compare(i, 4, "=hex") == 0;
}

// Holds the exclusive lock on a hive while it is read, changed and replaced.
class HiveLock {
 public:
  explicit HiveLock(const std::string& lock_path) {
    // Never through a link: one planted under the lock's name must not make us create or
    // open a file elsewhere.
    fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) {
      error_ = FromErrno(errno);
      return;
    }
    for (int waited = 0;; waited += 10) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
      if (errno != EWOULDBLOCK && errno != EINTR) break;
      if (waited >= kLockWaitMs) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error_ = kLockViolation;
    ::close(fd_);
    fd_ = -1;
  }
  ~HiveLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  HiveLock(const HiveLock&) = delete;
  HiveLock& operator=(const HiveLock&) = delete;
  LONG error() const { return error_; }

 private:
  int fd_ = -1;
  LONG error_ = ERROR_SUCCESS;
};

std::string UtcStamp() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &tm);
  return text;
}

}  // namespace

std::string QovenRoot() {
  const char* root = std::getenv("QOVEN_ROOT");
  if (root != nullptr && *root != '\0') return root;
  const char* data = std::getenv("XDG_DATA_HOME");
  // The XDG rules say a relative XDG_DATA_HOME is invalid and is to be ignored.
  if (data != nullptr && data[0] == '/') return std::string(data) + "/qoven";
  const char* home = std::getenv("HOME");
  std::string home_dir = home != nullptr && *home != '\0' ? home : "";
  if (home_dir.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
      home_dir = pw->pw_dir;
    }
  }
  return home_dir + "/.local/share/qoven";
}

std::unique_ptr<Registry> OpenHostRegistry() {
  const std::string root = QovenRoot();
  return std::make_unique<HiveRegistry>(root + "/registry", root);
}

bool HiveRegistry::CaseLess::operator()(const std::string& a, const std::string& b) const {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int ca = std::tolower(static_cast<unsigned char>(a[i]));
    int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

HiveRegistry::HiveRegistry(std::string directory) : directory_(std::move(directory)) {}

HiveRegistry::HiveRegistry(std::string directory, std::string root)
    : directory_(std::move(directory)), root_(std::move(root)) {}

bool HiveRegistry::Confined(const std::string& path) const {
  if (root_.empty()) return true;
  char* real_root = ::realpath(root_.c_str(), nullptr);
  if (real_root == nullptr) return true;  // no root yet, so no link inside it either
  const std::string inside = real_root;
  std::free(real_root);
  // What is not there yet is made where its nearest existing folder leads.
  std::string existing = path;
  struct stat st {};
  while (::lstat(existing.c_str(), &st) != 0) {
    std::string parent = ParentDirectory(existing);
    if (parent == existing || existing.size() <= root_.size()) return true;
    existing = parent;
  }
  char* real = ::realpath(existing.c_str(), nullptr);
  if (real == nullptr) return false;  // a link that leads nowhere may yet lead out
  const std::string resolved = real;
  std::free(real);
  return resolved == inside ||
         (resolved.size() > inside.size() && resolved.compare(0, inside.size(), inside) == 0 &&
          (inside == "/" || resolved[inside.size()] == '/'));
}

HiveRegistry::~HiveRegistry() {
  // Keys still open hold values the program set; closing them keeps those values.
  while (!open_.empty()) RegCloseKey(open_.begin()->first);
}

std::string HiveRegistry::HivePath(HKEY root) const {
  const char* name = RootName(root);
  if (directory_.empty() || name == nullptr) return "";
  return directory_ + "/" + name + ".reg";
}

std::string HiveRegistry::Format(const std::string& root_name, const Hive& hive) {
  std::string out = "REGEDIT4\r\n";
  auto comments = [&out](const std::vector<std::string>& lines) {
    for (const std::string& line : lines) out += line + "\r\n";
  };
  comments(hive.comments);
  for (const auto& [unused, key] : hive) {
    out += "\r\n";
    comments(key.comments);
    out += "[" + JoinKeyPath(root_name, key.path) + "]\r\n";
    for (const auto& [name, value] : key.values) {
      comments(value.comments);
      if (name.empty()) {
        out += '@';
      } else {
        AppendQuoted(&out, name);
      }
      out += '=';
      if (PlainString(value)) {
        AppendQuoted(&out, std::string(value.data.begin(), value.data.end() - 1));
      } else if (value.type == REG_DWORD && value.data.size() == 4) {
        uint32_t v = static_cast<uint32_t>(value.data[0]) | static_cast<uint32_t>(value.data[1]) << 8 |
                     static_cast<uint32_t>(value.data[2]) << 16 | static_cast<uint32_t>(value.data[3]) << 24;
        char text[20];
        std::snprintf(text, sizeof text, "dword:%08x", v);
        out += text;
      } else if (value.type == REG_BINARY) {
        out += "hex:";
        AppendHex(&out, value.data);
      } else {
        // The type in brackets is hexadecimal, as the reader takes it (REG_QWORD is hex(b)).
        char type[16];
        std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
        out += type;
        AppendHex(&out, value.data);
      }
      out += "\r\n";
    }
  }
  comments(hive.closing);
  return out;
}

bool HiveRegistry::Parse(const std::string& root_name, const std::string& text, Hive* hive) {
  *hive = Hive();
  // Split into lines; a hex value may go on over several lines, each but the last ending in
  // a backslash.
  std::vector<std::string> lines;
  std::string current;
  bool continued = false;
  for (const std::string& line : TextLines(text)) {
    if (continued) {
      size_t first = line.find_first_not_of(" \t");
      current += first == std::string::npos ? "" : line.substr(first);
    } else {
      current = line;
    }
    bool is_hex = ValueIsHex(current);
    continued = is_hex && !current.empty() && current.back() == '\\';
    if (continued) {
      current.pop_back();
      continue;
    }
    lines.push_back(current);
  }
  if (continued) return false;

  size_t i = 0;
  while (i < lines.size() && lines[i].empty()) ++i;
  if (i == lines.size() || lines[i] != "REGEDIT4") return false;
  Key* key = nullptr;
  const std::string prefix = Lower(root_name);
  // Comment lines seen since the last key or value line: they belong to the next one, except
  // that those set off by a blank line before the first key belong to the top of the file.
  std::vector<std::string> comments;
  auto keep_comments = [&comments](std::vector<std::string>* to) {
    to->insert(to->end(), std::make_move_iterator(comments.begin()), std::make_move_iterator(comments.end()));
    comments.clear();
  };
  for (++i; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty()) {
      if (key == nullptr) keep_comments(&hive->comments);
      continue;
    }
    if (line[0] == ';') {
      comments.push_back(line);
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 2) return false;
      std::string full = line.substr(1, line.size() - 2);
      std::string lowered = Lower(full);
      std::string path;
      if (lowered == prefix) {
        path = "";
      } else if (lowered.compare(0, prefix.size() + 1, prefix + "\\") == 0) {
        path = NormaliseKeyPath(full.substr(prefix.size() + 1));
      } else {
        return false;
      }
      if (KeyDepth(path) > kMaxKeyDepth) return false;
      // Ancestors of a listed key exist too.
      AddKey(*hive, path);
      Key& k = (*hive)[path];
      keep_comments(&k.comments);
      key = &k;
      continue;
    }
    if (key == nullptr) return false;
    LineParser p(line);
    std::string name;
    if (!p.Eat('@') && !p.Quoted(&name)) return false;
    if (!p.Eat('=')) return false;
    Value value;
    std::string str;
    if (p.Quoted(&str)) {
      value.type = REG_SZ;
      value.data.assign(str.begin(), str.end());
      value.data.push_back(0);
    } else if (p.EatPrefix("dword:")) {
      uint32_t v = 0;
      if (!p.Dword(&v)) return false;
      value.type = REG_DWORD;
      value.data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                    static_cast<uint8_t>(v >> 24)};
    } else if (p.EatPrefix("hex:")) {
      value.type = REG_BINARY;
      if (!p.HexList(&value.data)) return false;
    } else if (p.EatPrefix("hex(")) {
      uint32_t type = 0;
      if (!p.HexNumber(&type) || !p.Eat(')') || !p.Eat(':')) return false;
      value.type = type;
      if (!p.HexList(&value.data)) return false;
    } else {
      return false;
    }
    if (!p.AtEnd()) return false;
    Value& stored = key->values[name];
    value.comments = std::move(stored.comments);  // a name given twice: the last value wins
    keep_comments(&value.comments);
    stored = std::move(value);
  }
  keep_comments(key == nullptr ? &hive->comments : &hive->closing);
  return true;
}

bool HiveRegistry::ResolveParent(HKEY handle, HKEY* root, std::string* path) const {
  if (RootName(handle) != nullptr) {
    *root = handle;
    path->clear();
    return true;
  }
  auto it = open_.find(handle);
  if (it == open_.end()) return false;
  *root = it->second.root;
  *path = it->second.path;
  return true;
}

HiveRegistry::OpenKey* HiveRegistry::Find(HKEY handle) {
  if (RootName(handle) != nullptr && !open_.count(handle)) {
    // The predefined roots are keys too; they stay open for the life of the registry.
    open_[handle] = OpenKey{handle, "", KEY_ALL_ACCESS, {}};
  }
  auto it = open_.find(handle);
  return it == open_.end() ? nullptr : &it->second;
}

HiveRegistry::Hive HiveRegistry::LoadHive(HKEY root) const {
  Hive hive;
  if (directory_.empty()) {
    auto it = memory_.find(root);
    if (it != memory_.end()) hive = it->second;
    return hive;
  }
  std::string text;
  if (!Confined(HivePath(root)) || ReadWholeFile(HivePath(root), &text) != 0) return hive;
  if (!Parse(RootName(root), text, &hive)) hive = Hive();  // damaged: read as empty
  return hive;
}

bool HiveRegistry::Writable(HKEY root) const {
  if (directory_.empty()) return true;
  if (!Confined(directory_) || MakeDirectories(directory_) != 0 || !Confined(HivePath(root))) return false;
  if (::access(directory_.c_str(), W_OK | X_OK) != 0) return false;
  std::string hive = HivePath(root);
  // An existing hive we may not replace counts as unwritable although the folder is.
  struct stat st {};
  return ::stat(hive.c_str(), &st) != 0 || S_ISREG(st.st_mode);
}

template <typename Change>
LONG HiveRegistry::Transact(HKEY root, Change change) {
  if (directory_.empty()) {
    change(memory_[root]);
    return ERROR_SUCCESS;
  }
  const std::string path = HivePath(root);
  if (!Confined(directory_)) return ERROR_ACCESS_DENIED;
  if (int err = MakeDirectories(directory_); err != 0) return FromErrno(err);
  if (!Confined(path)) return ERROR_ACCESS_DENIED;
  HiveLock lock(path + ".lock");
  if (lock.error() != ERROR_SUCCESS) return lock.error();

  Hive hive;
  std::string text;
  int read_error = ReadWholeFile(path, &text);
  if (read_error == 0 && !Parse(RootName(root), text, &hive)) {
    // Keep the damaged file for whoever wants to recover it, under a name no one else uses.
    std::string aside = path + ".damaged-" + UtcStamp();
    std::string candidate = aside;
    struct stat st {};
    for (int n = 2; ::lstat(candidate.c_str(), &st) == 0; ++n) {
      candidate = aside + "-" + std::to_string(n);
    }
    if (::rename(path.c_str(), candidate.c_str()) != 0) return FromErrno(errno);
    std::fprintf(stderr, "registry: %s could not be read; kept as %s\n", path.c_str(), candidate.c_str());
    hive = Hive();
  } else if (read_error != 0 && read_error != ENOENT) {
    return FromErrno(read_error);
  }
  if (!change(hive)) return ERROR_SUCCESS;  // nothing to write
  // A writer killed between creating its temporary file and renaming it left that file
  // behind; under the lock no other writer of this hive has one open.
  RemoveStaleTemporaries(path);
  int err = WriteFileAtomic(path, Format(RootName(root), hive));
  return err == 0 ? ERROR_SUCCESS : FromErrno(err);
}

LONG HiveRegistry::RegCreateKeyExA(HKEY root, const std::string& sub_key, DWORD /*options*/, DWORD access,
                                   HKEY* result, DWORD* disposition) {
  if (result == nullptr || !NameFitsTheFile(sub_key)) return ERROR_INVALID_PARAMETER;
  HKEY hive_root = 0;
  std::string base;
  if (!ResolveParent(root, &hive_root, &base)) return ERROR_INVALID_HANDLE;
  const std::string path = JoinKeyPath(base, NormaliseKeyPath(sub_key));
  if (KeyDepth(path) > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;

  bool exists = path.empty() || LoadHive(hive_root).count(path) > 0;
  bool wants_write = (access & (kSetValue | kCreateSubKey)) != 0;
  if ((!exists || wants_write) && !Writable(hive_root)) return ERROR_ACCESS_DENIED;
  bool created = false;
  if (!exists) {
    LONG rc = Transact(hive_root, [&](Hive& hive) {
      created = AddKey(hive, path);
      return created;
    });
    if (rc != ERROR_SUCCESS) return rc;
  }
  HKEY handle = next_handle_++;
  open_[handle] = OpenKey{hive_root, path, access, {}};
  *result = handle;
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG HiveRegistry::RegOpenKeyExA(HKEY root, const std::string& sub_key, DWORD access, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  HKEY hive_root = 0;
  std::string base;
  if (!ResolveParent(root, &hive_root, &base)) return ERROR_INVALID_HANDLE;
  const std::string path = JoinKeyPath(base, NormaliseKeyPath(sub_key));
  if (!path.empty() && LoadHive(hive_root).count(path) == 0) return ERROR_FILE_NOT_FOUND;
  if ((access & (kSetValue | kCreateSubKey)) != 0 && !Writable(hive_root)) {
    return ERROR_ACCESS_DENIED;
  }
  HKEY handle = next_handle_++;
  open_[handle] = OpenKey{hive_root, path, access, {}};
  *result = handle;
  return ERROR_SUCCESS;
}

LONG HiveRegistry::RegQueryValueExA(HKEY key, const std::string& name, DWORD* type, uint8_t* data,
                                    DWORD* size) {
  OpenKey* open = Find(key);
  if (open == nullptr) return ERROR_INVALID_HANDLE;
  if ((open->access & kQueryValue) == 0) return ERROR_ACCESS_DENIED;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  const Value* value = nullptr;
  Hive hive;
  if (auto it = open->pending.find(name); it != open->pending.end()) {
    value = &it->second;
  } else {
    hive = LoadHive(open->root);
    auto k = hive.find(open->path);
    if (k != hive.end()) {
      auto v = k->second.values.find(name);
      if (v != k->second.values.end()) value = &v->second;
    }
  }
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = value->type;
  const DWORD length = static_cast<DWORD>(value->data.size());
  if (data != nullptr) {
    if (*size < length) {
      *size = length;
      return ERROR_MORE_DATA;
    }
    std::copy(value->data.begin(), value->data.end(), data);
  }
  if (size != nullptr) *size = length;
  return ERROR_SUCCESS;
}

LONG HiveRegistry::RegSetValueExA(HKEY key, const std::string& name, DWORD type, const uint8_t* data,
                                  DWORD size) {
  OpenKey* open = Find(key);
  if (open == nullptr) return ERROR_INVALID_HANDLE;
  if ((open->access & kSetValue) == 0) return ERROR_ACCESS_DENIED;
  if (data == nullptr && size > 0) return ERROR_INVALID_PARAMETER;
  if (!NameFitsTheFile(name)) return ERROR_INVALID_PARAMETER;
  Value value;
  value.type = type;
  if (size > 0) value.data.assign(data, data + size);
  open->pending[name] = std::move(value);
  return ERROR_SUCCESS;
}

LONG HiveRegistry::Commit(OpenKey& key) {
  if (key.pending.empty()) return ERROR_SUCCESS;
  LONG rc = Transact(key.root, [&](Hive& hive) {
    AddKey(hive, key.path);
    for (auto& [name, value] : key.pending) {
      auto& values = hive[key.path].values;
      std::vector<std::string> comments;
      if (auto old = values.find(name); old != values.end()) {
        comments = std::move(old->second.comments);  // a comment on a value stays with it
        values.erase(old);                           // a new spelling of the name replaces the old one
      }
      Value& stored = values[name] = value;
      stored.comments = std::move(comments);
    }
    return true;
  });
  if (rc == ERROR_SUCCESS) key.pending.clear();
  return rc;
}

LONG HiveRegistry::RegFlushKey(HKEY key) {
  OpenKey* open = Find(key);
  if (open == nullptr) return ERROR_INVALID_HANDLE;
  return Commit(*open);
}

LONG HiveRegistry::RegCloseKey(HKEY key) {
  auto it = open_.find(key);
  if (it == open_.end()) return RootName(key) != nullptr ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  LONG rc = Commit(it->second);
  open_.erase(it);
  return rc;
}
