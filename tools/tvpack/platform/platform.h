// What the packaging tool needs of the system: the folder walk, files,
// paths, the terminal, child programs. One implementation per system
// (platform_posix.cc, platform_windows.cc). Paths are UTF-8.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "pack_rules.h"

namespace platform {

// Appends one item per file below `root` and per folder that holds nothing,
// with names relative to `root` ("/" between folders) and `sourcePath` set.
// Items that cannot be packed (links to folders, devices, unreadable
// folders) get `problem` set. False with `*error` when `root` cannot be read.
bool ListFolder(const std::string& root, std::vector<PackItem>* items, std::string* error);

// True when `path` names a folder (after links).
bool IsFolder(const std::string& path);
// True when something of that name exists: a file, a folder or a device.
bool Exists(const std::string& path);

// stdio streams on a path; nullptr on failure. `mode` as for fopen ("rb", "wb+").
FILE* Open(const std::string& path, const char* mode);
// Moves to `offset` from the start, beyond 2 GiB too. False on failure.
bool Seek(FILE* file, uint64_t offset);
// The open file's size in bytes. False on failure.
bool SizeOf(FILE* file, uint64_t* size);
// Reads the whole file at `path` into `*data`, room made for `expected`
// bytes first. False when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* data, uint64_t expected);
// Reads up to `size` bytes of the file at `path` from `offset` into `buffer`;
// `*got` is short only at the file's end. False when it cannot be opened or read.
bool ReadFilePart(const std::string& path, uint64_t offset, uint8_t* buffer, size_t size, size_t* got);
// Deletes the file at `path`. False when it cannot (or did not exist).
bool Remove(const std::string& path);
// Moves `from` to `to`, replacing `to` if it exists.
bool Replace(const std::string& from, const std::string& to);

// The absolute, normalised form of `path`, whose last element need not
// exist. Empty on failure.
std::string FullPath(const std::string& path);
// True when `path` is `folder` or lies below it (both full paths; compared
// as the system compares names).
bool IsInside(const std::string& path, const std::string& folder);
// `folder` and `name` with the system's separator between them.
std::string Join(const std::string& folder, const std::string& name);
// `path` without its last element; "." when it has only one.
std::string FolderOf(const std::string& path);

// The full path of the running tool's own program; empty when the system
// cannot say.
std::string OwnExecutable();

// The command-line arguments after the program name, in UTF-8.
std::vector<std::string> Arguments(int argc, char** argv);

// True when standard error is a terminal (a console on Windows).
bool StderrIsTerminal();
// Write the UTF-8 `text` to standard output or standard error at once (no
// buffering of ours).
void WriteStdout(const std::string& text);
void WriteStderr(const std::string& text);
double Seconds();  // a monotonic clock

// Runs `argv[0]` (searched on PATH) with the arguments and waits. Returns its
// exit code, or -1 when it cannot be started.
int Run(const std::vector<std::string>& argv);

}  // namespace platform
