// tvpack sign-runtime and check-runtime: the runtime installer's detached
// signature, made and checked with tovik's rules (runtime_signature.h).
#include <stdio.h>

#include "commands.h"
#include "json.h"
#include "options.h"
#include "platform.h"
#include "runtime_signature.h"

namespace {

// Reads each (path, destination) pair; with `skipEmpty` an empty path (an
// optional file not given) is skipped. False, with the path on the console,
// at the first that cannot be read.
bool ReadAll(std::initializer_list<std::pair<std::string, std::string*>> files, bool skipEmpty,
             Console& console) {
  for (const auto& [path, into] : files) {
    if (!(skipEmpty && path.empty()) && !ReadWhole(path, into)) {
      console.Err("tvpack: cannot read " + path + "\n");
      return false;
    }
  }
  return true;
}

// Writes `bytes` to `output` through a partial file renamed at the end.
bool WriteReplacing(const std::string& output, const std::string& bytes) {
  const std::string partial = output + ".partial";
  FILE* file = platform::Open(partial, "wb");
  const bool written = file && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file && fclose(file) != 0) platform::Remove(partial);
  if (written && platform::Replace(partial, output)) return true;
  // Best effort: nothing half written stays behind.
  platform::Remove(partial);
  return false;
}

}  // namespace

int SignRuntimeCommand(const std::vector<std::string>& args, Console& console) {
  const Options o = Parse(args, 1, {"--cert", "--key", "--chain", "-o"}, {});
  std::string reason;
  if (!RuntimeSignatureAvailable(&reason)) {
    console.Err("tvpack: " + reason + "\n");
    return kTvpackError;
  }
  if (!o.error.empty() || o.positional.size() != 1 || !o.Has("--cert") || !o.Has("--key") || !o.Has("-o"))
    return UsageError(o, "sign-runtime needs an installer, --cert, --key and -o", console);
  std::string installer, cert, key, chain, der, error;
  if (!ReadAll({{o.positional[0], &installer},
                {o.Value("--cert"), &cert},
                {o.Value("--key"), &key},
                {o.Value("--chain"), &chain}},
               true, console))
    return kTvpackError;
  // Signed, then checked with tovik's rules before it is kept.
  if (!SignRuntime(installer, cert, key, chain, &der, &error)) {
    console.Err("tvpack: " + error + "\n");
    return kTvpackError;
  }
  const std::string output = o.Value("-o");
  if (!WriteReplacing(output, der)) {
    console.Err("tvpack: cannot write " + output + "\n");
    return kTvpackError;
  }
  console.Out("tvpack: wrote " + output + " (" + Number(der.size()) + " bytes): the detached signature of " +
              o.positional[0] + "\n");
  return kTvpackOk;
}

int CheckRuntimeCommand(const std::vector<std::string>& args, Console& console) {
  const Options o = Parse(args, 1, {"--root"}, {"--json"});
  std::string reason;
  if (!RuntimeSignatureAvailable(&reason)) {
    console.Err("tvpack: " + reason + "\n");
    return kTvpackError;
  }
  if (!o.error.empty() || o.positional.size() != 2 || !o.Has("--root"))
    return UsageError(o, "check-runtime needs an installer, its signature and --root", console);
  std::string installer, p7, root;
  if (!ReadAll({{o.positional[0], &installer}, {o.positional[1], &p7}, {o.Value("--root"), &root}}, false,
               console))
    return kTvpackError;
  const RuntimeCheck check = CheckRuntime(installer, p7, root);
  if (o.flags.count("--json")) {
    console.Out(JsonObject()
                    .Text("verdict", check.accepted ? "accepted" : "refused")
                    .Text("reason", check.failedRule)
                    .Texts("rules", check.lines)
                    .Line());
    return check.accepted ? kTvpackOk : kTvpackRefused;
  }
  for (const std::string& line : check.lines) console.Out(line + "\n");
  if (!check.accepted) {
    console.Out("verdict: tovik refuses this installer (" + check.failedRule + ")\n");
    return kTvpackRefused;
  }
  console.Out("verdict: tovik accepts this installer and its signature (unless a CRL lists a certificate)\n");
  return kTvpackOk;
}
