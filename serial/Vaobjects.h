#pragma once

#include <cstdint>
#include <mutex>

namespace zembra {

// Owns one operating-system event handle and closes it on destruction.
class TVaHandleObject {
  public:
    TVaHandleObject() = default;
    virtual ~TVaHandleObject();
    TVaHandleObject(const TVaHandleObject&) = delete;
    TVaHandleObject& operator=(const TVaHandleObject&) = delete;

    int Handle() const { return handle_; }

  protected:
    int handle_ = -1;
};

// An event object (platform/WaitEvent.h), so that it can be waited for together with a
// device. Manual reset: stays signalled until ResetEvent. Auto reset: a completed WaitFor
// clears it.
class TVaEvent : public TVaHandleObject {
  public:
    // WaitFor results.
    enum TWaitResult { wrSignaled = 0, wrTimeout = 1, wrAbandoned = 2, wrError = 3 };

    TVaEvent(bool manualReset, bool initialState);

    // Waits at most ms milliseconds (0xFFFFFFFF: without limit). For wrError, LastError()
    // keeps the error number.
    int WaitFor(uint32_t ms);
    bool SetEvent();
    bool ResetEvent();
    int LastError() const { return lastError_; }

  private:
    bool manualReset_;
    int lastError_ = 0;
};

// An unnamed manual-reset event, initially not signalled.
class TVaWaitEvent : public TVaEvent {
  public:
    TVaWaitEvent() : TVaEvent(true, false) {}
};

// The per-port lock. Recursive, as the port's write path re-enters it to clear line errors.
class TVaCriticalSection {
  public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    void Acquire() { Enter(); }
    void Release() { Leave(); }
    // For std::lock_guard.
    void lock() { Enter(); }
    void unlock() { Leave(); }

  private:
    std::recursive_mutex mutex_;
};

}  // namespace zembra
