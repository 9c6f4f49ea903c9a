#include "pack_rules.h"

#include <map>
#include <set>

#include "entry_name.h"
#include "launch_descriptor.h"
#include "pe_image.h"
#include "seven_zip_core.h"
#include "zip_entries.h"
#include "text.h"

namespace {

constexpr char kNotUtf8[] = "not valid UTF-8";

std::string Number(uint64_t value) { return std::to_string(value); }

std::string SizeText(uint64_t bytes) {
  if (bytes >= (1ull << 30)) return Number(bytes >> 30) + " GiB";
  return Number(bytes >> 20) + " MiB";
}

}  // namespace

uint32_t PathLimit(PackFormat format) {
  return format == PackFormat::kZip ? kZipPathLimit : kSevenZipPathLimit;
}

uint32_t NameLength(PackFormat format, const std::string& utf8Name) {
  if (format == PackFormat::kZip) return static_cast<uint32_t>(utf8Name.size());
  std::wstring wide;
  if (!DecodeUtf8(utf8Name, &wide)) return static_cast<uint32_t>(utf8Name.size());
  return static_cast<uint32_t>(wide.size());
}

void CheckItems(const std::vector<PackItem>& items, PackFormat format, uint32_t maxFolder,
                std::vector<Refusal>* refusals, LongestPath* longest) {
  *longest = LongestPath{};
  longest->limit = PathLimit(format);
  const uint64_t maxFile = format == PackFormat::kZip ? kZipMaxFile : kSevenZipMaxFile;
  // Folded name of every item and every folder on its way, and the names it
  // was folded from.
  std::map<std::wstring, std::set<std::string>> folded;

  for (const PackItem& item : items) {
    const std::string& name = item.name;
    auto refuse = [&](const std::string& reason) { refusals->push_back({name, reason}); };
    if (!item.problem.empty()) {
      refuse(item.problem);
      continue;
    }
    std::wstring wide;
    if (!DecodeUtf8(name, &wide)) {
      refuse(kNotUtf8);
      continue;
    }
    if (!EntryNameIsSafe(wide.data(), wide.size()))
      refuse("refused by the launcher's name rule (it could leave the extraction folder or "
             "name a device)");
    const unsigned changes = EntryNameChangesOnWindows(wide.data(), wide.size());
    // A backslash inside a file name on the packing machine would separate
    // folders once unpacked on Windows.
    if ((changes & kNameCharacterNotTaken) || wide.find(L'\\') != std::wstring::npos)
      refuse("holds a character Windows does not allow in file names (< > \" | ? * \\ or a "
             "control character)");
    if (changes & kNameEndingDropped)
      refuse("a part of it ends with a dot or a space, which Windows drops");
    if (!item.folder && item.size > maxFile)
      refuse("too large for the " + std::string(format == PackFormat::kZip ? "ZIP-style" : "7z") +
             " format: " + Number(item.size) + " bytes, the limit is " + SizeText(maxFile) +
             (format == PackFormat::kZip ? "" : " (the launcher decodes each block in memory)"));

    // A packed folder entry carries its final "/", as the ZIP-style walk sees it.
    const std::string packedName = item.folder && format == PackFormat::kZip ? name + "/" : name;
    const uint32_t length = maxFolder + 1 + NameLength(format, packedName);
    if (length > longest->length) {
      longest->length = length;
      longest->name = name;
    }
    if (length > longest->limit)
      refuse("path too long: " + Number(length) + " characters under a " + Number(maxFolder) +
             "-character extraction folder, the launcher allows " + Number(longest->limit) + " (" +
             Number(length - longest->limit) + " too many" +
             (format == PackFormat::kZip && NameLength(PackFormat::kSevenZip, name) != name.size()
                  ? "; the ZIP-style format counts the name's UTF-8 bytes"
                  : "") +
             ")");

    const std::wstring key = FoldCase(wide);
    folded[key].insert(name);
    for (size_t at = wide.find(L'/'); at != std::wstring::npos; at = wide.find(L'/', at + 1))
      folded[key.substr(0, at)].insert(EncodeUtf8(wide.substr(0, at)));
  }

  for (const auto& [key, names] : folded) {
    if (names.size() < 2) continue;
    for (const std::string& name : names) {
      std::string others;
      for (const std::string& other : names)
        if (other != name) others += (others.empty() ? "" : ", ") + other;
      refusals->push_back({name, "differs only in case from " + others});
    }
  }
}

std::string DescriptorSetupName(const std::string& bytes, std::string* reason) {
  // The launcher reads kDescriptorBytes and takes the first line.
  const std::string head = bytes.substr(0, kDescriptorBytes);
  const std::string line = head.substr(0, DescriptorLineLength(head.data(), head.size()));
  if (line.empty()) {
    *reason = "its first line is empty";
    return "";
  }
  if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    *reason = "it starts with a byte-order mark, which the launcher takes as part of the name";
    return "";
  }
  std::wstring wide;
  if (!DecodeUtf8(line, &wide)) {
    *reason = std::string("its first line is ") + kNotUtf8;
    return "";
  }
  switch (CheckDescriptorName(wide.data(), wide.size())) {
    case DescriptorVerdict::kAccepted:
      return line;
    case DescriptorVerdict::kEmpty:
      *reason = "its first line is empty";
      return "";
    case DescriptorVerdict::kTooLong:
      *reason = "its first line is too long for the launcher (" + Number(kDescriptorBytes) +
                " bytes without a line break)";
      return "";
    case DescriptorVerdict::kRefused:
      break;
  }
  *reason = "it names a path the launcher's name rule refuses";
  return "";
}

std::string NormalizeRelative(const std::string& name) {
  std::string out;
  std::string element;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/' || name[i] == '\\') {
      if (!element.empty() && element != ".") out += (out.empty() ? "" : "/") + element;
      element.clear();
    } else {
      element.push_back(name[i]);
    }
  }
  return out;
}

bool LooksLikeProgram(const std::string& head) {
  uint64_t end = 0;
  return ImageEndFromHeaders(reinterpret_cast<const uint8_t*>(head.data()), head.size(), &end);
}
