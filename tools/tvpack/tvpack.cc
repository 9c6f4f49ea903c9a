#include "tvpack.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <thread>

#include "launch_descriptor.h"
#include "package_verify.h"
#include "pack_rules.h"
#include "payload_writer.h"
#include "pe_image.h"
#include "package_file.h"
#include "platform.h"
#include "runtime_signature.h"
#include "text.h"

#ifndef TVPACK_DEFAULT_LAUNCHER
#define TVPACK_DEFAULT_LAUNCHER ""
#endif

namespace {

// The launcher's own file name is its default setup program's too.
constexpr const char* kLauncherName = kDefaultSetupName;
constexpr char kUsage[] =
    "usage:\n"
    "  tvpack create <folder> -o <package.exe> [--setup <relative path>] [--format zip|7z]\n"
    "                [--level 0-9] [--threads N] [--launcher <path>] [--max-folder N] [--quiet]\n"
    "                [--no-verify]\n"
    "  tvpack verify <package.exe> [--max-folder N]\n"
    "  tvpack sign <package.exe> (--pkcs12 <file> | --cert <file> --key <file>)\n"
    "              [--password <text> | --password-file <file>] [--timestamp <url>]\n"
    "              [--description <text>] [--url <text>] [-o <signed.exe>] [--max-folder N]\n"
    "  tvpack sign-runtime <installer> --cert <signer.pem> --key <key.pem> [--chain <intermediates.pem>]\n"
    "                     -o <installer.p7>\n"
    "  tvpack check-runtime <installer> <installer.p7> --root <root.der>\n"
    "--max-folder: the longest extraction folder to allow for, in characters (default 60:\n"
    "a temporary folder under a 20-character user name). --threads: how many threads\n"
    "compress (default: one per processor); the package is the same whatever the number.\n";

// Files larger than this, or folders with more files, get a progress line.
constexpr uint64_t kProgressBytes = 16ull << 20;
constexpr size_t kProgressFiles = 1000;
constexpr uint32_t kMaxThreads = 64;

std::string Number(uint64_t value) { return std::to_string(value); }

std::string Megabytes(double bytes) {
  char text[32];
  snprintf(text, sizeof(text), "%.1f MB", bytes / 1e6);
  return text;
}

struct Options {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;
  std::map<std::string, bool> flags;
  std::string error;
};

// Switches that take a value, and switches that stand alone.
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

// `expected`: the size the file should have, so that its bytes are read into
// one allocation of that size (no doubling on the way).
bool ReadWhole(const std::string& path, std::string* data, uint64_t expected = 0) {
  return platform::ReadWholeFile(path, data, expected);
}

std::string ReadHead(const std::string& path, size_t size) {
  std::string head;
  FILE* file = platform::Open(path, "rb");
  if (!file) return head;
  head.resize(size);
  head.resize(fread(head.data(), 1, size, file));
  fclose(file);
  return head;
}

class FileItems final : public ItemSource {
 public:
  bool Read(const PackItem& item, std::string* data, std::string* error) override {
    if (item.sourcePath.empty()) {
      *data = item.content;
      return true;
    }
    if (!ReadWhole(item.sourcePath, data, item.size)) {
      *error = "cannot read " + item.sourcePath;
      return false;
    }
    if (data->size() != item.size) {
      *error = item.sourcePath + " changed while it was being packed";
      return false;
    }
    return true;
  }
  bool ReadPart(const PackItem& item, uint64_t offset, uint8_t* buffer, size_t size, size_t* got,
                std::string* error) override {
    if (item.sourcePath.empty()) return ItemSource::ReadPart(item, offset, buffer, size, got, error);
    if (platform::ReadFilePart(item.sourcePath, offset, buffer, size, got)) return true;
    *error = "cannot read " + item.sourcePath;
    return false;
  }
};

class ProgressLine final : public PackProgress {
 public:
  ProgressLine(Console& console, bool shown, uint64_t totalBytes, size_t totalFiles)
      : console_(console), shown_(shown), totalBytes_(totalBytes), totalFiles_(totalFiles),
        start_(platform::Seconds()), last_(start_) {}
  void Advance(uint64_t bytes, uint32_t files) override {
    bytes_ += bytes;
    files_ += files;
    const double now = platform::Seconds();
    if (!shown_ || now - last_ < 0.25) return;
    last_ = now;
    Draw(now);
  }
  void Finish() {
    if (!shown_) return;
    Draw(platform::Seconds());
    console_.Err("\n");
  }

 private:
  void Draw(double now) {
    const double elapsed = now - start_ > 1e-6 ? now - start_ : 1e-6;
    console_.Err("\r" + Megabytes(static_cast<double>(bytes_)) + " of " +
                 Megabytes(static_cast<double>(totalBytes_)) + ", " + Number(files_) + " of " +
                 Number(totalFiles_) + " files, " +
                 Megabytes(static_cast<double>(bytes_) / elapsed) + "/s   ");
  }

  Console& console_;
  bool shown_;
  uint64_t totalBytes_;
  size_t totalFiles_;
  uint64_t bytes_ = 0;
  size_t files_ = 0;
  double start_, last_;
};

std::string RoomText(uint32_t length, uint32_t limit, uint32_t maxFolder, const std::string& name) {
  std::string text = "longest path: " + Number(length) + " characters with a " + Number(maxFolder) +
                     "-character extraction folder (" + Printable(name) + "); the launcher allows " +
                     Number(limit);
  if (length <= limit) text += ", " + Number(limit - length) + " left";
  return text + "\n";
}

// Finds the file item that `name` resolves to, compared as Windows compares.
const PackItem* FindItem(const std::vector<PackItem>& items, const std::string& name) {
  std::wstring wanted;
  if (!DecodeUtf8(NormalizeRelative(name), &wanted)) return nullptr;
  wanted = FoldCase(wanted);
  for (const PackItem& item : items) {
    std::wstring wide;
    if (DecodeUtf8(item.name, &wide) && FoldCase(wide) == wanted) return &item;
  }
  return nullptr;
}

std::string DefaultLauncher() {
  const std::string own = platform::OwnExecutable();
  if (!own.empty()) {
    const std::string beside = platform::Join(platform::FolderOf(own), kLauncherName);
    if (platform::Exists(beside)) return beside;
  }
  return TVPACK_DEFAULT_LAUNCHER;
}

// Reads the launcher and checks that it is one: a Windows program with the
// launcher's version text and nothing behind its image.
bool LoadLauncher(const std::string& path, std::string* image, std::string* error) {
  if (path.empty()) {
    *error = "no launcher beside tvpack; name it with --launcher";
    return false;
  }
  if (!ReadWhole(path, image)) {
    *error = "cannot read the launcher " + path;
    return false;
  }
  if (!LooksLikeProgram(*image) || !HasLauncherMark(*image)) {
    *error = path + " is not the launcher (" + kLauncherName + ")";
    return false;
  }
  const VerifyReport probe = VerifyPackage(*image, 0);
  if (probe.imageEnd != image->size()) {
    *error = path + " has data behind its image: it is a package or signed, not the bare launcher";
    return false;
  }
  return true;
}

void PrintReport(const VerifyReport& r, uint32_t maxFolder, Console& console) {
  if (r.kind != PayloadNone) {
    console.Out(std::string("payload: ") + (r.kind == PayloadZip ? "ZIP-style" : "7z") +
                " at offset " + Number(r.payloadOffset) + " (the launcher's image ends at " +
                Number(r.imageEnd) + ")\n");
  }
  size_t folders = 0;
  for (const VerifiedEntry& e : r.entries) {
    folders += e.folder;
    console.Out("  " + (e.folder ? std::string("folder") : Number(e.size)) + "\t" +
                Printable(e.name) + "\n");
  }
  if (!r.entries.empty())
    console.Out(Number(r.entries.size() - folders) + " files" +
                (folders ? ", " + Number(folders) + " folders" : std::string()) + "\n");
  if (!r.setup.empty()) console.Out("setup program: " + Printable(r.setup) + "\n");
  if (r.longestPath) console.Out(RoomText(r.longestPath, r.pathLimit, maxFolder, r.longestName));
  for (const std::string& p : r.problems) console.Err("tvpack: refused: " + Printable(p) + "\n");
  console.Out(r.ok ? "verdict: the launcher will unpack this package and start its setup program\n"
                   : "verdict: the launcher refuses this package (exit code 5)\n");
}

unsigned Processors() {
  const unsigned count = std::thread::hardware_concurrency();
  return count < 1 ? 1 : count > kMaxThreads ? kMaxThreads : count;
}

int Verify(const std::string& package, uint32_t maxFolder, Console& console) {
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
  PrintReport(report, maxFolder, console);
  return report.ok ? kTvpackOk : kTvpackRefused;
}

bool MaxFolder(const Options& o, uint32_t* maxFolder, Console& console) {
  *maxFolder = kDefaultMaxFolder;
  auto it = o.values.find("--max-folder");
  if (it != o.values.end() && !ParseNumber(it->second, 3, kPathCapacity - 2, maxFolder)) {
    console.Err("tvpack: --max-folder takes a length from 3 to " + Number(kPathCapacity - 2) + "\n");
    return false;
  }
  return true;
}

int Create(const std::vector<std::string>& args, Console& console) {
  const Options o = Parse(args, 1, {"-o", "--setup", "--format", "--level", "--threads", "--launcher", "--max-folder"},
                          {"--quiet", "--no-verify"});
  if (!o.error.empty() || o.positional.size() != 1 || !o.values.count("-o")) {
    console.Err("tvpack: " + (o.error.empty() ? std::string("create needs a folder and -o <package.exe>") : o.error) +
                "\n" + kUsage);
    return kTvpackError;
  }
  const std::string folder = o.positional[0];
  const std::string output = o.values.at("-o");
  uint32_t maxFolder = 0;
  if (!MaxFolder(o, &maxFolder, console)) return kTvpackError;
  PackFormat format = PackFormat::kZip;
  if (o.values.count("--format")) {
    const std::string& f = o.values.at("--format");
    if (f == "7z") {
      format = PackFormat::kSevenZip;
    } else if (f != "zip") {
      console.Err("tvpack: --format is zip or 7z\n");
      return kTvpackError;
    }
  }
  uint32_t level = format == PackFormat::kZip ? 6 : 5;
  if (o.values.count("--level") && !ParseNumber(o.values.at("--level"), 0, 9, &level)) {
    console.Err("tvpack: --level takes 0 to 9\n");
    return kTvpackError;
  }
  uint32_t threads = Processors();
  if (o.values.count("--threads") && !ParseNumber(o.values.at("--threads"), 1, kMaxThreads, &threads)) {
    console.Err("tvpack: --threads takes 1 to " + Number(kMaxThreads) + "\n");
    return kTvpackError;
  }

  if (!platform::IsFolder(folder)) {
    console.Err("tvpack: no such folder: " + folder + "\n");
    return kTvpackError;
  }
  const std::string fullFolder = platform::FullPath(folder);
  const std::string fullOutput = platform::FullPath(output);
  if (fullFolder.empty() || fullOutput.empty()) {
    console.Err("tvpack: cannot resolve the path of " + (fullFolder.empty() ? folder : output) + "\n");
    return kTvpackError;
  }
  if (platform::IsInside(fullOutput, fullFolder)) {
    console.Err("tvpack: the output " + output + " lies inside the folder being packed\n");
    return kTvpackError;
  }
  if (platform::IsFolder(output)) {
    console.Err("tvpack: the output " + output + " is a folder\n");
    return kTvpackError;
  }

  std::string launcher, error;
  const std::string launcherPath = o.values.count("--launcher") ? o.values.at("--launcher") : DefaultLauncher();
  if (!LoadLauncher(launcherPath, &launcher, &error)) {
    console.Err("tvpack: " + error + "\n");
    return kTvpackError;
  }

  std::vector<PackItem> items;
  if (!platform::ListFolder(folder, &items, &error)) {
    console.Err("tvpack: " + error + "\n");
    return kTvpackError;
  }
  std::vector<Refusal> refusals;

  // The setup program: named by --setup (tvpack writes ".launch"), by the
  // folder's own ".launch", or the launcher's default name.
  const PackItem* ownDescriptor = nullptr;
  for (const PackItem& item : items)
    if (item.name == kDescriptorName && !item.folder) ownDescriptor = &item;
  std::string setup = kDefaultSetupName;
  std::string descriptorName;
  if (o.values.count("--setup")) {
    if (ownDescriptor) {
      console.Err("tvpack: the folder has its own .launch; give --setup or keep the file, not both\n");
      return kTvpackError;
    }
    setup = NormalizeRelative(o.values.at("--setup"));
    std::string reason;
    descriptorName = setup;
    std::replace(descriptorName.begin(), descriptorName.end(), '/', '\\');
    if (setup.empty() || DescriptorSetupName(descriptorName, &reason).empty()) {
      console.Err("tvpack: --setup " + o.values.at("--setup") + ": " +
                  (setup.empty() ? std::string("names nothing") : reason) + "\n");
      return kTvpackError;
    }
    PackItem descriptor;
    descriptor.name = kDescriptorName;
    descriptor.content = descriptorName + "\r\n";
    descriptor.size = descriptor.content.size();
    items.push_back(descriptor);
  } else if (ownDescriptor) {
    std::string bytes, reason;
    if (!ReadWhole(ownDescriptor->sourcePath, &bytes)) {
      console.Err("tvpack: cannot read " + ownDescriptor->sourcePath + "\n");
      return kTvpackError;
    }
    descriptorName = DescriptorSetupName(bytes, &reason);
    if (descriptorName.empty()) refusals.push_back({kDescriptorName, reason});
    setup = NormalizeRelative(descriptorName);
  } else {
    descriptorName = kDefaultSetupName;
  }
  std::sort(items.begin(), items.end(),
            [](const PackItem& a, const PackItem& b) { return a.name < b.name; });

  if (!setup.empty() && !descriptorName.empty()) {
    std::wstring wide;
    DecodeUtf8(descriptorName, &wide);
    const PackItem* program = FindItem(items, setup);
    if (!program || program->folder) {
      refusals.push_back({setup, "the setup program is not in the folder" +
                                     std::string(o.values.count("--setup") || ownDescriptor
                                                     ? ""
                                                     : " (no .launch and no --setup: the launcher starts this default name)")});
    } else if (!LooksLikeProgram(ReadHead(program->sourcePath, kImageHeadSize))) {
      refusals.push_back({setup, "the setup program is not a Windows program (no PE headers)"});
    }
    if (!SetupPathFits(maxFolder, wide.size()))
      refusals.push_back({setup, "the setup program's path does not fit the launcher's " +
                                     Number(kPathCapacity) + " characters"});
  }

  LongestPath longest;
  CheckItems(items, format, maxFolder, &refusals, &longest);
  if (!refusals.empty()) {
    for (const Refusal& r : refusals)
      console.Err("tvpack: refused: " + Printable(r.name) + ": " + r.reason + "\n");
    console.Err(RoomText(longest.length, longest.limit, maxFolder, longest.name));
    console.Err("tvpack: " + Number(refusals.size()) + " problem(s); no package written\n");
    return kTvpackRefused;
  }

  // Written under a temporary name beside the output, renamed at the end.
  const std::string partial = output + ".partial";
  FILE* file = platform::Open(partial, "wb+");
  if (!file) {
    console.Err("tvpack: cannot create " + partial + "\n");
    return kTvpackError;
  }
  uint64_t totalBytes = 0;
  size_t files = 0;
  for (const PackItem& item : items) {
    totalBytes += item.size;
    files += item.folder ? 0 : 1;
  }
  const bool showProgress = console.Terminal() && !o.flags.count("--quiet") &&
                            (totalBytes >= kProgressBytes || files >= kProgressFiles);
  ProgressLine progress(console, showProgress, totalBytes, files);
  FileItems source;
  // A ZIP-style payload is verified while it is written: the launcher's walk
  // follows the writer on a thread of its own, reading each entry once it is
  // settled in the file, and ends soon after the writer. A 7z archive is
  // verified afterwards: its start header, which the scan looks for, comes
  // last.
  const bool verify = !o.flags.count("--no-verify");
  const bool follow = verify && format == PackFormat::kZip;
  WrittenExtent extent;
  FileSink sink(file, launcher.size(), follow ? &extent : nullptr);
  bool written = fwrite(launcher.data(), 1, launcher.size(), file) == launcher.size();
  VerifyReport report;
  bool readBackOpened = false;
  std::thread follower;
  if (written && follow && fflush(file) == 0) {
    extent.Publish(launcher.size());
    if (FILE* readBack = platform::Open(partial, "rb")) {
      readBackOpened = true;
      follower = std::thread([&report, &extent, readBack, maxFolder] {
        GrowingFileBytes bytes(readBack, extent);
        report = VerifyPackage(bytes, maxFolder);
        fclose(readBack);
      });
    }
  }
  if (!written) error = "cannot write " + partial;
  if (written)
    written = format == PackFormat::kZip
                  ? WriteZipPayload(items, static_cast<int>(level), threads, source, sink, progress, &error)
                  : WriteSevenZipPayload(items, static_cast<int>(level), threads, source, sink, progress,
                                         &error);
  if (written && fflush(file) != 0) {
    written = false;
    error = "cannot write " + partial;
  }
  extent.Finish(written, sink.End());
  if (follower.joinable()) follower.join();
  if (fclose(file) != 0 && written) {
    written = false;
    error = "cannot write " + partial;
  }
  progress.Finish();
  if (!written) {
    // Best effort: a partial package is never left under any name.
    platform::Remove(partial);
    console.Err("tvpack: " + error + "\n");
    return kTvpackError;
  }
  if (verify && !follow) {
    if (FILE* readBack = platform::Open(partial, "rb")) {
      readBackOpened = true;
      FileBytes bytes(readBack, sink.End());
      report = VerifyPackage(bytes, maxFolder, threads);
      fclose(readBack);
    }
  }
  if (verify && (!readBackOpened || !report.ok)) {
    platform::Remove(partial);
    console.Err("tvpack: the written package does not verify; nothing was kept\n");
    for (const std::string& p : report.problems) console.Err("tvpack:   " + p + "\n");
    return kTvpackError;
  }
  if (!platform::Replace(partial, output)) {
    platform::Remove(partial);
    console.Err("tvpack: cannot rename " + partial + " to " + output + "\n");
    return kTvpackError;
  }
  if (!o.flags.count("--quiet")) {
    console.Out("tvpack: wrote " + output + ": " + Number(files) + " files, " +
                Megabytes(static_cast<double>(totalBytes)) + " in a " +
                (format == PackFormat::kZip ? "ZIP-style" : "7z") + " payload; setup program " +
                setup + "\n");
    console.Out(RoomText(longest.length, longest.limit, maxFolder, longest.name));
  }
  return kTvpackOk;
}

int Sign(const std::vector<std::string>& args, Console& console) {
  const Options o = Parse(args, 1,
                          {"--pkcs12", "--cert", "--key", "--password", "--password-file",
                           "--timestamp", "--description", "--url", "-o", "--max-folder"},
                          {});
  const bool pkcs12 = o.values.count("--pkcs12") > 0;
  const bool pair = o.values.count("--cert") > 0 && o.values.count("--key") > 0;
  if (!o.error.empty() || o.positional.size() != 1 || pkcs12 == pair) {
    console.Err("tvpack: " + (o.error.empty() ? std::string("sign needs a package and either --pkcs12 or --cert with --key") : o.error) +
                "\n" + kUsage);
    return kTvpackError;
  }
  uint32_t maxFolder = 0;
  if (!MaxFolder(o, &maxFolder, console)) return kTvpackError;
  const std::string package = o.positional[0];
  const std::string output = o.values.count("-o") ? o.values.at("-o") : package;
  if (!platform::Exists(package)) {
    console.Err("tvpack: no such package: " + package + "\n");
    return kTvpackError;
  }
  const std::string partial = output + ".partial";
  std::vector<std::string> argv = {"osslsigncode", "sign", "-h", "sha256"};
  if (pkcs12) {
    argv.insert(argv.end(), {"-pkcs12", o.values.at("--pkcs12")});
  } else {
    argv.insert(argv.end(), {"-certs", o.values.at("--cert"), "-key", o.values.at("--key")});
  }
  if (o.values.count("--password")) argv.insert(argv.end(), {"-pass", o.values.at("--password")});
  if (o.values.count("--password-file"))
    argv.insert(argv.end(), {"-readpass", o.values.at("--password-file")});
  if (o.values.count("--timestamp")) argv.insert(argv.end(), {"-ts", o.values.at("--timestamp")});
  if (o.values.count("--description")) argv.insert(argv.end(), {"-n", o.values.at("--description")});
  if (o.values.count("--url")) argv.insert(argv.end(), {"-i", o.values.at("--url")});
  argv.insert(argv.end(), {"-in", package, "-out", partial});
  // Best effort: osslsigncode refuses to overwrite an existing output.
  platform::Remove(partial);
  const int code = platform::Run(argv);
  if (code != 0) {
    platform::Remove(partial);
    console.Err(code < 0 ? "tvpack: cannot start osslsigncode: is it installed and on PATH?\n"
                         : "tvpack: osslsigncode failed (exit code " + Number(static_cast<uint32_t>(code)) +
                               "); the package was not changed\n");
    return kTvpackError;
  }
  std::string bytes;
  const bool read = ReadWhole(partial, &bytes);
  const VerifyReport report = VerifyPackage(bytes, maxFolder);
  PrintReport(report, maxFolder, console);
  if (!read || !report.ok) {
    platform::Remove(partial);
    console.Err("tvpack: the signed package does not verify; nothing was kept\n");
    return kTvpackRefused;
  }
  if (!platform::Replace(partial, output)) {
    platform::Remove(partial);
    console.Err("tvpack: cannot rename " + partial + " to " + output + "\n");
    return kTvpackError;
  }
  console.Out("tvpack: signed " + output + "\n");
  return kTvpackOk;
}

// The runtime installer's detached signature, checked with tovik's rules
// before it is kept.
int SignRuntimeCommand(const std::vector<std::string>& args, Console& console) {
  const Options o = Parse(args, 1, {"--cert", "--key", "--chain", "-o"}, {});
  std::string reason;
  if (!RuntimeSignatureAvailable(&reason)) {
    console.Err("tvpack: " + reason + "\n");
    return kTvpackError;
  }
  if (!o.error.empty() || o.positional.size() != 1 || !o.values.count("--cert") || !o.values.count("--key") ||
      !o.values.count("-o")) {
    console.Err("tvpack: " +
                (o.error.empty() ? std::string("sign-runtime needs an installer, --cert, --key and -o") : o.error) +
                "\n" + kUsage);
    return kTvpackError;
  }
  std::string installer, cert, key, chain, der, error;
  for (const auto& [path, into] : {std::pair<std::string, std::string*>{o.positional[0], &installer},
                                   {o.values.at("--cert"), &cert},
                                   {o.values.at("--key"), &key},
                                   {o.values.count("--chain") ? o.values.at("--chain") : "", &chain}}) {
    if (!path.empty() && !ReadWhole(path, into)) {
      console.Err("tvpack: cannot read " + path + "\n");
      return kTvpackError;
    }
  }
  if (!SignRuntime(installer, cert, key, chain, &der, &error)) {
    console.Err("tvpack: " + error + "\n");
    return kTvpackError;
  }
  const std::string output = o.values.at("-o");
  const std::string partial = output + ".partial";
  FILE* file = platform::Open(partial, "wb");
  const bool written = file && fwrite(der.data(), 1, der.size(), file) == der.size();
  if (file && fclose(file) != 0) platform::Remove(partial);
  if (!written || !platform::Replace(partial, output)) {
    platform::Remove(partial);
    console.Err("tvpack: cannot write " + output + "\n");
    return kTvpackError;
  }
  console.Out("tvpack: wrote " + output + " (" + Number(der.size()) + " bytes): the detached signature of " +
              o.positional[0] + "\n");
  return kTvpackOk;
}

int CheckRuntimeCommand(const std::vector<std::string>& args, Console& console) {
  const Options o = Parse(args, 1, {"--root"}, {});
  std::string reason;
  if (!RuntimeSignatureAvailable(&reason)) {
    console.Err("tvpack: " + reason + "\n");
    return kTvpackError;
  }
  if (!o.error.empty() || o.positional.size() != 2 || !o.values.count("--root")) {
    console.Err("tvpack: " +
                (o.error.empty() ? std::string("check-runtime needs an installer, its signature and --root") : o.error) +
                "\n" + kUsage);
    return kTvpackError;
  }
  std::string installer, p7, root;
  for (const auto& [path, into] : {std::pair<std::string, std::string*>{o.positional[0], &installer},
                                   {o.positional[1], &p7},
                                   {o.values.at("--root"), &root}}) {
    if (!ReadWhole(path, into)) {
      console.Err("tvpack: cannot read " + path + "\n");
      return kTvpackError;
    }
  }
  const RuntimeCheck check = CheckRuntime(installer, p7, root);
  for (const std::string& line : check.lines) console.Out(line + "\n");
  if (!check.accepted) {
    console.Out("verdict: tovik refuses this installer (" + check.failedRule + ")\n");
    return kTvpackRefused;
  }
  console.Out("verdict: tovik accepts this installer and its signature (unless a CRL lists a certificate)\n");
  return kTvpackOk;
}

}  // namespace

int TvpackMain(const std::vector<std::string>& args, Console& console) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    (args.empty() ? console.Err(kUsage) : console.Out(kUsage));
    return args.empty() ? kTvpackError : kTvpackOk;
  }
  if (args[0] == "create") return Create(args, console);
  if (args[0] == "sign") return Sign(args, console);
  if (args[0] == "sign-runtime") return SignRuntimeCommand(args, console);
  if (args[0] == "check-runtime") return CheckRuntimeCommand(args, console);
  if (args[0] == "verify") {
    const Options o = Parse(args, 1, {"--max-folder"}, {});
    uint32_t maxFolder = 0;
    if (!o.error.empty() || o.positional.size() != 1) {
      console.Err("tvpack: " + (o.error.empty() ? std::string("verify needs one package") : o.error) + "\n" + kUsage);
      return kTvpackError;
    }
    if (!MaxFolder(o, &maxFolder, console)) return kTvpackError;
    return Verify(o.positional[0], maxFolder, console);
  }
  console.Err("tvpack: unknown command " + args[0] + "\n" + kUsage);
  return kTvpackError;
}
