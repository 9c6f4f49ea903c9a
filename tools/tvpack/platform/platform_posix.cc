// The packaging tool's system layer on POSIX systems.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "platform.h"

extern char** environ;

namespace platform {

namespace {

void Walk(const std::string& path, const std::string& relative, std::vector<PackItem>* items) {
  DIR* dir = opendir(path.c_str());
  if (!dir) {
    items->push_back({relative, true, 0, path, "", "cannot read this folder"});
    return;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  if (names.empty() && !relative.empty()) items->push_back({relative, true, 0, path, "", ""});
  // Each name is looked up in the open folder: the system then need not walk
  // the whole path again for every file.
  const int at = dirfd(dir);
  std::vector<std::string> folders;
  for (const std::string& name : names) {
    const std::string full = path + "/" + name;
    const std::string rel = relative.empty() ? name : relative + "/" + name;
    struct stat info;
    if (fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      items->push_back({rel, false, 0, full, "", "cannot be read"});
      continue;
    }
    if (S_ISLNK(info.st_mode)) {
      struct stat target;
      if (fstatat(at, name.c_str(), &target, 0) != 0 || !S_ISREG(target.st_mode)) {
        items->push_back({rel, false, 0, full, "", "a link to a folder or to nothing: not followed"});
        continue;
      }
      info = target;
    }
    if (S_ISDIR(info.st_mode)) {
      // Walked after this folder is closed: a deep tree holds one open
      // folder at a time.
      folders.push_back(name);
    } else if (S_ISREG(info.st_mode)) {
      items->push_back({rel, false, static_cast<uint64_t>(info.st_size), full, "", ""});
    } else {
      items->push_back({rel, false, 0, full, "", "not a regular file"});
    }
  }
  closedir(dir);
  for (const std::string& name : folders)
    Walk(path + "/" + name, relative.empty() ? name : relative + "/" + name, items);
}

}  // namespace

bool ListFolder(const std::string& root, std::vector<PackItem>* items, std::string* error) {
  if (!IsFolder(root)) {
    *error = "no such folder: " + root;
    return false;
  }
  DIR* dir = opendir(root.c_str());
  if (!dir) {
    *error = "cannot read the folder " + root;
    return false;
  }
  closedir(dir);
  Walk(root, "", items);
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

FILE* Open(const std::string& path, const char* mode) { return fopen(path.c_str(), mode); }
bool Seek(FILE* file, uint64_t offset) { return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0; }
bool SizeOf(FILE* file, uint64_t* size) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0) return false;
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}
bool ReadWholeFile(const std::string& path, std::string* data, uint64_t expected) {
  // Straight into the string, without stdio: with many small files the
  // system calls are most of the time (no fstat; one read and the end).
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  data->clear();
  data->shrink_to_fit();
  size_t have = 0;
  data->resize(static_cast<size_t>(expected) + 1);
  for (;;) {
    if (have == data->size()) data->resize(data->size() * 2);
    const ssize_t got = read(fd, &(*data)[have], data->size() - have);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      close(fd);
      data->resize(have);
      return got == 0;
    }
    have += static_cast<size_t>(got);
  }
}

bool ReadFilePart(const std::string& path, uint64_t offset, uint8_t* buffer, size_t size, size_t* got) {
  *got = 0;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  while (*got < size) {
    const ssize_t n = pread(fd, buffer + *got, size - *got, static_cast<off_t>(offset + *got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      return n == 0;
    }
    *got += static_cast<size_t>(n);
  }
  close(fd);
  return true;
}

bool Remove(const std::string& path) { return unlink(path.c_str()) == 0; }
bool Replace(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

std::string FullPath(const std::string& path) {
  // The deepest part of the path that exists is resolved by the system;
  // the elements below it, which do not exist yet, are appended as they are.
  std::string existing = path.empty() ? "." : path;
  std::string rest;
  char buffer[PATH_MAX];
  while (!realpath(existing.c_str(), buffer)) {
    const size_t slash = existing.find_last_of('/');
    const std::string name = slash == std::string::npos ? existing : existing.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return "";
    rest = rest.empty() ? name : name + "/" + rest;
    existing = slash == std::string::npos ? "." : slash == 0 ? "/" : existing.substr(0, slash);
  }
  std::string full = buffer;
  if (!rest.empty()) full += (full == "/" ? "" : "/") + rest;
  return full;
}

bool IsInside(const std::string& path, const std::string& folder) {
  if (path == folder) return true;
  const std::string prefix = folder == "/" ? folder : folder + "/";
  return path.compare(0, prefix.size(), prefix) == 0;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string OwnExecutable() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool StderrIsTerminal() { return isatty(2) != 0; }

static void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}
void WriteStdout(const std::string& text) { WriteAll(1, text); }
void WriteStderr(const std::string& text) { WriteAll(2, text); }

double Seconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

int Run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawnp(&child, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace platform
