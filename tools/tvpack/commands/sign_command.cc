// tvpack sign: osslsigncode signs the package into a partial file, which is
// verified as the launcher would take it before it replaces the package.
#include "commands.h"
#include "options.h"
#include "platform.h"
#include "report.h"

namespace {

// osslsigncode's command line for the switches of `o`, signing `package`
// into `partial`.
std::vector<std::string> SignerArguments(const Options& o, const std::string& package,
                                         const std::string& partial) {
  std::vector<std::string> argv = {"osslsigncode", "sign", "-h", "sha256"};
  if (o.Has("--pkcs12")) {
    argv.insert(argv.end(), {"-pkcs12", o.Value("--pkcs12")});
  } else {
    argv.insert(argv.end(), {"-certs", o.Value("--cert"), "-key", o.Value("--key")});
  }
  // Each of our switches and the signer's own name for it.
  static const char* const kPassed[][2] = {{"--password", "-pass"},   {"--password-file", "-readpass"},
                                           {"--timestamp", "-ts"},    {"--description", "-n"},
                                           {"--url", "-i"}};
  for (const auto& [ours, theirs] : kPassed)
    if (o.Has(ours)) argv.insert(argv.end(), {theirs, o.Value(ours)});
  argv.insert(argv.end(), {"-in", package, "-out", partial});
  return argv;
}

}  // namespace

int SignCommand(const std::vector<std::string>& args, Console& console) {
  const Options o = Parse(args, 1,
                          {"--pkcs12", "--cert", "--key", "--password", "--password-file",
                           "--timestamp", "--description", "--url", "-o", "--max-folder"},
                          {});
  const bool pkcs12 = o.Has("--pkcs12");
  const bool pair = o.Has("--cert") && o.Has("--key");
  if (!o.error.empty() || o.positional.size() != 1 || pkcs12 == pair)
    return UsageError(o, "sign needs a package and either --pkcs12 or --cert with --key", console);
  uint32_t maxFolder = 0;
  if (!MaxFolder(o, &maxFolder, console)) return kTvpackError;
  const std::string package = o.positional[0];
  const std::string output = o.Value("-o", package);
  if (!platform::Exists(package)) {
    console.Err("tvpack: no such package: " + package + "\n");
    return kTvpackError;
  }
  const std::string partial = output + ".partial";
  // Best effort: osslsigncode refuses to overwrite an existing output.
  platform::Remove(partial);
  const int code = platform::Run(SignerArguments(o, package, partial));
  if (code != 0) {
    platform::Remove(partial);
    console.Err(code < 0 ? "tvpack: cannot start osslsigncode: is it installed and on PATH?\n"
                         : "tvpack: osslsigncode failed (exit code " + Number(static_cast<uint32_t>(code)) +
                               "); the package was not changed\n");
    return kTvpackError;
  }
  // The closing check: what the signer wrote is what the launcher will read.
  std::string bytes;
  const bool read = ReadWhole(partial, &bytes);
  const VerifyReport report = VerifyPackage(bytes, maxFolder);
  PrintReport(report, maxFolder, console);
  if (!read || !report.ok)
    return DiscardUnverified(partial, "the signed package does not verify; nothing was kept", console);
  if (!platform::Replace(partial, output)) {
    platform::Remove(partial);
    console.Err("tvpack: cannot rename " + partial + " to " + output + "\n");
    return kTvpackError;
  }
  console.Out("tvpack: signed " + output + "\n");
  return kTvpackOk;
}
