// The module's version: the one place it is written. The version record, the
// check program and the release script all take it from here.
#pragma once

#define TARVOKEY_VERSION_MAJOR 0
#define TARVOKEY_VERSION_MINOR 0
#define TARVOKEY_VERSION_BUILD 5
#define TARVOKEY_VERSION_REVISION 0
// As the version record's strings spell it.
#define TARVOKEY_VERSION_TEXT "0, 0, 5, 0"
