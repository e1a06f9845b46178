// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/input_devices.h"

#include <cctype>
#include <cstdio>
#include <sstream>

namespace {

// "Name: value" after any indentation; "" when the line is not that field.
bool Field(const std::string& line, const char* field, std::string& value) {
  size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos) return false;
  const std::string prefix = std::string(field) + ": ";
  if (line.compare(i, prefix.size(), prefix) != 0) return false;
  value = line.substr(i + prefix.size());
  while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
  return true;
}

}  // namespace

std::vector<SoundServerSource> ParsePactlSources(const std::string& text) {
  std::vector<SoundServerSource> out;
  std::istringstream in(text);
  bool in_source = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Source #", 0) == 0) {
      in_source = true;
      out.push_back({});
      continue;
    }
    if (!in_source) continue;
    std::string value;
    // Only the source's own fields (one tab in); properties further in have names of their own.
    const bool top = line.size() > 1 && line[0] == '\t' && line[1] != '\t';
    if (top && Field(line, "Name", value) && out.back().name.empty())
      out.back().name = value;
    else if (top && Field(line, "Description", value) && out.back().description.empty())
      out.back().description = value;
  }
  std::vector<SoundServerSource> named;
  for (SoundServerSource& s : out) {
    if (s.name.empty()) continue;
    if (s.description.empty()) s.description = s.name;
    named.push_back(std::move(s));
  }
  return named;
}

std::vector<SoundServerSource> ListSoundServerSources() {
  // C locale: the field names are then English whatever the user's language.
  FILE* p = popen("LC_ALL=C pactl list sources 2>/dev/null", "r");
  if (p == nullptr) return {};
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) text.append(buffer, n);
  pclose(p);
  return ParsePactlSources(text);
}

std::vector<InputChoice> InputChoices(const std::vector<SoundServerSource>& sources,
                                      const std::string& card_names) {
  std::vector<InputChoice> out;
  out.push_back({"", "Default input"});
  for (const SoundServerSource& s : sources)
    out.push_back({SoundServerPrefix + s.name, "Sound server: " + s.description});
  std::istringstream in(card_names);
  for (std::string name; std::getline(in, name);)
    if (!name.empty()) out.push_back({name, "Device: " + name});
  return out;
}

std::string SoundServerSourceOf(const std::string& setting) {
  const std::string prefix = SoundServerPrefix;
  return setting.rfind(prefix, 0) == 0 ? setting.substr(prefix.size()) : "";
}

int PickInputDevice(const std::vector<std::string>& names, const std::string& setting) {
  if (setting.empty()) return -1;
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == setting) return static_cast<int>(i);
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& n = names[i];
    for (size_t at = n.find(setting); at != std::string::npos; at = n.find(setting, at + 1)) {
      const size_t end = at + setting.size();
      const bool digit_follows = std::isdigit(static_cast<unsigned char>(setting.back())) && end < n.size() &&
                                 std::isdigit(static_cast<unsigned char>(n[end]));
      if (!digit_follows) return static_cast<int>(i);
    }
  }
  return -1;
}

std::string DescribeInputSetting(const std::string& setting) {
  if (setting.empty()) return "the default input";
  const std::string source = SoundServerSourceOf(setting);
  if (!source.empty()) return "the sound server's source \"" + source + "\"";
  return "the device \"" + setting + "\"";
}
