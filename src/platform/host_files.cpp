// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/host_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/text_lines.h"

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool ValidComponent(const std::string& name) {
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (u < 32) return false;
    switch (c) {
      case '<':
      case '>':
      case ':':
      case '"':
      case '|':
      case '?':
      case '*': return false;
      default: break;
    }
  }
  return true;
}

// The entry of `dir` whose name equals `name` apart from case; `name` itself when there is an
// exact match or none at all.
std::string FindEntry(const std::string& dir, const std::string& name) {
  struct stat st {};
  if (::lstat((dir + "/" + name).c_str(), &st) == 0) return name;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return name;
  std::string found = name;
  while (dirent* e = ::readdir(d)) {
    if (::strcasecmp(e->d_name, name.c_str()) == 0) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

// The real path of `path` with every link followed, or "" when it cannot be had.
std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return "";
  std::string out = real;
  std::free(real);
  return out;
}

bool Within(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            (folder == "/" || path[folder.size()] == '/'));
}

bool IsDirectory(const std::string& linux_path) {
  struct stat st {};
  return ::stat(linux_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A missing file is "file not found" when its folder exists and "path not found" otherwise.
LONG MissingError(const std::string& linux_path) {
  return IsDirectory(ParentDirectory(linux_path)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// Whether an open file is held by someone else: a flock lock or a fcntl write lock of another
// open file (open-file-description locks also see the classic per-process locks).
bool HeldByOthers(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  if (::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK) return true;
  return false;
}

int CopyData(int in, int out) {
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    ssize_t done = 0;
    while (done < n) {
      ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      done += w;
    }
  }
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Moves `from` over `to` without ever leaving `to` half written.
int MoveReplacing(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return 0;
  return errno;
}

void SetRegistryString(Registry& registry, HKEY root, const std::string& key, const std::string& name,
                       const std::string& value) {
  HKEY handle = 0;
  if (registry.RegCreateKeyExA(root, key, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, &handle, nullptr) !=
      ERROR_SUCCESS) {
    return;
  }
  DWORD size = 0;
  if (registry.RegQueryValueExA(handle, name, nullptr, nullptr, &size) != ERROR_SUCCESS) {
    registry.RegSetValueExA(handle, name, REG_SZ, reinterpret_cast<const uint8_t*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
  }
  registry.RegCloseKey(handle);
}

int MakeDirectories(const std::string& dir) {
  if (IsDirectory(dir)) return 0;
  std::string parent = ParentDirectory(dir);
  if (parent != dir && parent != "." && parent != "/") {
    if (int err = MakeDirectories(parent); err != 0) return err;
  }
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return errno;
  return 0;
}

}  // namespace

LONG WindowsErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case ETXTBSY:
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EINVAL: return ERROR_INVALID_NAME;
    default: return ERROR_GEN_FAILURE;
  }
}

HostFiles::HostFiles(std::string root) : root_(std::move(root)) {}

void HostFiles::UseInstallationMedium(std::string linux_folder) {
  medium_ = std::move(linux_folder);
}

LONG HostFiles::ToLinuxPath(const std::string& windows_path, std::string* linux_path) const {
  return Resolve(windows_path, Use::kRead, linux_path);
}

LONG HostFiles::Resolve(const std::string& windows_path, Use use, std::string* linux_path) const {
  const std::string& w = windows_path;
  if (w.empty() || w.find('\0') != std::string::npos) return ERROR_INVALID_NAME;
  std::string base;
  size_t pos = 0;
  bool on_medium = false;
  if (w.size() >= 2 && std::isalpha(static_cast<unsigned char>(w[0])) && w[1] == ':') {
    // "C:name" (a drive without a separator) is relative to that drive's current folder, which
    // is its root here.
    base = root_ + "/drive_" + static_cast<char>(std::tolower(static_cast<unsigned char>(w[0])));
    pos = 2;
  } else if (w.size() >= 2 && IsSeparator(w[0]) && IsSeparator(w[1])) {
    return ERROR_PATH_NOT_FOUND;  // network paths do not exist here
  } else if (IsSeparator(w[0])) {
    base = root_ + "/drive_c";
  } else if (!medium_.empty()) {
    base = medium_;
    on_medium = true;
  } else {
    base = root_ + "/drive_c";  // the current folder: the root of drive C:
  }
  // ".." stops at the drive's (or the medium's) root, as it does on Windows.
  std::vector<std::string> parts;
  while (pos <= w.size()) {
    size_t end = pos;
    while (end < w.size() && !IsSeparator(w[end])) ++end;
    std::string part = w.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    if (!ValidComponent(part)) return ERROR_INVALID_NAME;
    parts.push_back(part);
  }
  std::string path = base;
  for (const std::string& part : parts) {
    std::string entry = FindEntry(path, part);
    path.push_back('/');
    path.append(entry);
  }
  if (on_medium) {
    // The folder the installer was started from is its distribution medium: read, never changed,
    // and what it holds is only what lies inside it (a link on it leads nowhere else).
    if (use == Use::kChange) return ERROR_WRITE_PROTECT;
    if (!StaysInside(path, medium_, use)) return ERROR_ACCESS_DENIED;
  } else if (!StaysInside(path, root_, use)) {
    return ERROR_ACCESS_DENIED;
  }
  *linux_path = path;
  return ERROR_SUCCESS;
}

bool HostFiles::StaysInside(const std::string& path, const std::string& folder, Use use) const {
  const std::string real_root = RealPath(folder);
  if (real_root.empty()) return true;  // no folder yet, so no link inside it either
  // The path itself is built without ".."; only a link on its way can lead elsewhere. A
  // change (create, replace, delete) acts on the last name itself, so its folder counts; a
  // read opens whatever the last name leads to.
  std::string existing = use == Use::kRead ? path : ParentDirectory(path);
  struct stat st {};
  while (existing.size() > folder.size() && ::lstat(existing.c_str(), &st) != 0) {
    existing = ParentDirectory(existing);
  }
  if (existing.size() <= folder.size()) return true;
  const std::string real = RealPath(existing);
  if (real.empty()) return use == Use::kRead && !S_ISLNK(st.st_mode);
  return Within(real, real_root);
}

LONG HostFiles::CreateDirectoryA(const std::string& path) {
  std::string dir;
  if (LONG rc = Resolve(path, Use::kChange, &dir); rc != ERROR_SUCCESS) return rc;
  if (::mkdir(dir.c_str(), 0755) == 0) return ERROR_SUCCESS;
  switch (errno) {
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOENT: return ERROR_PATH_NOT_FOUND;
    default: return WindowsErrorFromErrno(errno);
  }
}

LONG HostFiles::CopyFileA(const std::string& from, const std::string& to, bool fail_if_exists) {
  std::string src, dst;
  if (LONG rc = ToLinuxPath(from, &src); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = Resolve(to, Use::kChange, &dst); rc != ERROR_SUCCESS) return rc;

  // Non-blocking opens: a pipe or device in place of a file must not stall the copy.
  int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return errno == ENOENT ? MissingError(src) : WindowsErrorFromErrno(errno);
  struct stat in_st {};
  if (::fstat(in, &in_st) != 0 || !S_ISREG(in_st.st_mode)) {
    ::close(in);
    return ERROR_ACCESS_DENIED;
  }

  // The present target must be replaceable: not a folder, writable, not in use. It stays open
  // (and locked by us) until it has been replaced.
  int old = -1;
  struct stat dst_st {};
  if (::stat(dst.c_str(), &dst_st) == 0) {
    LONG rc = ERROR_SUCCESS;
    if (fail_if_exists) {
      rc = ERROR_FILE_EXISTS;
    } else if (!S_ISREG(dst_st.st_mode)) {
      rc = ERROR_ACCESS_DENIED;  // a folder, a pipe or a device is not replaced
    } else if (dst_st.st_dev == in_st.st_dev && dst_st.st_ino == in_st.st_ino) {
      rc = ERROR_SHARING_VIOLATION;  // a file cannot be copied onto itself
    } else if ((old = ::open(dst.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK)) < 0) {
      rc = WindowsErrorFromErrno(errno);
    } else if (HeldByOthers(old)) {
      rc = ERROR_SHARING_VIOLATION;
    }
    if (rc != ERROR_SUCCESS) {
      if (old >= 0) ::close(old);
      ::close(in);
      return rc;
    }
  } else if (!IsDirectory(ParentDirectory(dst))) {
    ::close(in);
    return ERROR_PATH_NOT_FOUND;
  }

  std::string temp = ParentDirectory(dst) + "/." + BaseName(dst) + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int out = ::mkstemp(name.data());
  int err = out < 0 ? errno : 0;
  temp.assign(name.data());
  if (err == 0) err = CopyData(in, out);
  if (err == 0 && ::fchmod(out, in_st.st_mode & 07777) != 0) err = errno;
  if (err == 0) {
    // Windows copies keep the source's last-write time; the installer compares those times.
    struct timespec times[2] = {in_st.st_atim, in_st.st_mtim};
    if (::futimens(out, times) != 0) err = errno;
  }
  if (err == 0 && ::fsync(out) != 0) err = errno;
  if (out >= 0 && ::close(out) != 0 && err == 0) err = errno;
  if (err == 0) {
    if (fail_if_exists) {
      // Someone may have created the target meanwhile; it must still not be overwritten.
      if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) != 0) {
        err = errno;
        if (err == EINVAL || err == ENOSYS) {
          err = ::link(temp.c_str(), dst.c_str()) == 0 ? 0 : errno;
          if (err == 0) ::unlink(temp.c_str());
        }
      }
    } else {
      err = MoveReplacing(temp, dst);
    }
  }
  if (err != 0 && out >= 0) ::unlink(temp.c_str());
  if (old >= 0) ::close(old);
  ::close(in);
  if (err == 0) SyncDirectory(ParentDirectory(dst));
  return WindowsErrorFromErrno(err);
}

LONG HostFiles::GetFileStatus(const std::string& path, FileStatus* status) {
  std::string file;
  if (LONG rc = ToLinuxPath(path, &file); rc != ERROR_SUCCESS) return rc;
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) {
    return errno == ENOENT ? MissingError(file) : WindowsErrorFromErrno(errno);
  }
  status->directory = S_ISDIR(st.st_mode);
  status->size = static_cast<uint64_t>(st.st_size);
  status->modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return ERROR_SUCCESS;
}

LONG HostFiles::ReadFile(const std::string& path, std::string* bytes) {
  std::string file;
  if (LONG rc = ToLinuxPath(path, &file); rc != ERROR_SUCCESS) return rc;
  int err = ReadWholeFile(file, bytes);
  if (err == ENOENT) return MissingError(file);
  return WindowsErrorFromErrno(err);
}

LONG HostFiles::WriteFile(const std::string& path, std::string_view bytes) {
  std::string file;
  if (LONG rc = Resolve(path, Use::kChange, &file); rc != ERROR_SUCCESS) return rc;
  if (IsDirectory(file)) return ERROR_ACCESS_DENIED;
  if (!IsDirectory(ParentDirectory(file))) return ERROR_PATH_NOT_FOUND;
  return WindowsErrorFromErrno(WriteFileAtomic(file, bytes));
}

LONG HostFiles::AppendFile(const std::string& path, std::string_view bytes, bool sync) {
  std::string file;
  if (LONG rc = Resolve(path, Use::kChange, &file); rc != ERROR_SUCCESS) return rc;
  int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) return errno == ENOENT ? ERROR_PATH_NOT_FOUND : WindowsErrorFromErrno(errno);
  struct stat st {};
  int err = ::fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EACCES;
  size_t done = 0;
  while (err == 0 && done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno != EINTR) err = errno;
    if (n > 0) done += static_cast<size_t>(n);
  }
  if (err == 0 && sync && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  return WindowsErrorFromErrno(err);
}

LONG HostFiles::DeleteFileA(const std::string& path) {
  std::string file;
  if (LONG rc = Resolve(path, Use::kChange, &file); rc != ERROR_SUCCESS) return rc;
  if (IsDirectory(file)) return ERROR_ACCESS_DENIED;
  if (::unlink(file.c_str()) == 0) return ERROR_SUCCESS;
  return errno == ENOENT ? MissingError(file) : WindowsErrorFromErrno(errno);
}

LONG HostFiles::RemoveDirectoryA(const std::string& path) {
  std::string dir;
  if (LONG rc = Resolve(path, Use::kChange, &dir); rc != ERROR_SUCCESS) return rc;
  if (::rmdir(dir.c_str()) == 0) return ERROR_SUCCESS;
  return errno == ENOENT ? MissingError(dir) : WindowsErrorFromErrno(errno);
}

namespace {

std::string Trimmed(const std::string& s) {
  size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t");
  return s.substr(a, b - a + 1);
}

bool SameText(const std::string& a, const char* b) {
  return ::strcasecmp(a.c_str(), b) == 0;
}

}  // namespace

RestartReport HostFiles::ExitWindowsEx() {
  // Windows starts without the installer's medium: names without a drive in WININIT.INI are
  // taken from the root of drive C:, and every name stays inside the root.
  struct NoMedium {
    std::string& medium;
    std::string kept;
    ~NoMedium() { medium = kept; }
  } no_medium{medium_, std::exchange(medium_, std::string())};
  RestartReport report;
  const std::string ini = GetWindowsDirectory() + "\\WININIT.INI";
  std::string text;
  if (ReadFile(ini, &text) != ERROR_SUCCESS) return report;
  report.ini_found = true;

  std::vector<std::string> kept_temps;  // TEMP files whose move failed: never deleted
  std::vector<std::string> retry;       // lines for the next restart
  bool in_rename = false;
  for (const std::string& line : TextLines(text)) {
    std::string trimmed = Trimmed(line);
    if (trimmed.empty() || trimmed[0] == ';') continue;
    if (trimmed[0] == '[') {
      in_rename = SameText(trimmed, "[rename]");
      continue;
    }
    size_t eq = line.find('=');
    if (!in_rename || eq == std::string::npos) continue;
    std::string target = Trimmed(line.substr(0, eq));
    std::string temp = Trimmed(line.substr(eq + 1));
    std::string temp_path, target_path;
    if (Resolve(temp, Use::kChange, &temp_path) != ERROR_SUCCESS) {
      report.failures.push_back(line);
      continue;
    }
    if (SameText(target, "NUL")) {
      bool kept = false;
      for (const std::string& k : kept_temps) kept = kept || SameText(k, temp.c_str());
      if (kept) {
        // The file is the only copy of a replacement that is still due.
        retry.push_back(line);
      } else if (::unlink(temp_path.c_str()) == 0 || errno == ENOENT) {
        ++report.deleted;
      } else {
        report.failures.push_back(line);
      }
      continue;
    }
    int err = Resolve(target, Use::kChange, &target_path) == ERROR_SUCCESS ? 0 : EINVAL;
    if (err == 0) err = MoveReplacing(temp_path, target_path);
    if (err == EXDEV) {
      err = CopyFileA(temp, target, false) == ERROR_SUCCESS ? 0 : EXDEV;
      if (err == 0) ::unlink(temp_path.c_str());
    }
    if (err == 0) {
      ++report.moved;
    } else {
      report.failures.push_back(line);
      // Only a replacement whose file is still there can be made at a later start.
      struct stat st {};
      if (::stat(temp_path.c_str(), &st) == 0) {
        kept_temps.push_back(temp);
        retry.push_back(line);
      }
    }
  }

  // The processed file is kept as WININIT.BAK, as Windows keeps it.
  std::string ini_path, bak_path;
  Resolve(ini, Use::kChange, &ini_path);
  Resolve(GetWindowsDirectory() + "\\WININIT.BAK", Use::kChange, &bak_path);
  if (::rename(ini_path.c_str(), bak_path.c_str()) != 0) {
    report.failures.push_back("WININIT.INI could not be renamed to WININIT.BAK");
    return report;
  }
  if (!retry.empty()) {
    std::string again = "[rename]\r\n";
    for (const std::string& line : retry) again += line + "\r\n";
    WriteFile(ini, again);
  }
  return report;
}

void HostFiles::SeedFirstUse(Registry& registry) {
  const std::string drive_c = root_ + "/drive_c";
  if (IsDirectory(drive_c)) return;
  SetRegistryString(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                    "ProgramFilesDir", "C:\\Program Files");
  SetRegistryString(registry, HKEY_CURRENT_USER,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Desktop",
                    "C:\\WINDOWS\\Desktop");
  // drive_c is made last: it marks the seeding as done, so an interrupted one is repeated.
  const std::string staging = root_ + "/drive_c.seeding";
  for (const char* dir :
       {"/WINDOWS/SYSTEM", "/WINDOWS/Desktop", "/WINDOWS/Start Menu/Programs", "/Program Files"}) {
    MakeDirectories(staging + dir);
  }
  if (::rename(staging.c_str(), drive_c.c_str()) != 0) MakeDirectories(drive_c);
}
