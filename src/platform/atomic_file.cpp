// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

int WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
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
