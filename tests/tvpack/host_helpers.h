// Helpers of the packaging tool's host tests: scratch folders on the local
// file system, a stand-in launcher image (pe_builder.h), and running a tvpack command with
// its output captured.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "launcher_constants.h"
#include "pe_builder.h"
#include "tvpack.h"

namespace tvtest {

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
    mkdir(path.substr(0, at).c_str(), 0755);
  std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh folder, removed with its contents at the end.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/tvpack-test-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~Scratch() {
    const std::string command = "rm -rf '" + path_ + "'";
    // Best effort: a left-over folder in /tmp harms nothing.
    (void)!system(command.c_str());
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A program that carries the launcher's name as its version resource does.
inline std::string FakeLauncher() { return FakeProgram(kLauncherName); }

struct ToolRun {
  int code = -1;
  std::string out, err;
};

class CapturingConsole final : public Console {
 public:
  void Out(const std::string& text) override { run.out += text; }
  void Err(const std::string& text) override { run.err += text; }
  bool Terminal() override { return terminal; }
  ToolRun run;
  bool terminal = false;
};

inline ToolRun Tvpack(const std::vector<std::string>& args, bool terminal = false) {
  CapturingConsole console;
  console.terminal = terminal;
  console.run.code = TvpackMain(args, console);
  return console.run;
}

// Fields of a --json answer as Python's JSON reader reads it: the values of
// `keys`, joined by "|" (lists by ","), or "unparsable".
inline std::string JsonFields(const std::string& json, const std::string& keys) {
  char scratch[] = "/tmp/tvpack-json-XXXXXX";
  const int fd = mkstemp(scratch);
  if (fd < 0) return "unparsable";
  close(fd);
  WriteBytes(scratch, json);
  const std::string command =
      "python3 -c 'import json,sys\nd=json.loads(open(sys.argv[1]).read())\n"
      "print(\"|\".join(\",\".join(v) if isinstance(v, list) else str(v) for v in "
      "(d[k] for k in sys.argv[2].split(\",\"))))' " + std::string(scratch) + " " + keys +
      " 2>/dev/null";
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), p)) > 0) out.append(buffer, n);
    if (pclose(p) != 0) out = "unparsable\n";
  }
  unlink(scratch);
  return out.empty() ? "unparsable" : out.substr(0, out.size() - 1);
}

}  // namespace tvtest
