#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "protocol/SequenceHost.h"

namespace zembra {

// Capacity of the receive accumulator. Responses are a few bytes long; a frame that grows
// beyond this is discarded whole and the receiver waits for the next opening flag.
inline constexpr std::size_t RX_ACCUMULATOR_CAPACITY = 4096;

// The receive side of one engine: cuts response frames out of its port's byte stream and
// hands the last complete one to the worker waiting for it. Both engines use it.
//
// Cutting: a frame opens with 0x7E and closes at the next 0x7E. Bytes before an opening flag
// are discarded; a second 0x7E right after the opening one opens the frame anew (a doubled
// flag never makes an empty answer); the bytes of a chunk after a closing flag are dropped.
//
// Threads: Feed, ClearArrived and Reset may be called from any thread (the receive handler's
// and the writer's); Wait, WaitReading and Response belong to the worker. One mutex guards
// the accumulator and the hand-over; the waiter sleeps on a condition variable, or in its
// port's read (WaitReading).
class ResponseReceiver {
  public:
    struct FeedResult {
        bool completed = false;  // a frame was completed and handed over
        bool overrun = false;    // an earlier frame had not been taken yet
    };

    ResponseReceiver();
    ~ResponseReceiver();
    ResponseReceiver(const ResponseReceiver&) = delete;
    ResponseReceiver& operator=(const ResponseReceiver&) = delete;

    FeedResult Feed(const std::uint8_t* data, std::size_t count);

    // Waits up to ticks milliseconds (ticks <= 0: NoResponse at once) until a frame arrives
    // (taken even when a stop is pending: Arrived) or stopped() becomes true (Stopped).
    // Whoever makes stopped() true calls WakeWaiter afterwards.
    // gone, when given, is looked at every kGonePollMs: true ends the wait (NoResponse) at
    // once, for a port whose device has vanished.
    WaitResult Wait(long long ticks, const std::function<bool()>& stopped,
                    const std::function<bool()>& gone = {});
    static constexpr int kGonePollMs = 20;

    // As Wait, for a worker that reads its port itself: read(ms) waits up to ms for bytes and
    // hands them to Feed (through the port's tap), and ends early when CancelHandle is
    // signalled (by WakeWaiter); a negative result (the port is gone) gives NoResponse.
    WaitResult WaitReading(long long ticks, const std::function<bool()>& stopped,
                           const std::function<int(int ms)>& read);
    // A wait event, signalled by WakeWaiter and cleared by Reset.
    int CancelHandle() const { return cancel_; }

    // responseArrived := false (before every write).
    void ClearArrived();
    // Empties the accumulator too (a new run, a new port).
    void Reset();
    // Wakes a Wait so that it looks at its stop condition again.
    void WakeWaiter();

    bool arrived() const { return arrived_.load(); }
    // True while a Wait sleeps for its frame: what is fed or stopped from now on wakes it.
    bool waiting() const { return waiting_.load(); }
    // The frame taken by the last Wait that gave Arrived, without the opening flag.
    const std::vector<std::uint8_t>& Response() const { return response_; }
    // Bytes discarded: outside any frame, after a closing flag or in an outgrown frame.
    std::uint64_t discardedBytes() const;

  private:
    void HandOver();
    // Takes the frame handed over (mutex_ held); false when none is there.
    bool Take();

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::array<std::uint8_t, RX_ACCUMULATOR_CAPACITY> accumulator_{};
    std::size_t accumulated_ = 0;
    std::array<std::uint8_t, RX_ACCUMULATOR_CAPACITY> frame_{};
    std::size_t frameLength_ = 0;
    std::atomic<bool> arrived_{false};
    std::atomic<bool> waiting_{false};
    std::uint64_t discarded_ = 0;
    std::vector<std::uint8_t> response_;  // worker only
    int cancel_;                          // manual-reset wait event
};

}  // namespace zembra
