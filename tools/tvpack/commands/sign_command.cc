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
    // A key in a token: the signer reaches it through the PKCS #11 module,
    // by the key's pkcs11: address.
    if (o.Has("--pkcs11-module")) argv.insert(argv.end(), {"-pkcs11module", o.Value("--pkcs11-module")});
    argv.insert(argv.end(), {"-certs", o.Value("--cert"), "-key", o.Value("--key")});
  }
  // Each of our switches and the signer's own name for it. The token's PIN
  // is read from its file by the signer, like a key file's password.
  static const char* const kPassed[][2] = {{"--password", "-pass"},   {"--password-file", "-readpass"},
                                           {"--pin-file", "-readpass"},
                                           {"--pkcs11-engine", "-pkcs11engine"},
                                           {"--timestamp", "-ts"},    {"--description", "-n"},
                                           {"--url", "-i"}};
  for (const auto& [ours, theirs] : kPassed)
    if (o.Has(ours)) argv.insert(argv.end(), {theirs, o.Value(ours)});
  argv.insert(argv.end(), {"-in", package, "-out", partial});
  return argv;
}

// The problem with the key switches of `o`, or "" when they name one key:
// a PKCS #12 file, a key file with its certificate, or a key in a token
// (--pkcs11-module, --cert and a pkcs11: --key) whose PIN, if any, comes
// from --pin-file and never from the command line.
std::string KeyProblem(const Options& o) {
  const bool pkcs12 = o.Has("--pkcs12");
  const bool token = o.Has("--pkcs11-module");
  const bool pair = o.Has("--cert") && o.Has("--key");
  if (pkcs12 == pair) return "sign needs either --pkcs12, or --cert with --key";
  if (!token) {
    if (o.Has("--pin-file") || o.Has("--pkcs11-engine"))
      return "--pin-file and --pkcs11-engine go with --pkcs11-module";
    return "";
  }
  const std::string key = o.Value("--key");
  if (key.compare(0, 7, "pkcs11:") != 0) return "--pkcs11-module needs --key with a pkcs11: address";
  if (key.find("pin-value") != std::string::npos || key.find("pin-source") != std::string::npos)
    return "the token's PIN goes in --pin-file, never in the key's address";
  if (o.Has("--password") || o.Has("--password-file")) return "a token's PIN goes in --pin-file";
  return "";
}

}  // namespace

int SignCommand(const std::vector<std::string>& args, Console& console) {
  const Options o = Parse(args, 1,
                          {"--pkcs12", "--cert", "--key", "--password", "--password-file",
                           "--pkcs11-module", "--pkcs11-engine", "--pin-file", "--timestamp",
                           "--description", "--url", "-o", "--max-folder"},
                          {});
  if (!o.error.empty() || o.positional.size() != 1) return UsageError(o, "sign needs one package", console);
  const std::string keyProblem = KeyProblem(o);
  if (!keyProblem.empty()) return UsageError(o, keyProblem, console);
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
