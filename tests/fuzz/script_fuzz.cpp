// SPDX-License-Identifier: GPL-3.0-or-later
// The installation script reader on any bytes: it never crashes, a script with three lines is
// read and one with fewer says which line is missing, no name keeps a line break, and a file
// name that passes the installer's check lands inside the folder it is copied into.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/host_files.h"
#include "setup/setup_installer.h"
#include "setup/setup_script.h"

namespace {

const HostFiles& Files() {
  static const HostFiles files(fuzz::RunFolder() + "/root");
  return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const ScriptResult result = ParseSetupScript(text);
  const size_t lines = ScriptLines(text).size();
  FUZZ_CHECK((result.outcome == ScriptOutcome::kRead) == (lines >= 3));
  if (result.outcome != ScriptOutcome::kRead) {
    FUZZ_CHECK(result.message.find("is missing") != std::string::npos);
    return 0;
  }
  const SetupScript& s = result.script;
  for (const std::string* line : {&s.ProgramName, &s.VersionText, &s.DestinationName}) {
    FUZZ_CHECK(line->find('\n') == std::string::npos);
  }
  FUZZ_CHECK(s.ProgramFiles.size() + s.SystemFiles.size() <= lines - 3);
  for (const auto* list : {&s.ProgramFiles, &s.SystemFiles}) {
    for (const std::string& name : *list) {
      FUZZ_CHECK(name.find('\n') == std::string::npos);
      if (!NameStaysInside(name)) continue;
      const std::string folder = Files().root() + "/drive_c/dest";
      std::string target;
      if (Files().ToLinuxPath("C:\\dest\\" + name, &target) == ERROR_SUCCESS) {
        FUZZ_CHECK(target == folder || target.rfind(folder + "/", 0) == 0);
      }
    }
  }
  return 0;
}
