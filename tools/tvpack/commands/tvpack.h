// The packaging tool's five commands behind one entry: create, verify and
// sign (installer packages), sign-runtime and check-runtime (the runtime
// installer's detached signature). Portable: all system access goes through
// platform.h, all output through a Console.
#pragma once

#include <string>
#include <vector>

// Where the tool's text goes: standard output and standard error, or a test's
// buffers. Texts are UTF-8 and carry their own line ends.
class Console {
 public:
  virtual void Out(const std::string& text) = 0;
  virtual void Err(const std::string& text) = 0;
  // True when the progress line may be drawn (standard error is a terminal).
  virtual bool Terminal() = 0;

 protected:
  ~Console() = default;
};

// Exit codes of the tool.
inline constexpr int kTvpackOk = 0;
// Refusals listed, the package fails verification, or a package tvpack wrote
// or signed failed its closing check (and was not kept).
inline constexpr int kTvpackRefused = 1;
inline constexpr int kTvpackError = 2;  // bad arguments or input, a read or write failure

// Runs one command; `args` are the arguments after the program name (the
// command's name first). Returns one of the exit codes above. "help", "-h"
// and "--help" print the usage text (0); no arguments print it as an error.
int TvpackMain(const std::vector<std::string>& args, Console& console);
