// Finding the programs that have tarvokey.fsk open, and reading the status
// each publishes, without disturbing them.
#pragma once

#include <vector>

#include "tools/check/console.h"

// Every process of this session with a status section, each read anew: the
// section is opened and its view mapped read-only for the read, then let go.
// A section this user may not open is listed unread (accessDenied).
std::vector<StatusEntry> ReadStatusSections();
