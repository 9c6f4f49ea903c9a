// tvpack create: a folder in, a checked package out. The command is one
// straight sequence of named steps, each reporting its own failure; the
// package is written under a partial name, verified with the launcher's own
// walk and only then renamed.
#include <stdio.h>
#include <wchar.h>

#include <algorithm>
#include <thread>

#include "commands.h"
#include "launch_descriptor.h"
#include "launcher_constants.h"
#include "options.h"
#include "pack_rules.h"
#include "package_file.h"
#include "package_verify.h"
#include "payload_writer.h"
#include "pe_image.h"
#include "platform.h"
#include "progress_line.h"
#include "report.h"
#include "setup_program.h"
#include "text.h"

#ifndef TVPACK_DEFAULT_LAUNCHER
#define TVPACK_DEFAULT_LAUNCHER ""
#endif

namespace {

// Folders of at least this many bytes, or of this many files, get a progress
// line.
constexpr uint64_t kProgressBytes = 16ull << 20;
constexpr size_t kProgressFiles = 1000;

// What create works on, filled in step by step.
struct CreateJob {
  // From the command line.
  std::string folder, output;
  bool hasSetupSwitch = false;
  std::string setupSwitch;  // --setup as given
  std::string launcherPath;
  PackFormat format = PackFormat::kZip;
  uint32_t level = 6, threads = 1, maxFolder = 0;
  bool quiet = false, verify = true;
  // Found on the way.
  std::string launcher;          // the launcher's image
  std::vector<PackItem> items;   // sorted by name once the descriptor is in
  std::string descriptor;        // the ".launch" bytes the package carries
  bool hasDescriptor = false;
  std::string setup;             // the setup program, "/" between folders
  LongestPath longest;
  uint64_t totalBytes = 0;
  size_t files = 0;
};

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

// The folder's items as the launcher would unpack them, for the choice of
// the setup program: names compared as Windows compares them.
class FolderFiles final : public PackageFiles {
 public:
  explicit FolderFiles(const std::vector<PackItem>& items) : items_(items) {}

  Kind KindOf(const wchar_t* name) override {
    const std::wstring wanted = Key(EncodeUtf8(name, wcslen(name)));
    for (const PackItem& item : items_) {
      const std::wstring key = Key(item.name);
      if (key == wanted) return item.folder ? Kind::kFolder : Kind::kFile;
      // A folder on the way of an item.
      if (key.size() > wanted.size() && key.compare(0, wanted.size(), wanted) == 0 &&
          key[wanted.size()] == L'/')
        return Kind::kFolder;
    }
    return Kind::kNothing;
  }

  std::string Head(const std::string& name) override {
    const std::wstring wanted = Key(name);
    for (const PackItem& item : items_) {
      if (item.folder || Key(item.name) != wanted) continue;
      if (item.sourcePath.empty()) return item.content.substr(0, kImageHeadSize);
      return ReadHead(item.sourcePath);
    }
    return "";
  }

 private:
  static std::wstring Key(const std::string& name) {
    std::wstring wide;
    if (!DecodeUtf8(NormalizeRelative(name), &wide)) return L"";
    return FoldCase(wide);
  }
  static std::string ReadHead(const std::string& path) {
    std::string head;
    FILE* file = platform::Open(path, "rb");
    if (!file) return head;
    head.resize(kImageHeadSize);
    head.resize(fread(head.data(), 1, kImageHeadSize, file));
    fclose(file);
    return head;
  }

  const std::vector<PackItem>& items_;
};

std::string DefaultLauncher() {
  const std::string own = platform::OwnExecutable();
  if (!own.empty()) {
    const std::string beside = platform::Join(platform::FolderOf(own), kDefaultSetupName);
    if (platform::Exists(beside)) return beside;
  }
  return TVPACK_DEFAULT_LAUNCHER;
}

// Fills the job from the command line; false (the reason on the console)
// when it is not a valid create command.
bool ReadOptions(const std::vector<std::string>& args, CreateJob* job, Console& console) {
  const Options o = Parse(args, 1, {"-o", "--setup", "--format", "--level", "--threads", "--launcher", "--max-folder"},
                          {"--quiet", "--no-verify"});
  if (!o.error.empty() || o.positional.size() != 1 || !o.Has("-o")) {
    UsageError(o, "create needs a folder and -o <package.exe>", console);
    return false;
  }
  job->folder = o.positional[0];
  job->output = o.Value("-o");
  job->hasSetupSwitch = o.Has("--setup");
  job->setupSwitch = o.Value("--setup");
  job->launcherPath = o.Has("--launcher") ? o.Value("--launcher") : DefaultLauncher();
  job->quiet = o.flags.count("--quiet") > 0;
  job->verify = o.flags.count("--no-verify") == 0;
  if (!MaxFolder(o, &job->maxFolder, console)) return false;
  const std::string format = o.Value("--format", "zip");
  if (format != "zip" && format != "7z") {
    console.Err("tvpack: --format is zip or 7z\n");
    return false;
  }
  job->format = format == "7z" ? PackFormat::kSevenZip : PackFormat::kZip;
  job->level = job->format == PackFormat::kZip ? 6 : 5;
  if (o.Has("--level") && !ParseNumber(o.Value("--level"), 0, 9, &job->level)) {
    console.Err("tvpack: --level takes 0 to 9\n");
    return false;
  }
  job->threads = Processors();
  if (o.Has("--threads") && !ParseNumber(o.Value("--threads"), 1, kMaxThreads, &job->threads)) {
    console.Err("tvpack: --threads takes 1 to " + Number(kMaxThreads) + "\n");
    return false;
  }
  return true;
}

// The folder exists, and the output is neither inside it nor a folder.
bool CheckPlaces(const CreateJob& job, Console& console) {
  if (!platform::IsFolder(job.folder)) {
    console.Err("tvpack: no such folder: " + job.folder + "\n");
    return false;
  }
  const std::string fullFolder = platform::FullPath(job.folder);
  const std::string fullOutput = platform::FullPath(job.output);
  if (fullFolder.empty() || fullOutput.empty()) {
    console.Err("tvpack: cannot resolve the path of " + (fullFolder.empty() ? job.folder : job.output) + "\n");
    return false;
  }
  if (platform::IsInside(fullOutput, fullFolder)) {
    console.Err("tvpack: the output " + job.output + " lies inside the folder being packed\n");
    return false;
  }
  if (platform::IsFolder(job.output)) {
    console.Err("tvpack: the output " + job.output + " is a folder\n");
    return false;
  }
  return true;
}

// Reads the launcher and checks that it is one: a Windows program with the
// launcher's version text and nothing behind its image.
bool LoadLauncher(CreateJob* job, Console& console) {
  const std::string& path = job->launcherPath;
  std::string error;
  if (path.empty()) {
    error = "no launcher beside tvpack; name it with --launcher";
  } else if (!ReadWhole(path, &job->launcher)) {
    error = "cannot read the launcher " + path;
  } else if (!LooksLikeProgram(job->launcher) || !HasLauncherMark(job->launcher)) {
    error = path + " is not the launcher (" + kDefaultSetupName + ")";
  } else if (VerifyPackage(job->launcher, 0).imageEnd != job->launcher.size()) {
    error = path + " has data behind its image: it is a package or signed, not the bare launcher";
  }
  if (error.empty()) return true;
  console.Err("tvpack: " + error + "\n");
  return false;
}

bool ListItems(CreateJob* job, Console& console) {
  std::string error;
  if (platform::ListFolder(job->folder, &job->items, &error)) return true;
  console.Err("tvpack: " + error + "\n");
  return false;
}

// The launch descriptor the package carries: written from --setup (added to
// the items), the folder's own ".launch", or none. False (the reason on the
// console) on an argument error or a descriptor that cannot be read.
bool TakeDescriptor(CreateJob* job, Console& console) {
  const PackItem* own = nullptr;
  for (const PackItem& item : job->items)
    if (item.name == kDescriptorName && !item.folder) own = &item;
  if (job->hasSetupSwitch && own) {
    console.Err("tvpack: the folder has its own .launch; give --setup or keep the file, not both\n");
    return false;
  }
  if (own) {
    job->hasDescriptor = true;
    if (ReadWhole(own->sourcePath, &job->descriptor)) return true;
    console.Err("tvpack: cannot read " + own->sourcePath + "\n");
    return false;
  }
  if (!job->hasSetupSwitch) return true;
  // The launcher reads "\" between folders in every version of Windows.
  std::string name = NormalizeRelative(job->setupSwitch), reason;
  std::replace(name.begin(), name.end(), '/', '\\');
  if (name.empty() || DescriptorSetupName(name, &reason).empty()) {
    console.Err("tvpack: --setup " + job->setupSwitch + ": " + (name.empty() ? std::string("names nothing") : reason) +
                "\n");
    return false;
  }
  PackItem descriptor;
  descriptor.name = kDescriptorName;
  descriptor.content = name + "\r\n";
  descriptor.size = descriptor.content.size();
  job->items.push_back(descriptor);
  job->descriptor = descriptor.content;
  job->hasDescriptor = true;
  return true;
}

// Every rule the launcher will apply, before anything is written: the setup
// program and every item. Lists each refusal; false when there is any.
bool CheckRules(CreateJob* job, Console& console) {
  std::sort(job->items.begin(), job->items.end(),
            [](const PackItem& a, const PackItem& b) { return a.name < b.name; });
  std::vector<Refusal> refusals;
  FolderFiles files(job->items);
  Refusal refusal;
  if (!CheckSetupProgram(job->hasDescriptor ? &job->descriptor : nullptr, job->maxFolder, files, &job->setup,
                         &refusal))
    refusals.push_back(refusal);
  CheckItems(job->items, job->format, job->maxFolder, &refusals, &job->longest);
  if (refusals.empty()) return true;
  for (const Refusal& r : refusals) console.Err("tvpack: refused: " + Printable(r.name) + ": " + r.reason + "\n");
  console.Err(RoomText(job->longest.length, job->longest.limit, job->maxFolder, job->longest.name));
  console.Err("tvpack: " + Number(refusals.size()) + " problem(s); no package written\n");
  return false;
}

bool WritePayload(const CreateJob& job, PayloadSink& sink, PackProgress& progress, std::string* error) {
  FileItems source;
  const int level = static_cast<int>(job.level);
  return job.format == PackFormat::kZip
             ? WriteZipPayload(job.items, level, job.threads, source, sink, progress, error)
             : WriteSevenZipPayload(job.items, level, job.threads, source, sink, progress, error);
}

// What writing the package left: whether it was written, and the closing
// check's report where it ran.
struct Written {
  bool ok = false;
  std::string error;
  uint64_t size = 0;         // the package's bytes
  bool checked = false;      // the closing check read the package
  VerifyReport report;
};

// Writes launcher and payload to `partial`. A ZIP-style payload is verified
// while it is written: the launcher's walk follows the writer on a thread of
// its own, reading each entry once it is settled in the file, and ends soon
// after the writer. (A 7z archive is verified afterwards, by CheckWritten:
// its start header, which the scan looks for, comes last.)
Written WritePartial(const CreateJob& job, const std::string& partial, FILE* file, PackProgress& progress) {
  Written w;
  const bool follow = job.verify && job.format == PackFormat::kZip;
  WrittenExtent extent;
  FileSink sink(file, job.launcher.size(), follow ? &extent : nullptr);
  w.ok = fwrite(job.launcher.data(), 1, job.launcher.size(), file) == job.launcher.size();
  std::thread follower;
  if (w.ok && follow && fflush(file) == 0) {
    extent.Publish(job.launcher.size());
    if (FILE* readBack = platform::Open(partial, "rb")) {
      w.checked = true;
      follower = std::thread([&w, &extent, readBack, &job] {
        GrowingFileBytes bytes(readBack, extent);
        w.report = VerifyPackage(bytes, job.maxFolder);
        fclose(readBack);
      });
    }
  }
  if (w.ok) w.ok = WritePayload(job, sink, progress, &w.error);
  if (w.ok && fflush(file) != 0) w.ok = false;
  // The follower ends once it knows the package is complete or never will be.
  extent.Finish(w.ok, sink.End());
  if (follower.joinable()) follower.join();
  if (fclose(file) != 0) w.ok = false;
  if (!w.ok && w.error.empty()) w.error = "cannot write " + partial;
  w.size = sink.End();
  return w;
}

// The closing check of a package written without a follower (7z).
void CheckWritten(const CreateJob& job, const std::string& partial, Written* w) {
  if (!job.verify || job.format == PackFormat::kZip) return;
  if (FILE* readBack = platform::Open(partial, "rb")) {
    w->checked = true;
    FileBytes bytes(readBack, w->size);
    w->report = VerifyPackage(bytes, job.maxFolder, job.threads);
    fclose(readBack);
  }
}

// Writes the package under "<output>.partial", checks it and renames it to
// the output. Returns the exit code; nothing is left behind on failure.
int WritePackage(CreateJob* job, Console& console) {
  const std::string partial = job->output + ".partial";
  FILE* file = platform::Open(partial, "wb+");
  if (!file) {
    console.Err("tvpack: cannot create " + partial + "\n");
    return kTvpackError;
  }
  for (const PackItem& item : job->items) {
    job->totalBytes += item.size;
    job->files += item.folder ? 0 : 1;
  }
  const bool showProgress = console.Terminal() && !job->quiet &&
                            (job->totalBytes >= kProgressBytes || job->files >= kProgressFiles);
  ProgressLine progress(console, showProgress, job->totalBytes, job->files);
  Written w = WritePartial(*job, partial, file, progress);
  progress.Finish();
  if (!w.ok) {
    // Best effort: a partial package is never left under any name.
    platform::Remove(partial);
    console.Err("tvpack: " + w.error + "\n");
    return kTvpackError;
  }
  CheckWritten(*job, partial, &w);
  if (job->verify && (!w.checked || !w.report.ok)) {
    const int code =
        DiscardUnverified(partial, "the written package does not verify; nothing was kept", console);
    for (const std::string& p : w.report.problems) console.Err("tvpack:   " + p + "\n");
    return code;
  }
  if (!platform::Replace(partial, job->output)) {
    platform::Remove(partial);
    console.Err("tvpack: cannot rename " + partial + " to " + job->output + "\n");
    return kTvpackError;
  }
  return kTvpackOk;
}

void PrintSummary(const CreateJob& job, Console& console) {
  if (job.quiet) return;
  console.Out("tvpack: wrote " + job.output + ": " + Number(job.files) + " files, " +
              Megabytes(static_cast<double>(job.totalBytes)) + " in a " +
              (job.format == PackFormat::kZip ? "ZIP-style" : "7z") + " payload; setup program " + job.setup +
              "\n");
  console.Out(RoomText(job.longest.length, job.longest.limit, job.maxFolder, job.longest.name));
}

}  // namespace

int CreateCommand(const std::vector<std::string>& args, Console& console) {
  CreateJob job;
  if (!ReadOptions(args, &job, console)) return kTvpackError;
  if (!CheckPlaces(job, console)) return kTvpackError;
  if (!LoadLauncher(&job, console)) return kTvpackError;
  if (!ListItems(&job, console)) return kTvpackError;
  if (!TakeDescriptor(&job, console)) return kTvpackError;
  if (!CheckRules(&job, console)) return kTvpackRefused;
  const int code = WritePackage(&job, console);
  if (code != kTvpackOk) return code;
  PrintSummary(job, console);
  return kTvpackOk;
}
