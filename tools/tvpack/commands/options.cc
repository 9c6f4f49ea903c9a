#include "options.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <thread>

#include "launcher_constants.h"
#include "platform.h"

// The usage text names the default --max-folder, the launcher's own.
static_assert(kDefaultMaxFolder == 60, "the usage text gives the default --max-folder");
const char kUsage[] =
    "usage:\n"
    "  tvpack create <folder> -o <package.exe> [--setup <relative path>] [--format zip|7z]\n"
    "                [--level 0-9] [--threads N] [--launcher <path>] [--max-folder N] [--quiet]\n"
    "                [--no-verify]\n"
    "  tvpack verify <package.exe> [--max-folder N] [--json]\n"
    "  tvpack sign <package.exe> (--pkcs12 <file> | --cert <file> --key <file>)\n"
    "              [--password <text> | --password-file <file>] [--timestamp <url>]\n"
    "              [--description <text>] [--url <text>] [-o <signed.exe>] [--max-folder N]\n"
    "  tvpack sign <package.exe> --cert <pem> --pkcs11-module <library> --key <pkcs11: address>\n"
    "              [--pin-file <file>] [--pkcs11-engine <engine>] [other sign switches]\n"
    "  tvpack sign-runtime <installer> --cert <signer.pem> --key <key.pem> [--chain <intermediates.pem>]\n"
    "                     -o <installer.p7>\n"
    "  tvpack check-runtime <installer> <installer.p7> --root <root.der> [--json]\n"
    "--max-folder: the longest extraction folder to allow for, in characters (default 60:\n"
    "a temporary folder under a 20-character user name). --threads: how many threads\n"
    "compress (default: one per processor); the package is the same whatever the number.\n";

Options Parse(const std::vector<std::string>& args, size_t from,
              const std::vector<std::string>& valued, const std::vector<std::string>& alone) {
  Options o;
  for (size_t i = from; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (std::find(valued.begin(), valued.end(), a) != valued.end()) {
      if (i + 1 >= args.size()) {
        o.error = a + " needs a value";
        return o;
      }
      o.values[a] = args[++i];
    } else if (std::find(alone.begin(), alone.end(), a) != alone.end()) {
      o.flags[a] = true;
    } else if (a.size() > 1 && a[0] == '-') {
      o.error = "unknown switch " + a;
      return o;
    } else {
      o.positional.push_back(a);
    }
  }
  return o;
}

bool ParseNumber(const std::string& text, uint32_t low, uint32_t high, uint32_t* value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long n = strtoul(text.c_str(), nullptr, 10);
  if (n < low || n > high) return false;
  *value = static_cast<uint32_t>(n);
  return true;
}

bool MaxFolder(const Options& o, uint32_t* maxFolder, Console& console) {
  *maxFolder = kDefaultMaxFolder;
  if (o.Has("--max-folder") && !ParseNumber(o.Value("--max-folder"), 3, kPathCapacity - 2, maxFolder)) {
    console.Err("tvpack: --max-folder takes a length from 3 to " + Number(kPathCapacity - 2) + "\n");
    return false;
  }
  return true;
}

int UsageError(const Options& o, const std::string& problem, Console& console) {
  console.Err("tvpack: " + (o.error.empty() ? problem : o.error) + "\n" + kUsage);
  return kTvpackError;
}

unsigned Processors() {
  const unsigned count = std::thread::hardware_concurrency();
  return count < 1 ? 1 : count > kMaxThreads ? kMaxThreads : count;
}

std::string Number(uint64_t value) { return std::to_string(value); }

std::string Megabytes(double bytes) {
  char text[32];
  snprintf(text, sizeof(text), "%.1f MB", bytes / 1e6);
  return text;
}

bool ReadWhole(const std::string& path, std::string* data, uint64_t expected) {
  return platform::ReadWholeFile(path, data, expected);
}
