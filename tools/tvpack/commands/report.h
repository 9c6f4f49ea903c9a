// What the commands print about a package: the verify report and the line
// on the longest path. Portable.
#pragma once

#include <stdint.h>

#include <string>

#include "package_verify.h"
#include "tvpack.h"

// The line on the longest unpacked path: `length` characters (`name`) under
// a `maxFolder`-character extraction folder, against the launcher's `limit`.
std::string RoomText(uint32_t length, uint32_t limit, uint32_t maxFolder, const std::string& name);

// Prints `r` as verify does: the payload's kind and place, every entry, the
// setup program, the longest path, each problem (on standard error) and the
// verdict.
void PrintReport(const VerifyReport& r, uint32_t maxFolder, Console& console);

// `r` as one JSON object on one line (verify --json): "verdict" ("accepted"
// or "refused"), "reason" (the first problem, "" when accepted), "problems",
// "payload" ("zip", "7z" or null), "payloadOffset", "imageEnd", "signed",
// "setup" (the setup program's relative name, "" when none was chosen),
// "files", "folders", "bytes" (the files' sizes added up).
std::string ReportJson(const VerifyReport& r);
