// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux backend of the registry: one REGEDIT4 text file per root under a folder (normally
// $QOVEN_ROOT/registry/HKEY_LOCAL_MACHINE.reg and HKEY_CURRENT_USER.reg).
//
// Both programs write the HKEY_LOCAL_MACHINE hive (the installer its keys, the clock its
// settings at exit), possibly at the same moment. So a write never rewrites the hive from what
// this process read earlier: under an exclusive lock on "<hive>.lock" it re-reads the file,
// applies only the changes made through this object, and replaces the file atomically. Values
// set on a key reach the file when the key is closed or flushed (and when the registry object is
// destroyed with keys still open).
//
// A hive file that cannot be parsed is read as empty and is never overwritten: before the first
// write it is renamed to "<hive>.damaged-<UTC time>" so that its contents can still be recovered.
// Comment lines (";" first) of a hand-edited hive are kept where they were: each stays above the
// key or value line that followed it, those at the end stay at the end, and those before the
// first key that a blank line sets apart from it stay at the top.
//
// Keys nest at most kMaxKeyDepth levels below their root, as on Windows: a deeper key is refused
// (ERROR_INVALID_PARAMETER), and a file holding one is not a well-formed hive. Each level of a
// key is a line of the file, so without a limit one long name could grow the hive, and the time
// every later program takes to read it, with the square of its length.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"

// The folder that holds the emulated Windows host: $QOVEN_ROOT when it is set and not empty,
// else ${XDG_DATA_HOME:-$HOME/.local/share}/qoven.
std::string QovenRoot();

// The registry of the host in QovenRoot() + "/registry".
std::unique_ptr<Registry> OpenHostRegistry();

class HiveRegistry : public Registry {
 public:
  // `directory` holds the hive files and is created on the first write. An empty directory
  // keeps the hives in memory only (for tests that need no files).
  explicit HiveRegistry(std::string directory);
  // The same, confined to the folder `root`: a hive folder or hive file that is a link leading
  // out of it is neither read nor written (ERROR_ACCESS_DENIED), as for every other file of the
  // emulated host.
  HiveRegistry(std::string directory, std::string root);
  ~HiveRegistry() override;
  HiveRegistry(const HiveRegistry&) = delete;
  HiveRegistry& operator=(const HiveRegistry&) = delete;

  LONG RegCreateKeyExA(HKEY root, const std::string& sub_key, DWORD options, DWORD access, HKEY* result,
                       DWORD* disposition) override;
  LONG RegOpenKeyExA(HKEY root, const std::string& sub_key, DWORD access, HKEY* result) override;
  LONG RegQueryValueExA(HKEY key, const std::string& name, DWORD* type, uint8_t* data, DWORD* size) override;
  LONG RegSetValueExA(HKEY key, const std::string& name, DWORD type, const uint8_t* data,
                      DWORD size) override;
  LONG RegCloseKey(HKEY key) override;
  // Writes the values set on `key` so far to the hive file; the key stays open.
  LONG RegFlushKey(HKEY key);

  // The hive file of a root ("<directory>/HKEY_LOCAL_MACHINE.reg"); empty in memory mode.
  std::string HivePath(HKEY root) const;

  static constexpr size_t kMaxKeyDepth = 512;  // levels below the root

  struct Value {
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
    std::vector<std::string> comments;  // the comment lines just above the value's line
  };
  struct CaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  struct Key {
    std::string path;  // as first created, without the root's name
    std::map<std::string, Value, CaseLess> values;
    std::vector<std::string> comments;  // the comment lines just above the key's line
  };
  // Keys by path; the comparison ignores case as Windows does. Every ancestor of a listed key
  // is listed too.
  struct Hive : std::map<std::string, Key, CaseLess> {
    std::vector<std::string> comments;  // at the top, before the first key's own
    std::vector<std::string> closing;   // after the last value
  };

  // The text form of a hive and its parser (exposed for tests). Parse returns false for a
  // file that is not a well-formed REGEDIT4 hive of `root_name`.
  static std::string Format(const std::string& root_name, const Hive& hive);
  static bool Parse(const std::string& root_name, const std::string& text, Hive* hive);

 private:
  struct OpenKey {
    HKEY root = 0;
    std::string path;
    DWORD access = 0;
    std::map<std::string, Value, CaseLess> pending;
  };

  bool ResolveParent(HKEY handle, HKEY* root, std::string* path) const;
  // Whether `path` (the hive folder or a file in it) stays inside root_ once links are followed.
  bool Confined(const std::string& path) const;
  OpenKey* Find(HKEY handle);
  Hive LoadHive(HKEY root) const;
  bool Writable(HKEY root) const;
  // Runs `change` on the current hive of `root` under the lock and stores the result.
  template <typename Change>
  LONG Transact(HKEY root, Change change);
  LONG Commit(OpenKey& key);

  std::string directory_;
  std::string root_;             // empty: not confined
  std::map<HKEY, Hive> memory_;  // memory mode only
  std::map<HKEY, OpenKey> open_;
  HKEY next_handle_ = 0x1000;
};
