// tarvokey-check: is the box seen, is it accepted, and does this PC key it on
// time? And, while MMTTY runs, how is the plug-in doing? Built on the
// plug-in's own code; see RunCheck.
#pragma once

#include <string>
#include <vector>

#include "tools/check/console.h"

// Exit statuses, each with a one-line message.
constexpr int kExitAccepted = 0;
constexpr int kExitNoBox = 1;
constexpr int kExitRefused = 2;
constexpr int kExitBadArgument = 3;
// --watch and --status: whether a program has tarvokey.fsk open.
constexpr int kExitInstanceOpen = 0;
constexpr int kExitNoInstance = 1;

// --watch shows a new panel this often.
constexpr uint32_t kWatchRefreshMs = 500;

// Runs the program on its arguments (the program's name not among them, each
// in UTF-8) and returns its exit status.
int RunCheck(const std::vector<std::string>& args, Console& console);
