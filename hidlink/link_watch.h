// What the device link shows a program that watches it (the check program):
// the steps of a discovery, and every report written. The shipped module sets
// no watcher, so each costs the link a pointer test.
#pragma once

#include <cstdint>

#include "hidlink/generation.h"

// Called on the discovering thread, in the order of the discovery.
struct DiscoveryWatcher {
  // A device of the enumeration, as far as it could be opened (openError is
  // the last error after the open) and asked for its identifiers (0 when not).
  void (*device)(const char* path, bool opened, uint32_t openError, uint16_t vendorId,
                 uint16_t productId);
  // A device passed over unopened: it is not the box tarvokey.ini chooses.
  void (*passedOver)(const char* path);
  // The device with the box's identifiers: its strings as the HID class
  // returned them (UTF-16LE, `size` bytes each, cleared where not read), the
  // generation read from them, and the output report length it declares.
  void (*box)(const uint8_t* product, const uint8_t* manufacturer, uint32_t size,
              Generation generation, uint16_t reportLength);
  // The device with the box's identifiers is held by another program: its
  // identity (hidlink/box_key.h) and why its claim could not be taken.
  void (*inUse)(uint64_t boxKey, uint32_t claimError);
  // Whether the box is open and accepted.
  void (*result)(bool accepted);
};

// Set and cleared only while no clock runs, or with keyerLock held so that no
// tick starts.
extern const DiscoveryWatcher* discoveryWatcher;

// Called after every write of a report, on the writing thread, with the bytes
// written, whether the write succeeded and the last error it left. Set and
// cleared as discoveryWatcher is.
using ReportObserver = void (*)(const uint8_t* report, uint32_t length, bool written,
                                uint32_t error);
extern ReportObserver reportObserver;
