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

// Files named by the user for the programs' outputs (a chart, a snapshot, a test recording).
// Unlike the files the programs keep for themselves, such a name may be a pipe or a device, as
// for any Unix tool: `--chart /dev/stdout`, `--snapshot /dev/null`, a FIFO another program
// reads. Those are written through, in place; a regular file is replaced whole; anything else
// is refused, so that an output never puts a plain file where a device or socket was.
enum class OutputKind {
  Replace,       // a regular file, or nothing yet by that name: replaced through a temporary file
  WriteThrough,  // a FIFO, a character device, or one of the program's own open files
                 // (/dev/stdout, /dev/stderr, /dev/fd/N): written in place
  Folder,        // a folder: cannot be written
  Refused,       // a socket, a block device: never written, never replaced
};

// What WriteOutputFile would do with `path`; for Folder and Refused, `why` (when given) says
// what the name is ("a socket").
OutputKind ClassifyOutput(const std::string& path, std::string* why = nullptr);

// Opens a WriteThrough name for writing and returns the descriptor, or -1 with errno set. A
// FIFO with no reader yet is waited for when `wait_for_reader` (a signal caught without
// SA_RESTART ends the wait with EINTR), else refused at once with ENXIO.
int OpenWriteThrough(const std::string& path, bool wait_for_reader);

// Creates a temporary file beside `path` for a write that is then renamed over it: exclusively,
// never through a link, with the permissions 0666 less the umask. Returns the descriptor and
// the name in *temp, or -1 with errno set.
int CreateTemporaryBeside(const std::string& path, std::string* temp);

// Writes `bytes` to an output named by the user, as ClassifyOutput says. Returns 0 or an errno:
// EISDIR for a folder, ENOTSUP for a refused kind of file; on failure a regular file that was
// there is untouched and no temporary file is left behind.
int WriteOutputFile(const std::string& path, std::string_view bytes, bool wait_for_reader = true);

// Writes all of `bytes` to `fd`, going on after interrupted and partial writes. 0 or an errno.
int WriteAllToFd(int fd, std::string_view bytes);
