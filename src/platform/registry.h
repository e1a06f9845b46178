// SPDX-License-Identifier: GPL-3.0-or-later
// The registry as both programs use it: keys under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER
// holding REG_DWORD, REG_BINARY and REG_SZ values, with the calls and result codes of the
// Windows registry functions. The Linux backend keeps each hive as a REGEDIT4 text file under
// $QOVEN_ROOT/registry/, written whole (temporary file, then rename) and locked while written.
#pragma once

#include <cstdint>
#include <string>

using HKEY = uintptr_t;
using LONG = long;
using DWORD = uint32_t;

constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD KEY_WRITE = 0x20006;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

class Registry {
 public:
  virtual ~Registry() = default;

  virtual LONG RegCreateKeyExA(HKEY root, const std::string& sub_key, DWORD options, DWORD access,
                               HKEY* result, DWORD* disposition) = 0;
  virtual LONG RegOpenKeyExA(HKEY root, const std::string& sub_key, DWORD access, HKEY* result) = 0;
  virtual LONG RegOpenKeyA(HKEY root, const std::string& sub_key, HKEY* result) {
    return RegOpenKeyExA(root, sub_key, KEY_ALL_ACCESS, result);
  }
  // On entry *size is the room in `data` (bytes); on return the value's size. A value larger
  // than the room gives ERROR_MORE_DATA and copies nothing.
  virtual LONG RegQueryValueExA(HKEY key, const std::string& name, DWORD* type, uint8_t* data,
                                DWORD* size) = 0;
  // A key opened for writing changes the hive when it is closed (or flushed).
  virtual LONG RegSetValueExA(HKEY key, const std::string& name, DWORD type, const uint8_t* data,
                              DWORD size) = 0;
  virtual LONG RegCloseKey(HKEY key) = 0;
};
