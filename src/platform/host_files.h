// SPDX-License-Identifier: GPL-3.0-or-later
// Files and folders of the Windows host the installer was written for, kept in one Linux folder
// (the QOVEN root). Paths are given and reported the Windows way ("C:\Program Files\Clock",
// backslashes or slashes, case-insensitive); drive C: lives in <root>/drive_c, drive D: in
// <root>/drive_d and so on. A path without a drive is taken from the current folder, the root
// of drive C:, unless an installation medium is in use (below). Every path stays inside the
// root: ".." stops at a drive's root, and a link inside the root that leads out of it is
// refused (ERROR_ACCESS_DENIED). Results are Windows error codes, so callers can tell
// "exists" from "in use" from "no permission".
//
// "In use" (ERROR_SHARING_VIOLATION) means what it can mean on Linux: a program file that is
// being executed (ETXTBSY), or a file on which another open file holds a lock (flock, or a
// fcntl write lock).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_WRITE_PROTECT = 19;
constexpr LONG ERROR_GEN_FAILURE = 31;
constexpr LONG ERROR_SHARING_VIOLATION = 32;
constexpr LONG ERROR_FILE_EXISTS = 80;
constexpr LONG ERROR_DISK_FULL = 112;
constexpr LONG ERROR_INVALID_NAME = 123;
constexpr LONG ERROR_DIR_NOT_EMPTY = 145;
constexpr LONG ERROR_ALREADY_EXISTS = 183;
constexpr LONG ERROR_FILENAME_EXCED_RANGE = 206;

struct FileStatus {
  bool directory = false;
  uint64_t size = 0;     // bytes
  int64_t modified = 0;  // nanoseconds since 1970-01-01 00:00:00 UTC
};

// What the simulated restart did with WININIT.INI.
struct RestartReport {
  bool ini_found = false;
  int moved = 0;                      // TARGET=TEMP lines carried out
  int deleted = 0;                    // NUL=TEMP lines carried out
  std::vector<std::string> failures;  // the lines that could not be carried out
};

class HostFiles {
 public:
  explicit HostFiles(std::string root);
  virtual ~HostFiles() = default;

  const std::string& root() const { return root_; }

  // The installer runs from the folder that holds its script and the files it lists, as it
  // would from its setup disk: from now on a path without a drive names a file in that Linux
  // folder, which may be read but is never written, replaced or deleted (ERROR_WRITE_PROTECT).
  // ".." stops at the folder itself, and a link on it that leads out of it is refused
  // (ERROR_ACCESS_DENIED), as one inside the root that leads out of the root.
  void UseInstallationMedium(std::string linux_folder);

  // The Linux path of a Windows path, or an error (ERROR_INVALID_NAME for names Windows does
  // not allow, ERROR_PATH_NOT_FOUND for network paths, ERROR_ACCESS_DENIED for a link out of
  // the root). Existing folders and files are found whatever the case of the name; ".." never
  // climbs above a drive's root.
  LONG ToLinuxPath(const std::string& windows_path, std::string* linux_path) const;

  std::string GetWindowsDirectory() const { return "C:\\WINDOWS"; }
  std::string GetSystemDirectory() const { return "C:\\WINDOWS\\SYSTEM"; }

  // One folder level, as CreateDirectoryA: ERROR_ALREADY_EXISTS, ERROR_PATH_NOT_FOUND (no
  // parent), ERROR_ACCESS_DENIED.
  virtual LONG CreateDirectoryA(const std::string& path);
  // As CopyFileA: the copy keeps the source's modification time; fail_if_exists gives
  // ERROR_FILE_EXISTS; a target in use ERROR_SHARING_VIOLATION; no permission or a folder
  // ERROR_ACCESS_DENIED; a missing source ERROR_FILE_NOT_FOUND. The target is replaced whole
  // or not at all.
  virtual LONG CopyFileA(const std::string& from, const std::string& to, bool fail_if_exists);
  virtual LONG GetFileStatus(const std::string& path, FileStatus* status);
  virtual LONG ReadFile(const std::string& path, std::string* bytes);
  // Creates or replaces a file with `bytes`, whole or not at all.
  virtual LONG WriteFile(const std::string& path, std::string_view bytes);
  // Adds `bytes` at the end of a file, creating it when it is missing (a log). With `sync` the
  // file is flushed to disk before the call returns.
  virtual LONG AppendFile(const std::string& path, std::string_view bytes, bool sync);
  virtual LONG DeleteFileA(const std::string& path);
  virtual LONG RemoveDirectoryA(const std::string& path);

  // What Windows does at its next start (the Linux machine is never rebooted): the [rename]
  // section of WININIT.INI in the Windows folder is carried out in order -- "TARGET=TEMP" moves
  // TEMP over TARGET, "NUL=TEMP" deletes TEMP -- and the file is renamed to WININIT.BAK.
  // A move that fails keeps its TEMP file (a later NUL line for it is skipped) and its line is
  // written to a fresh WININIT.INI so the next restart tries again.
  virtual RestartReport ExitWindowsEx();

  // The first use of a root makes it look like a fresh Windows machine: the Windows, system,
  // desktop, Start-menu and Program Files folders, and the registry values that name the
  // Program Files and desktop folders (values already present are kept).
  void SeedFirstUse(Registry& registry);

 private:
  enum class Use { kRead, kChange };  // a change creates, replaces, moves or deletes
  LONG Resolve(const std::string& windows_path, Use use, std::string* linux_path) const;
  // Whether `path`, built as `folder` + "/" + names, stays inside `folder` (the root or the
  // medium) once the links on its way are followed.
  bool StaysInside(const std::string& path, const std::string& folder, Use use) const;

  std::string root_;
  std::string medium_;  // Linux folder of the installation medium; empty when there is none
};

// Maps an errno of a file operation onto the Windows error code a program expects.
LONG WindowsErrorFromErrno(int err);
