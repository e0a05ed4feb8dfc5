// The five functions the host finds by name. No exception reaches the host.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define FSK_API __stdcall
#else
#define FSK_API
#endif

extern "C" {
int32_t FSK_API extfskOpen(int32_t hostParameter) noexcept;
void FSK_API extfskClose() noexcept;
int32_t FSK_API extfskIsTxBusy() noexcept;
int32_t FSK_API extfskPutChar(int32_t character) noexcept;
int32_t FSK_API extfskSetPTT(int32_t transmit) noexcept;
}
