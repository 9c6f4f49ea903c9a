// Test program: a worker thread logs without pause while the main thread
// returns, as the bootstrapper's never-joined download worker may at exit.
#include <windows.h>

#include "log.h"

static DWORD WINAPI Worker(void*) {
  for (int i = 0;; ++i) tovik::Log(tovik::INFO, "worker line %d", i);
}

int wmain() {
  HANDLE thread = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr);
  if (thread == nullptr) return 1;
  Sleep(300);
  tovik::Log(tovik::INFO, "main returns");
  return 0;
}
