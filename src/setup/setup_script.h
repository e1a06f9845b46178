// SPDX-License-Identifier: GPL-3.0-or-later
// The installation script "setup.dat": line 1 the program name, line 2 its version, line 3 the
// destination folder's name under Program Files; after that "+name" lines list program files
// (copied into the destination folder) and "*name" lines system files (copied into the Windows
// system folder). Any other line is a comment.
#pragma once

#include <string>
#include <vector>

#include "platform/host_files.h"
#include "platform/registry.h"

struct SetupScript {
  std::string ProgramName;
  std::string VersionText;
  std::string DestinationName;  // line 3
  std::vector<std::string> ProgramFiles;
  std::vector<std::string> SystemFiles;
};

enum class ScriptOutcome {
  kRead,
  kMissing,     // the file cannot be opened
  kIncomplete,  // fewer than three lines
};

struct ScriptResult {
  ScriptOutcome outcome = ScriptOutcome::kMissing;
  SetupScript script;
  std::string message;  // what to tell the user when the outcome is not kRead
};

// Splits the script text into lines as a text-mode read does: a line ends at LF, a CR right
// before it belongs to the break, and a Ctrl-Z ends the text. Lines are taken whole, whatever
// their length, and nothing else is trimmed.
std::vector<std::string> ScriptLines(const std::string& text);

ScriptResult ParseSetupScript(const std::string& text);

// Reads "setup.dat" from the folder the installer was started in, its medium (found whatever
// the case of its name).
ScriptResult ReadSetupScript(HostFiles& files);

// The Program Files folder, ending in a backslash: the "ProgramFilesDir" value of the local
// machine's CurrentVersion key, else "C:\Program Files\".
std::string ProgramFilesFolder(Registry& registry);

// Reads a string value whole (any length); false when the key has no such string value.
bool QueryString(Registry& registry, HKEY key, const std::string& name, std::string* value);
