// How long the bit clock holds each element of a character at its nominal
// speed, 45.45 baud: the keying rule the instance is built with and the check
// program measures by. It sees nothing of the project.
#pragma once

#include <cstdint>

constexpr uint32_t kBitMs = 22;
// The stop element is one and a half bits.
constexpr uint32_t StopHoldMs(uint32_t bitMs) { return bitMs * 3 / 2; }
constexpr uint32_t kStopMs = StopHoldMs(kBitMs);
// The start bit, five data bits and the stop element: 7.5 bits.
constexpr uint32_t kCharacterMs = 6 * kBitMs + kStopMs;
