// SPDX-License-Identifier: GPL-3.0-or-later
// Shortcut files (.LNK) in the Shell Link binary format Windows uses: a 76-byte header with the
// ShellLink class id, a LinkInfo block holding the target's local path, and the description and
// working folder as counted UTF-16 strings. Windows' shell, and independent readers such as
// liblnk's lnkinfo, read back the target, the description and the working folder.
//
// The calls and results follow the shell-link component (IShellLinkA with its IPersistFile):
// properties are set one by one, each may fail, and Save writes the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/host_files.h"

using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT HRESULT_FROM_WIN32(LONG code) {
  return code == 0 ? S_OK : static_cast<HRESULT>(0x80070000u | (static_cast<uint32_t>(code) & 0xFFFFu));
}
constexpr bool FAILED(HRESULT hr) {
  return hr < 0;
}
constexpr bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}

class ShellLink {
 public:
  virtual ~ShellLink() = default;
  virtual HRESULT SetPath(const std::string& target) = 0;
  virtual HRESULT SetDescription(const std::string& description) = 0;
  virtual HRESULT SetWorkingDirectory(const std::string& directory) = 0;
  // Writes the shortcut file; `remember` makes it the object's current file, as IPersistFile.
  virtual HRESULT Save(const std::u16string& link_path, bool remember) = 0;
};

// Creates shell-link objects (CoCreateInstance of CLSID_ShellLink).
class ShellLinkFactory {
 public:
  virtual ~ShellLinkFactory() = default;
  virtual HRESULT CreateShellLink(std::unique_ptr<ShellLink>* link) = 0;
};

// The .LNK writer of the host: targets and link paths are Windows paths of `files`.
class HostShellLinkFactory : public ShellLinkFactory {
 public:
  explicit HostShellLinkFactory(HostFiles& files) : files_(files) {}
  HRESULT CreateShellLink(std::unique_ptr<ShellLink>* link) override;

 private:
  HostFiles& files_;
};

// The bytes of a .LNK file for a target with the given status (null: the target is unknown).
std::vector<uint8_t> BuildShellLinkFile(const std::string& target, const std::string& description,
                                        const std::string& working_directory,
                                        const FileStatus* target_status);

// MultiByteToWideChar for the program's texts, which are UTF-8 on Linux; a byte that is not
// part of valid UTF-8 stands for the character of the same number (Latin-1), so every text
// converts. WideCharToUtf8 is the way back.
std::u16string MultiByteToWideChar(const std::string& text);
std::string WideCharToUtf8(const std::u16string& text);
