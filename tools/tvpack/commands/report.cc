#include "report.h"

#include "json.h"

#include "options.h"
#include "text.h"

std::string RoomText(uint32_t length, uint32_t limit, uint32_t maxFolder, const std::string& name) {
  std::string text = "longest path: " + Number(length) + " characters with a " + Number(maxFolder) +
                     "-character extraction folder (" + Printable(name) + "); the launcher allows " +
                     Number(limit);
  if (length <= limit) text += ", " + Number(limit - length) + " left";
  return text + "\n";
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

std::string ReportJson(const VerifyReport& r) {
  uint64_t files = 0, folders = 0, bytes = 0;
  for (const VerifiedEntry& e : r.entries) {
    if (e.folder) {
      ++folders;
    } else {
      ++files;
      bytes += e.size;
    }
  }
  JsonObject json;
  json.Text("verdict", r.ok ? "accepted" : "refused")
      .Text("reason", r.problems.empty() ? std::string() : r.problems[0])
      .Texts("problems", r.problems);
  if (r.kind == PayloadZip)
    json.Text("payload", "zip");
  else if (r.kind == PayloadSevenZip || r.kind == PayloadSevenZipNotLzma)
    json.Text("payload", "7z");
  else
    json.Null("payload");
  return json.Number("payloadOffset", r.payloadOffset)
      .Number("imageEnd", r.imageEnd)
      .Bool("signed", r.signedFile)
      .Text("setup", r.setup)
      .Number("files", files)
      .Number("folders", folders)
      .Number("bytes", bytes)
      .Line();
}
