#include "tvpack.h"

#include "commands.h"
#include "options.h"
#include "package_file.h"
#include "platform.h"
#include "report.h"

int DiscardUnverified(const std::string& partial, const std::string& message, Console& console) {
  // Best effort: a package that failed its check is never left under any name.
  platform::Remove(partial);
  console.Err("tvpack: " + message + "\n");
  return kTvpackRefused;
}

int VerifyCommand(const std::vector<std::string>& args, Console& console) {
  const Options o = Parse(args, 1, {"--max-folder"}, {"--json"});
  uint32_t maxFolder = 0;
  if (!o.error.empty() || o.positional.size() != 1) return UsageError(o, "verify needs one package", console);
  if (!MaxFolder(o, &maxFolder, console)) return kTvpackError;
  const std::string& package = o.positional[0];
  // Read where the walk asks: a package is never held whole.
  FILE* file = platform::Open(package, "rb");
  uint64_t size = 0;
  if (!file || !platform::SizeOf(file, &size)) {
    if (file) fclose(file);
    console.Err("tvpack: cannot read " + package + "\n");
    return kTvpackError;
  }
  FileBytes bytes(file, size);
  const VerifyReport report = VerifyPackage(bytes, maxFolder, Processors());
  fclose(file);
  if (o.flags.count("--json"))
    console.Out(ReportJson(report));
  else
    PrintReport(report, maxFolder, console);
  return report.ok ? kTvpackOk : kTvpackRefused;
}

int TvpackMain(const std::vector<std::string>& args, Console& console) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    (args.empty() ? console.Err(kUsage) : console.Out(kUsage));
    return args.empty() ? kTvpackError : kTvpackOk;
  }
  if (args[0] == "create") return CreateCommand(args, console);
  if (args[0] == "verify") return VerifyCommand(args, console);
  if (args[0] == "sign") return SignCommand(args, console);
  if (args[0] == "sign-runtime") return SignRuntimeCommand(args, console);
  if (args[0] == "check-runtime") return CheckRuntimeCommand(args, console);
  console.Err("tvpack: unknown command " + args[0] + "\n" + kUsage);
  return kTvpackError;
}
