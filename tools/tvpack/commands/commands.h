// The five commands behind TvpackMain, each given the whole argument list
// (the command's name first) and returning the tool's exit code. Portable.
#pragma once

#include <string>
#include <vector>

#include "tvpack.h"

int CreateCommand(const std::vector<std::string>& args, Console& console);
int VerifyCommand(const std::vector<std::string>& args, Console& console);
int SignCommand(const std::vector<std::string>& args, Console& console);
int SignRuntimeCommand(const std::vector<std::string>& args, Console& console);
int CheckRuntimeCommand(const std::vector<std::string>& args, Console& console);

// The end of create and sign when the finished package at `partial` does not
// verify: removes it, writes `message` and returns kTvpackRefused.
int DiscardUnverified(const std::string& partial, const std::string& message, Console& console);
