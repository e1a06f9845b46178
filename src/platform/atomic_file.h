// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-file reads and writes for the files both programs keep for the user (registry hives,
// installed files, logs, records). A write goes to a temporary file beside the target, is
// flushed to disk and then renamed over the target, so a reader (or a crash) only ever sees the
// old file or the new one, never a part of either.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// Replaces `path` with `bytes`. Returns 0 or the errno of the step that failed; on failure the
// previous file (if any) is untouched and no temporary file is left behind.
int WriteFileAtomic(const std::string& path, std::string_view bytes, mode_t mode = 0644);

// Removes the temporary files that WriteFileAtomic(path, ...) calls left behind when they were
// killed before renaming. Only for a caller that knows no other write of `path` is under way
// (it holds that file's lock).
void RemoveStaleTemporaries(const std::string& path);

// Reads the whole of `path` into *out. Returns 0 or an errno (EISDIR for a directory).
int ReadWholeFile(const std::string& path, std::string* out);

// Flushes the directory entry changes of `dir` (after a rename) to disk; errors are ignored
// because the data itself is already safe.
void SyncDirectory(const std::string& dir);

// The folder part of a Linux path ("." when there is none).
std::string ParentDirectory(const std::string& path);
