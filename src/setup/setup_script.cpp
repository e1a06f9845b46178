// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/setup_script.h"

#include <string_view>

#include "platform/text_lines.h"
#include "setup/setup_texts.h"

std::vector<std::string> ScriptLines(const std::string& text) {
  // An end-of-file mark (Ctrl+Z) ends the script.
  return TextLines(text.substr(0, text.find('\x1A')));
}

ScriptResult ParseSetupScript(const std::string& text) {
  ScriptResult result;
  // An editor that saves in UTF-8 may put a byte-order mark first; it is no part of line 1 (the
  // program name, which names keys and shortcut files).
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  const std::string_view body = std::string_view(text).substr(text.starts_with(kByteOrderMark) ? 3 : 0);
  const std::vector<std::string> lines = ScriptLines(std::string(body));
  if (lines.size() < 3) {
    static const char* const kMissingLine[] = {"line 1, the program name", "line 2, the version",
                                               "line 3, the destination folder name"};
    result.outcome = ScriptOutcome::kIncomplete;
    result.message = std::string("The essential file SETUP.DAT is incomplete: ") +
                     kMissingLine[lines.size()] +
                     ", is missing.\nThe first three lines must give the program name, its "
                     "version and the destination folder name.";
    return result;
  }
  result.outcome = ScriptOutcome::kRead;
  SetupScript& s = result.script;
  s.ProgramName = lines[0];
  s.VersionText = lines[1];
  s.DestinationName = lines[2];
  for (size_t i = 3; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty()) continue;
    if (line[0] == '+') s.ProgramFiles.push_back(line.substr(1));
    if (line[0] == '*') s.SystemFiles.push_back(line.substr(1));
  }
  return result;
}

ScriptResult ReadSetupScript(HostFiles& files) {
  std::string text;
  if (files.ReadFile(setup_text::kScriptName, &text) != ERROR_SUCCESS) {
    ScriptResult result;
    result.outcome = ScriptOutcome::kMissing;
    result.message = setup_text::kScriptMissing;
    return result;
  }
  return ParseSetupScript(text);
}

bool QueryString(Registry& registry, HKEY key, const std::string& name, std::string* value) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (registry.RegQueryValueExA(key, name, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type != REG_SZ) return false;
  std::string data(size, '\0');
  if (registry.RegQueryValueExA(key, name, &type, reinterpret_cast<uint8_t*>(data.data()), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  data.resize(size);
  // The stored size counts the terminating zero; the text ends at the first zero.
  data.resize(data.find('\0') == std::string::npos ? data.size() : data.find('\0'));
  *value = data;
  return true;
}

std::string ProgramFilesFolder(Registry& registry) {
  std::string folder = setup_text::kDefaultProgramFiles;
  HKEY key = 0;
  if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, setup_text::kCurrentVersionKey, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    std::string value;
    if (QueryString(registry, key, setup_text::kProgramFilesValue, &value)) folder = value + "\\";
    registry.RegCloseKey(key);
  }
  return folder;
}
