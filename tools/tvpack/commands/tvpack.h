// The packaging tool's commands: create, verify and sign. Portable: all
// system access goes through platform.h, all output through a Console.
#pragma once

#include <string>
#include <vector>

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
inline constexpr int kTvpackRefused = 1;  // refusals listed, or the package fails verification
inline constexpr int kTvpackError = 2;    // bad arguments or input, a read or write failure

// Runs one command; `args` are the arguments after the program name.
int TvpackMain(const std::vector<std::string>& args, Console& console);
