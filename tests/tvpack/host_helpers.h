// Helpers of the packaging tool's host tests: scratch folders on the local
// file system, a stand-in launcher image, and running a tvpack command with
// its output captured.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "tvpack.h"

namespace tvpacktest {

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

inline void PutLe(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A small PE32+ image with one section that holds `text` (UTF-16) and the
// headers a signing tool expects: the stand-in for the launcher and for a
// setup program in tests that run nothing.
inline std::string FakeProgram(const std::string& text) {
  std::string pe(0x40, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[0x3C] = 0x40;
  pe += std::string("PE\0\0", 4);
  PutLe(pe, 0x8664, 2);  // machine
  PutLe(pe, 1, 2);       // sections
  PutLe(pe, 0, 4);       // time
  PutLe(pe, 0, 4);
  PutLe(pe, 0, 4);
  PutLe(pe, 0xF0, 2);    // optional header size
  PutLe(pe, 0x22, 2);    // executable, large address aware
  std::string opt;
  PutLe(opt, 0x20B, 2);  // PE32+
  PutLe(opt, 0, 2);
  PutLe(opt, 0x200, 4);  // code size
  PutLe(opt, 0, 4);
  PutLe(opt, 0, 4);
  PutLe(opt, 0x1000, 4);  // entry
  PutLe(opt, 0x1000, 4);  // code base
  PutLe(opt, 0x140000000ull, 8);  // image base
  PutLe(opt, 0x1000, 4);  // section alignment
  PutLe(opt, 0x200, 4);   // file alignment
  PutLe(opt, 6, 2);
  PutLe(opt, 0, 2);
  PutLe(opt, 0, 2);
  PutLe(opt, 0, 2);
  PutLe(opt, 6, 2);
  PutLe(opt, 0, 2);
  PutLe(opt, 0, 4);
  PutLe(opt, 0x2000, 4);  // image size
  PutLe(opt, 0x200, 4);   // headers size
  PutLe(opt, 0, 4);       // checksum
  PutLe(opt, 3, 2);       // console
  PutLe(opt, 0, 2);
  for (int i = 0; i < 4; ++i) PutLe(opt, 0x100000, 8);
  PutLe(opt, 0, 4);
  PutLe(opt, 16, 4);  // data directories
  opt.append(16 * 8, '\0');
  pe += opt;
  std::string section(".text\0\0\0", 8);
  PutLe(section, 0x200, 4);   // virtual size
  PutLe(section, 0x1000, 4);  // virtual address
  PutLe(section, 0x200, 4);   // raw size
  PutLe(section, 0x200, 4);   // raw offset
  section.append(12, '\0');
  PutLe(section, 0x60000020, 4);
  pe += section;
  pe.resize(0x200, '\0');
  std::string body;
  for (char c : text) {
    body.push_back(c);
    body.push_back('\0');
  }
  body.resize(0x200, '\x90');
  return pe + body;
}

inline std::string FakeLauncher() { return FakeProgram("Tessaro Vantel Installer"); }

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

}  // namespace tvpacktest
