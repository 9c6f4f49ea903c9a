// Packages of the launcher and a 7z archive (made at build time by the 7-Zip
// program), run under Wine as a user would, with the recorder as setup
// program: what the 7z package, relaunch and planted-library tests share.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace tvtest {

inline std::wstring Archive(const std::string& name) { return WinPath((std::string(TV_7Z_ARCHIVES) + "/" + name).c_str()); }
inline std::wstring PlantedDir() { return WinPath(TV_PLANTED_DIR); }
inline std::wstring ProbeExe() { return WinPath(TV_DLL_PROBE_EXE); }

// Writes "<folder>\package.exe": the launcher with `archive` appended.
inline std::wstring MakePackage(const std::wstring& folder, const std::string& archive) {
  const std::wstring package = folder + L"\\package.exe";
  WriteFileBytes(package, ReadFileBytes(LauncherExe()) + ReadFileBytes(Archive(archive + ".7z")));
  return package;
}

// Every file below `root` by its "/"-separated relative name, and every folder.
struct Tree {
  std::map<std::string, std::string> files;
  std::set<std::string> folders;
};

inline void Walk(const std::wstring& root, const std::string& prefix, Tree& tree) {
  for (const std::wstring& name : ListDir(root)) {
    const std::wstring path = root + L"\\" + name;
    const std::string rel = prefix + Narrow(name);
    if (IsDirectory(path)) {
      tree.folders.insert(rel);
      Walk(path, rel + "/", tree);
    } else {
      tree.files[rel] = ReadFileBytes(path);
    }
  }
}

inline Tree TreeOf(const std::wstring& root) {
  Tree tree;
  Walk(root, "", tree);
  return tree;
}

// The folders that hold files: what an extraction creates.
inline std::set<std::string> FoldersOnTheWay(const Tree& tree) {
  std::set<std::string> folders;
  for (const auto& [name, data] : tree.files)
    for (size_t at = name.find('/'); at != std::string::npos; at = name.find('/', at + 1))
      folders.insert(name.substr(0, at));
  return folders;
}

// The extraction folders ("Van*.tmp") left in a temporary folder.
inline std::vector<std::wstring> ExtractionFolders(const std::wstring& temp) {
  std::vector<std::wstring> found;
  for (const std::wstring& name : ListDir(temp))
    if (name.rfind(L"Van", 0) == 0 && IsDirectory(temp + L"\\" + name)) found.push_back(temp + L"\\" + name);
  return found;
}

inline EnvList Join(EnvList a, const EnvList& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One run of a package from its own folder, with a temporary folder and a
// current folder of its own.
struct PackageRun {
  TempDir dir{L"pkg"};
  TempDir temp{L"tmp"};
  TempDir cwd{L"cwd"};
  TempDir records{L"rec"};
  std::wstring package;

  explicit PackageRun(const std::string& archive) { package = MakePackage(dir.path(), archive); }

  ProcessResult Run(const std::wstring& arguments, const EnvList& extra = {},
                    const std::wstring& tempPath = L"", ChildToken token = ChildToken::kOwn) {
    const std::wstring t = tempPath.empty() ? temp.path() : tempPath;
    return RunProcess(package, L"\"" + package + L"\"" + arguments, Join(TempEnv(t), extra), cwd.path(),
                      120000, token);
  }
};

inline bool IsGuidName(const std::wstring& name) {
  if (name.size() != 38 || name.front() != L'{' || name.back() != L'}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
    if (hyphen ? name[i] != L'-' : !iswxdigit(name[i])) return false;
  }
  return true;
}

// What the setup program saw of the temporary folder: the GUID folder and
// its entries, when a copy ran the package.
inline std::vector<std::wstring> CopyFolderEntries(const Record& r, bool* found) {
  *found = false;
  std::vector<std::wstring> inside;
  std::wstring guid;
  for (const std::wstring& entry : r.listed)
    if (IsGuidName(entry)) {
      *found = true;
      guid = entry;
    }
  for (const std::wstring& entry : r.listed)
    if (*found && entry.rfind(guid + L"\\", 0) == 0) inside.push_back(entry.substr(guid.size() + 1));
  return inside;
}

}  // namespace tvtest
