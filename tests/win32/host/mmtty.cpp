#include "mmtty.h"

#include <utility>

#include "check.h"
#include "locked.h"
#include "sim_box.h"

namespace {

constexpr DWORD kFirstGuardMs = 250;
constexpr DWORD kCharacterMs = 165;
// ToRX with COM-TxD: 200 ms before PTT off.
constexpr DWORD kToRxMs = 200;
// Five bits: slept once when the codes run out and there is no diddle.
constexpr DWORD kIdlePauseMs = 110;

}  // namespace

Mmtty::Mmtty(std::string module, MmttyOptions options)
    : module_(std::move(module)), options_(options) {
  InitializeCriticalSection(&lock_);
}

Mmtty::~Mmtty() {
  Close();
  DeleteCriticalSection(&lock_);
}

int32_t Mmtty::Open() {
  REQUIRE(plugin_ == nullptr);
  plugin_ = std::make_unique<Plugin>(module_);
  const int32_t result =
      plugin_->Open(options_.fskPort ? Plugin::kMmttyOpenArgument : Plugin::kSoundOpenArgument);
  if (options_.fskPort) {
    {
      Locked locked(lock_);
      closing_ = false;
      enabled_ = false;
    }
    thread_ = CreateThread(nullptr, 0, &Mmtty::TransmitThread, this, 0, nullptr);
    REQUIRE(thread_ != nullptr);
  }
  return result;
}

void Mmtty::Close() {
  if (plugin_ == nullptr) return;
  if (thread_ != nullptr) {
    {
      Locked locked(lock_);
      enabled_ = false;
      closing_ = true;
    }
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  plugin_->Close();
  plugin_.reset();  // FreeLibrary
}

int32_t Mmtty::SetTxRx(bool transmit) {
  return plugin_->SetPtt(options_.invertLogic ? !transmit : transmit);
}

DWORD WINAPI Mmtty::TransmitThread(void* self) {
  static_cast<Mmtty*>(self)->RunTransmitThread();
  return 0;
}

// CComm::Execute, for the plug-in's part of it.
void Mmtty::RunTransmitThread() {
  bool idle = false;
  for (;;) {
    bool enabled = false;
    {
      Locked locked(lock_);
      if (closing_) return;
      enabled = enabled_;
    }
    if (!enabled) {
      Sleep(10);
      continue;
    }
    const double askedMs = box::NowMs();
    const bool busy = plugin_->IsTxBusy() != 0;
    enum { Wait, Guard, Code, Nothing } step = Wait;
    uint8_t code = 0;
    {
      Locked locked(lock_);
      if (current_ != nullptr && current_->firstPollMs == 0) current_->firstPollMs = askedMs;
      if (!busy) {
        // Whatever was handed over has been taken.
        if (current_ != nullptr) taken_ = current_->put.size();
        step = Nothing;
        if (firstGuard_) {
          firstGuard_ = false;
          step = Guard;
        } else if (!queue_.empty()) {
          code = queue_.front();
          queue_.pop_front();
          step = Code;
        } else if (options_.diddle != Diddle::None && !diddleOff_) {
          code = options_.diddle == Diddle::Blank ? 0x00 : 0x1F;
          step = Code;
        }
        if (step == Code && current_ != nullptr) current_->put.push_back(code);
      }
    }
    if (step == Wait) {
      Sleep(1);
      continue;
    }
    if (step == Guard) {
      Sleep(kFirstGuardMs);
    } else if (step == Code) {
      plugin_->PutChar(code);
      const double putMs = box::NowMs();
      idle = false;
      Locked locked(lock_);
      if (current_ != nullptr) current_->putMs.push_back(putMs);
    } else {
      if (!idle) Sleep(kIdlePauseMs);
      idle = true;
    }
    Sleep(10);
  }
}

bool Mmtty::WaitUntilTaken(size_t count, DWORD timeoutMs) {
  const double deadline = box::NowMs() + timeoutMs;
  for (;;) {
    {
      Locked locked(lock_);
      if (taken_ >= count) return true;
    }
    if (box::NowMs() > deadline) return false;
    Sleep(1);
  }
}

Transmission Mmtty::Transmit(const std::vector<uint8_t>& codes) {
  REQUIRE(plugin_ != nullptr);
  Transmission tx;
  // XMIT: PTT first, from this thread; the transmit thread is enabled only
  // after the sound side has switched, so extfskIsTxBusy comes later.
  tx.pttOnMs = box::NowMs();
  tx.pttOnResult = SetTxRx(true);
  Sleep(options_.soundSwitchMs);
  if (thread_ == nullptr) {
    // Sound alone: the codes go out as audio, and the plug-in hears of none.
    Sleep(static_cast<DWORD>(codes.size()) * kCharacterMs + kToRxMs);
    tx.pttOffMs = box::NowMs();
    tx.pttOffResult = SetTxRx(false);
    return tx;
  }
  {
    Locked locked(lock_);
    queue_.assign(codes.begin(), codes.end());
    taken_ = 0;
    diddleOff_ = false;
    current_ = &tx;
    firstGuard_ = true;  // EnbTX(1)
    enabled_ = true;
  }
  const DWORD timeoutMs = static_cast<DWORD>(codes.size() + 4) * kCharacterMs * 3 + 5000;
  if (!WaitUntilTaken(codes.size(), timeoutMs)) {
    check::Fail(__FILE__, __LINE__, "the plug-in did not take every code");
  }
  // ToRX: no more diddle; a code already handed over goes out whole.
  size_t handedOver = 0;
  {
    Locked locked(lock_);
    diddleOff_ = true;
    handedOver = tx.put.size();
  }
  WaitUntilTaken(handedOver, 2000);
  Sleep(kCharacterMs + kToRxMs);
  tx.pttOffMs = box::NowMs();
  tx.pttOffResult = SetTxRx(false);
  {
    Locked locked(lock_);
    enabled_ = false;  // EnbTX(0)
    queue_.clear();
    current_ = nullptr;
  }
  return tx;
}
