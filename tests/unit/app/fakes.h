// Stand-ins for the document's services: an in-memory registry, a wave-input device whose
// calls all succeed unless told otherwise, a settable clock in UTC, and recorders for the
// wave-error dialog, the command-UI refresh and the setup dialogs.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/varnol_doc.h"
#include "platform/registry.h"

struct FakeRegistryValue {
  DWORD type = REG_NONE;
  std::vector<uint8_t> bytes;
};

class FakeRegistry : public Registry {
 public:
  using Key = std::map<std::string, FakeRegistryValue>;
  std::map<std::string, Key> keys;  // path -> values (as of the last close)
  bool refuse_open = false;
  int queries = 0;
  int writes = 0;

  LONG RegCreateKeyExA(HKEY root, const std::string& sub_key, DWORD, DWORD, HKEY* result,
                       DWORD* disposition) override {
    if (refuse_open || root != HKEY_LOCAL_MACHINE) return ERROR_ACCESS_DENIED;
    const bool existed = keys.count(sub_key) != 0;
    open_[next_] = {sub_key, keys[sub_key]};
    *result = next_++;
    if (disposition != nullptr) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    if (!existed) keys.erase(sub_key);  // appears in the hive when closed
    return ERROR_SUCCESS;
  }
  LONG RegOpenKeyExA(HKEY, const std::string& sub_key, DWORD, HKEY* result) override {
    if (keys.count(sub_key) == 0) return ERROR_FILE_NOT_FOUND;
    open_[next_] = {sub_key, keys[sub_key]};
    *result = next_++;
    return ERROR_SUCCESS;
  }
  LONG RegQueryValueExA(HKEY key, const std::string& name, DWORD* type, uint8_t* data,
                        DWORD* size) override {
    ++queries;
    auto k = open_.find(key);
    if (k == open_.end()) return ERROR_INVALID_HANDLE;
    auto v = k->second.second.find(name);
    if (v == k->second.second.end()) return ERROR_FILE_NOT_FOUND;
    if (type != nullptr) *type = v->second.type;
    const DWORD need = static_cast<DWORD>(v->second.bytes.size());
    if (need > *size) {
      *size = need;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, v->second.bytes.data(), need);
    *size = need;
    return ERROR_SUCCESS;
  }
  LONG RegSetValueExA(HKEY key, const std::string& name, DWORD type, const uint8_t* data,
                      DWORD size) override {
    ++writes;
    auto k = open_.find(key);
    if (k == open_.end()) return ERROR_INVALID_HANDLE;
    k->second.second[name] = {type, std::vector<uint8_t>(data, data + size)};
    return ERROR_SUCCESS;
  }
  LONG RegCloseKey(HKEY key) override {
    auto k = open_.find(key);
    if (k == open_.end()) return ERROR_INVALID_HANDLE;
    keys[k->second.first] = k->second.second;
    open_.erase(k);
    return ERROR_SUCCESS;
  }

  void SetDword(const std::string& path, const std::string& name, uint32_t v) {
    keys[path][name] = {REG_DWORD, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}};
  }
  void SetDouble(const std::string& path, const std::string& name, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    std::vector<uint8_t> b(8);
    for (int i = 0; i < 8; ++i) b[i] = uint8_t(bits >> (8 * i));
    keys[path][name] = {REG_BINARY, b};
  }
  int OpenCount() const { return static_cast<int>(open_.size()); }

 private:
  HKEY next_ = 0x100;
  std::map<HKEY, std::pair<std::string, Key>> open_;
};

// Every call succeeds unless a failure is set; buffers are never filled.
class FakeWaveInput : public WaveInput {
 public:
  MMRESULT open_result = MMSYSERR_NOERROR;
  int opens = 0;
  MMRESULT waveInOpen(HWAVEIN* handle, unsigned int, const WAVEFORMATEX*, uintptr_t, uintptr_t,
                      uint32_t) override {
    ++opens;
    if (open_result != MMSYSERR_NOERROR) return open_result;
    *handle = 7;
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInPrepareHeader(HWAVEIN, WAVEHDR* h, unsigned int) override {
    h->dwFlags.fetch_or(WHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInUnprepareHeader(HWAVEIN, WAVEHDR* h, unsigned int) override {
    h->dwFlags.fetch_and(~WHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }
  MMRESULT waveInAddBuffer(HWAVEIN, WAVEHDR*, unsigned int) override { return MMSYSERR_NOERROR; }
  MMRESULT waveInStart(HWAVEIN) override { return MMSYSERR_NOERROR; }
  MMRESULT waveInReset(HWAVEIN) override { return MMSYSERR_NOERROR; }
  MMRESULT waveInClose(HWAVEIN) override { return MMSYSERR_NOERROR; }
};

// A clock standing at `now`, whose local time is UTC.
class FakeClock : public SystemClock {
 public:
  int64_t now = 0;
  int64_t Now() override { return now; }
  LocalDateTime Local(int64_t t) override {
    const SYSTEMTIME st = SystemTimeFromUnix(t);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
  }
  int64_t LocalStandardToTime(const LocalDateTime& l) override {
    SYSTEMTIME st;
    st.wYear = uint16_t(l.year);
    st.wMonth = uint16_t(l.month);
    st.wDay = uint16_t(l.day);
    st.wHour = uint16_t(l.hour);
    st.wMinute = uint16_t(l.minute);
    st.wSecond = uint16_t(l.second);
    return UnixFromSystemTime(st);
  }
  SYSTEMTIME GetSystemTime() override { return SystemTimeFromUnix(now); }
  bool SetSystemTime(const SYSTEMTIME& st) override {
    now = UnixFromSystemTime(st);
    return true;
  }
};

class RecordingErrors : public WaveErrorDialog {
 public:
  std::vector<std::pair<std::string, std::string>> shown;
  void ShowModal(const std::string& operation, const std::string& reason) override {
    shown.emplace_back(operation, reason);
  }
};

// What an update handler did to its item.
class RecordingCmdUI : public CVarnolDoc::CCmdUI {
 public:
  int check = -1;  // -1: not set
  std::string text;
  bool text_set = false;
  void SetCheck(int c) override { check = c; }
  void SetText(const char* t) override {
    text = t;
    text_set = true;
  }
};
