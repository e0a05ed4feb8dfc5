// The output report as the box takes it.
#pragma once

#include <cstdint>

// Fills `report` (`length` bytes, the length the box declares, report ID byte
// included) with as much of the three leading bytes as fits, then zeros.
void BuildOutputReport(const uint8_t (&leading)[3], uint8_t* report, uint32_t length);
