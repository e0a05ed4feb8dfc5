// The five functions the host finds by name.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define FSK_API __stdcall
#else
#define FSK_API
#endif

extern "C" {
int32_t FSK_API extfskOpen(int32_t hostParameter);
void FSK_API extfskClose();
int32_t FSK_API extfskIsTxBusy();
int32_t FSK_API extfskPutChar(int32_t character);
int32_t FSK_API extfskSetPTT(int32_t transmit);
}

// Tears down an instance the host left open, from the module's unload
// notification. processExiting: the platform says the process is ending.
void CloseAtUnload(bool processExiting);
