// Benchmark helper (Windows side): runs a command line, samples the child's
// peak working set while it runs (every 20 ms), and prints one line:
//   exit=<code> wall_ms=<ms> peak_working_set_kib=<KiB> start_ft=<t> stop_ft=<t>
// (start_ft and stop_ft: the system time just before the start and just after
// the end, in 100 ns units since 1601, comparable with what a child records)
// With TV_BENCH_TEMP set (a Windows path), the child's TEMP and TMP are that
// folder: Wine ignores TEMP and TMP given on its command line, but a child
// takes them from the environment its parent gives it.
// Usage: peak_memory.exe <command line...>
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <wchar.h>

int wmain() {
  // The command line after our own program name.
  const wchar_t* line = GetCommandLineW();
  const wchar_t end = *line == L'"' ? L'"' : L' ';
  for (++line; *line && *line != end; ++line) {
  }
  if (*line) ++line;
  while (*line == L' ') ++line;
  wchar_t command[32768];
  lstrcpynW(command, line, 32768);

  wchar_t temp[MAX_PATH];
  const DWORD tempLength = GetEnvironmentVariableW(L"TV_BENCH_TEMP", temp, MAX_PATH);
  if (tempLength > 0 && tempLength < MAX_PATH) {
    SetEnvironmentVariableW(L"TEMP", temp);
    SetEnvironmentVariableW(L"TMP", temp);
  }

  LARGE_INTEGER frequency, start, stop;
  FILETIME startTime, stopTime;
  QueryPerformanceFrequency(&frequency);
  GetSystemTimePreciseAsFileTime(&startTime);
  QueryPerformanceCounter(&start);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    fprintf(stderr, "cannot start: error %lu\n", GetLastError());
    return 1;
  }
  // The peak working set is a high-water mark, so a sample every 20 ms finds
  // it (only growth in a program's last 20 ms can be missed). Each sample
  // is a trip to Wine's server and a read of /proc: sampling every 2 ms took
  // several percent of a processor from the program measured, and more from
  // one that keeps two processors busy. TV_BENCH_POLL_MS sets the interval.
  wchar_t poll[16];
  DWORD pollMs = 20;
  if (GetEnvironmentVariableW(L"TV_BENCH_POLL_MS", poll, 16) - 1u < 15u)
    pollMs = wcstoul(poll, nullptr, 10);
  SIZE_T peak = 0;
  for (;;) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (K32GetProcessMemoryInfo(process.hProcess, &counters, sizeof(counters)) &&
        counters.PeakWorkingSetSize > peak)
      peak = counters.PeakWorkingSetSize;
    if (WaitForSingleObject(process.hProcess, pollMs) != WAIT_TIMEOUT) break;
  }
  QueryPerformanceCounter(&stop);
  GetSystemTimePreciseAsFileTime(&stopTime);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  char out[256];
  auto ticks = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  const int n = snprintf(out, sizeof(out),
                         "exit=%lu wall_ms=%.0f peak_working_set_kib=%zu start_ft=%llu stop_ft=%llu\n",
                         code, 1000.0 * (stop.QuadPart - start.QuadPart) / frequency.QuadPart,
                         peak / 1024, ticks(startTime), ticks(stopTime));
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out, n, &written, nullptr);
  return 0;
}
