// SPDX-License-Identifier: GPL-3.0-or-later
// Every text the installer shows, logs or stores, in one place. They are part of what users,
// their support people and the uninstaller read, so they are kept exactly as they stand.
#pragma once

namespace setup_text {

// Dialog
inline constexpr char kDialogTitle[] = "Setup installation program";
inline constexpr char kIntroLine1[] = "Setup is preparing to install your copy of";
inline constexpr char kVersionJoin[] = " Version ";
inline constexpr char kIntroLine3[] = "to the directory shown below";
inline constexpr char kNoOtherPrograms[] = "Make sure no other programs are running!";
inline constexpr char kWillInstallIn[] = "Setup will install your software in:";
inline constexpr char kInstallNow[] = "Install Now";
inline constexpr char kExit[] = "Exit";
inline constexpr char kAboutMenuEntry[] = "&About setup...";
inline constexpr char kAboutTitle[] = "About setup";
inline constexpr char kAboutLine[] = "QOVEN Setup Version 1.0";
inline constexpr char kDefaultProgramFiles[] = "C:\\Program Files\\";

// Script
inline constexpr char kScriptName[] = "setup.dat";
inline constexpr char kScriptMissing[] = "The essential file SETUP.DAT is missing.";

// Steps
inline constexpr char kStepConfig[] = "Checking configuration";
inline constexpr char kStepDisk[] = "Checking disk space";
inline constexpr char kStepCopy[] = "Copying Files";
inline constexpr char kStepRegistry[] = "Updating Registry";
inline constexpr char kStepDone[] = " .....Done";

// Messages and log lines
inline constexpr char kDestinationNotCreated[] =
    "The destination directory could not be created.\nIf it already exists, delete it or run\n"
    "Uninstall before re-installing.";
inline constexpr char kLogHeader[] = "Setup log for: ";
inline constexpr char kProgramFileMissing[] = "One of the program files could not be found";
inline constexpr char kCannotEstablishStatus[] = "Cannot establish file status";
inline constexpr char kWininitCreated[] = "WININIT.INI created";
inline constexpr char kLinesAdded[] = "Lines added to WININIT.INI:";
inline constexpr char kUnableToCreateWininit[] = "Unable to create WININIT.INI";
inline constexpr char kStartMenuCreated[] = "New QOVEN program files directory created";
inline constexpr char kStartMenuExisted[] = "QOVEN program files directory already existed";
inline constexpr char kCompletedOk[] = "Installation completed OK";
inline constexpr char kCanRunNow[] = "You can now run the new application.";
inline constexpr char kErrorsDetected[] = "Installation errors were detected.";
inline constexpr char kRebootQuestion[] =
    "You need to reboot your computer now to complete the installation.\nClick Yes to re-boot "
    "now.\nClick No if you wish to re-boot manually later.";
inline constexpr char kWhenRestarted[] = "When the computer restarts you can run the new application.";
inline constexpr char kRebootAutomatically[] = "Elected to reboot automatically";
inline constexpr char kRememberReboot[] = "Remember to reboot your computer manually.";
inline constexpr char kRebootManually[] = "Elected to reboot manually";
inline constexpr char kSetPathFailed[] = "SetPath failed!";
inline constexpr char kSetDescriptionFailed[] = "SetDescription failed!";
inline constexpr char kSetWorkingDirectoryFailed[] = "SetWorkingDirectory failed!";

// Files, folders and keys
inline constexpr char kLogFile[] = "\\setuplog.txt";
inline constexpr char kRecordFile[] = "\\uninstal.dat";
inline constexpr char kUninstaller[] = "Uninstal.exe";
inline constexpr char kWininit[] = "\\wininit.ini";
inline constexpr char kStartMenuFolder[] = "\\Start Menu\\Programs\\QOVEN";
inline constexpr char kLinkExtension[] = ".LNK";
inline constexpr char kProgramKeyPrefix[] = "SOFTWARE\\QOVEN\\";
inline constexpr char kUninstallKeyPrefix[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
inline constexpr char kProgramFilesValue[] = "ProgramFilesDir";
inline constexpr char kShellFoldersKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline constexpr char kDesktopValue[] = "Desktop";

}  // namespace setup_text
