// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

int WriteAll(int fd, std::string_view bytes) {
  return WriteAllToFd(fd, bytes);
}

// The descriptor a name for one of the program's own open files stands for: /dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/self/fd/N; -1 for any other name.
int OwnDescriptor(const std::string& path) {
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::string p(prefix);
    if (path.size() > p.size() && path.size() <= p.size() + 6 && path.compare(0, p.size(), p) == 0) {
      int fd = 0;
      for (size_t i = p.size(); i < path.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(path[i]))) return -1;
        fd = fd * 10 + (path[i] - '0');
      }
      return fd;
    }
  }
  return -1;
}

// A link into /proc (as /dev/stdout is, to /proc/self/fd/1) names an open file of some
// process: replacing the link would replace that system name, so it is written through.
bool LinkIntoProc(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  char target[16] = {};
  const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
  return n >= 6 && std::string_view(target, static_cast<size_t>(n)).substr(0, 6) == "/proc/";
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string ParentDirectory(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void SyncDirectory(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

int WriteFileAtomic(const std::string& path, std::string_view bytes, mode_t mode) {
  const std::string dir = ParentDirectory(path);
  std::string temp = dir + "/." + BaseName(path) + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  // Created exclusively (O_EXCL): a link or file planted under the name is never followed.
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  temp.assign(name.data());

  int err = WriteAll(fd, bytes);
  if (err == 0 && ::fchmod(fd, mode) != 0) err = errno;
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    return err;
  }
  SyncDirectory(dir);
  return 0;
}

int WriteAllToFd(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

OutputKind ClassifyOutput(const std::string& path, std::string* why) {
  if (OwnDescriptor(path) >= 0) return OutputKind::WriteThrough;
  struct stat st {};
  // Nothing there yet, or a name that cannot be looked at: the write itself will say why.
  if (::stat(path.c_str(), &st) != 0) return OutputKind::Replace;
  if (S_ISREG(st.st_mode)) return LinkIntoProc(path) ? OutputKind::WriteThrough : OutputKind::Replace;
  if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) return OutputKind::WriteThrough;
  const char* what = S_ISDIR(st.st_mode)    ? "a folder"
                     : S_ISSOCK(st.st_mode) ? "a socket"
                     : S_ISBLK(st.st_mode)  ? "a block device"
                                            : "neither a file, a FIFO nor a character device";
  if (why != nullptr) *why = what;
  return S_ISDIR(st.st_mode) ? OutputKind::Folder : OutputKind::Refused;
}

int OpenWriteThrough(const std::string& path, bool wait_for_reader) {
  if (const int own = OwnDescriptor(path); own >= 0) {
    const int flags = ::fcntl(own, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) {
      errno = EBADF;
      return -1;
    }
    return ::fcntl(own, F_DUPFD_CLOEXEC, 3);
  }
  // Non-blocking first: a FIFO with no reader answers ENXIO instead of blocking.
  int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == ENXIO && wait_for_reader) fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  // Written in place only what cannot be replaced: a regular file swapped in since the name was
  // looked at is not overwritten from its start.
  if (::fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || LinkIntoProc(path))) {
    ::close(fd);
    errno = EAGAIN;
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

int CreateTemporaryBeside(const std::string& path, std::string* temp) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    *temp = path + ".part." + std::to_string(getpid()) + "." +
            std::to_string(counter.fetch_add(1) ^ static_cast<unsigned>(now.tv_nsec));
    const int fd = ::open(temp->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

int WriteOutputFile(const std::string& path, std::string_view bytes, bool wait_for_reader) {
  switch (ClassifyOutput(path)) {
    case OutputKind::Folder: return EISDIR;
    case OutputKind::Refused: return ENOTSUP;
    case OutputKind::WriteThrough: {
      const int fd = OpenWriteThrough(path, wait_for_reader);
      if (fd < 0) return errno;
      int err = WriteAllToFd(fd, bytes);
      if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
      return err;
    }
    case OutputKind::Replace: break;
  }
  std::string temp;
  const int fd = CreateTemporaryBeside(path, &temp);
  if (fd < 0) return errno;
  int err = WriteAll(fd, bytes);
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    return err;
  }
  SyncDirectory(ParentDirectory(path));
  return 0;
}

void RemoveStaleTemporaries(const std::string& path) {
  const std::string dir = ParentDirectory(path);
  std::string prefix = BaseName(path);
  prefix.insert(prefix.begin(), '.');
  prefix.push_back('.');
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  std::vector<std::string> stale;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    // Exactly the names WriteFileAtomic makes: the prefix and six characters from mkstemp.
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    bool random = true;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
      random = random && std::isalnum(static_cast<unsigned char>(name[i]));
    }
    if (random) stale.push_back(dir + "/" + name);
  }
  ::closedir(d);
  for (const std::string& file : stale) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(file.c_str());
  }
}

int ReadWholeFile(const std::string& path, std::string* out) {
  // Non-blocking, so that a pipe or device in the file's place cannot stall the program.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return err;
  }
  std::string data;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      return err;
    }
    if (n == 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  *out = std::move(data);
  return 0;
}
