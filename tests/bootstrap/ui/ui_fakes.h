// Stand-ins for the bootstrapper core and the download worker, so the user
// interface runs alone under a test: a scripted worker thread, a recorded
// log, a switchable update policy and a recorded runtime-installer call.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "download_helper.h"

namespace tvtest {

// What the fake worker thread does with the shared record; it drops the
// worker's reference afterwards. Null: return at once.
extern std::function<void(tovik::DownloadHelper*)> workerScript;
extern LONG workersStarted;

extern bool updatesAllowed;

struct InstallerCall {
  std::wstring installerPath, options, applicationPath;
  bool installerExisted = false;
};
extern std::vector<InstallerCall> installerCalls;
extern int installerExitCode;

// Log lines the user interface wrote, in order.
std::vector<std::string> LogLines();

void Reset();

}  // namespace tvtest
