// MMTTY as the plug-in sees it, from MMTTY's own source: its FSK port
// (CComm in Comm.cpp) with the transmit thread, and the main thread's steps
// that start and end a transmission (XMIT and ToRX in Main.cpp).
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "plugin.h"

// What the transmit thread sends when it has no code to send (Diddle, TX tab).
enum class Diddle {
  None,
  Letters,  // LTRS, 0x1F: MMTTY's default
  Blank,    // BLK, 0x00
};

struct MmttyOptions {
  // Tx Port (Misc tab) sends FSK through the plug-in: extfskOpen gets the COM
  // parameters and the transmit thread runs. With Sound alone extfskOpen gets
  // 45 << 16 and the plug-in serves PTT only.
  bool fskPort = true;
  // Invert Logic (TX tab): the PTT value passed to the plug-in is flipped.
  bool invertLogic = false;
  Diddle diddle = Diddle::Letters;
  // After PTT on, XMIT waits in 20 ms steps (at most 4 s) until its sound
  // thread has switched to transmit, about one buffer of 1024 samples at
  // 11025 Hz, before it enables the transmit thread. With Sound + COM-TxD it
  // does not wait.
  DWORD soundSwitchMs = 100;
};

struct Transmission {
  double pttOnMs = 0;      // box time of extfskSetPTT for transmit
  double firstPollMs = 0;  // box time of the transmit thread's first extfskIsTxBusy
  double pttOffMs = 0;     // box time of extfskSetPTT for receive
  int32_t pttOnResult = 0;
  int32_t pttOffResult = 0;
  std::vector<uint8_t> put;   // every code handed over: the text's, then any diddle
  std::vector<double> putMs;  // box time of each extfskPutChar
};

class Mmtty {
 public:
  // `module` as Plugin takes it.
  explicit Mmtty(std::string module, MmttyOptions options = {});
  ~Mmtty();  // closes, if open
  Mmtty(const Mmtty&) = delete;
  Mmtty& operator=(const Mmtty&) = delete;

  // At start and when the port is chosen or Resume is clicked (OpenClosePTT):
  // loads the plug-in, calls extfskOpen and, when the Tx port sends FSK,
  // starts the transmit thread, idle until a transmission. Returns what
  // extfskOpen returned, which MMTTY itself ignores.
  int32_t Open();
  // At exit, port change and Suspend (CComm::Close, ~CEXTFSK): the transmit
  // thread is stopped and waited for, then extfskClose, then FreeLibrary.
  void Close();

  // From the calling (main) thread: PTT on, the wait for the sound side, and
  // the transmit thread enabled; it asks extfskIsTxBusy before its first
  // guard of 250 ms, then hands over one code whenever the plug-in is not
  // busy (sleeping 1 ms while it is, 10 ms after each code) and a diddle when
  // it has none. When every code has been taken: diddle off, the last code's
  // time and 200 ms, PTT off, the thread idle again. With Sound alone: PTT
  // on, the text's time as audio, PTT off.
  Transmission Transmit(const std::vector<uint8_t>& codes);

 private:
  static DWORD WINAPI TransmitThread(void* self);
  void RunTransmitThread();
  int32_t SetTxRx(bool transmit);  // CComm::SetTXRX
  bool WaitUntilTaken(size_t count, DWORD timeoutMs);

  const std::string module_;
  const MmttyOptions options_;
  std::unique_ptr<Plugin> plugin_;
  HANDLE thread_ = nullptr;

  // Shared with the transmit thread, under lock_.
  CRITICAL_SECTION lock_;
  bool closing_ = false;
  bool enabled_ = false;     // m_TxEnb
  bool firstGuard_ = false;  // m_FirstGaurd
  bool diddleOff_ = false;
  std::deque<uint8_t> queue_;
  size_t taken_ = 0;                 // codes handed over that the plug-in has taken
  Transmission* current_ = nullptr;  // the transmission being recorded
};
