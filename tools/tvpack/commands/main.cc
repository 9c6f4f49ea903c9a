// Entry of the packaging tool: the system's console behind TvpackMain.
#include "platform.h"
#include "tvpack.h"

namespace {

class SystemConsole final : public Console {
 public:
  void Out(const std::string& text) override { platform::WriteStdout(text); }
  void Err(const std::string& text) override { platform::WriteStderr(text); }
  bool Terminal() override { return platform::StderrIsTerminal(); }
};

}  // namespace

int main(int argc, char** argv) {
  // On Windows the arguments come from the wide command line (see
  // platform_windows.cc), so that names outside the code page survive.
  std::vector<std::string> args = platform::Arguments(argc, argv);
  SystemConsole console;
  return TvpackMain(args, console);
}
