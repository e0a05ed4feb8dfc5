// Where a box is plugged in, as Windows names the USB port.
#pragma once

#include <string>

// The location Device Manager shows for the box's USB device
// ("Port_#0002.Hub_#0001"), in UTF-8, for the HID interface at this device
// path; "" where Windows does not say.
std::string BoxLocationOf(const std::string& devicePath);
