// tarvokey-check: is the box seen, is it accepted, and does this PC key it on
// time? Built on the plug-in's own code; see RunCheck.
#pragma once

#include <string>
#include <vector>

#include "tools/check/console.h"

// Exit statuses, each with a one-line message.
constexpr int kExitAccepted = 0;
constexpr int kExitNoBox = 1;
constexpr int kExitRefused = 2;
constexpr int kExitBadArgument = 3;

// Runs the program on its arguments (the program's name not among them) and
// returns its exit status.
int RunCheck(const std::vector<std::string>& args, Console& console);
