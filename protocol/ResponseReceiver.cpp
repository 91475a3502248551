#include "protocol/ResponseReceiver.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/WaitEvent.h"
#include "protocol/PacketCodec.h"

namespace zembra {

ResponseReceiver::ResponseReceiver() : cancel_(CreateWaitEvent(true, false)) {
    response_.reserve(RX_ACCUMULATOR_CAPACITY);
}

ResponseReceiver::~ResponseReceiver() {
    if (cancel_ >= 0) CloseWaitEvent(cancel_);
}

bool ResponseReceiver::Take() {
    if (!arrived_.load()) return false;
    arrived_.store(false);
    // Without the opening flag: the response code comes first.
    response_.assign(frame_.begin() + 1, frame_.begin() + static_cast<long>(frameLength_));
    return true;
}

void ResponseReceiver::HandOver() {
    std::memcpy(frame_.data(), accumulator_.data(), accumulated_);
    frameLength_ = accumulated_;
    accumulated_ = 0;
    arrived_.store(true);
}

ResponseReceiver::FeedResult ResponseReceiver::Feed(const std::uint8_t* data, std::size_t count) {
    FeedResult result;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        result.overrun = arrived_.load();
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t byte = data[i];
            if (byte != kFrameFlag) {
                if (accumulated_ == 0) {
                    ++discarded_;  // before an opening flag: no frame
                    continue;
                }
                if (accumulated_ + 1 >= RX_ACCUMULATOR_CAPACITY) {
                    // Longer than any response: dropped, and a new opening flag awaited.
                    discarded_ += accumulated_ + 1;
                    accumulated_ = 0;
                    continue;
                }
                accumulator_[accumulated_++] = byte;
                continue;
            }
            if (accumulated_ <= 1) {
                // An opening flag, or a doubled one: the frame opens at this flag.
                discarded_ += accumulated_;
                accumulator_[0] = byte;
                accumulated_ = 1;
                continue;
            }
            accumulator_[accumulated_++] = byte;
            HandOver();
            discarded_ += count - i - 1;  // the rest of this chunk is dropped
            result.completed = true;
            break;
        }
    }
    if (result.completed) cv_.notify_all();
    return result;
}

WaitResult ResponseReceiver::Wait(long long ticks, const std::function<bool()>& stopped,
                                  const std::function<bool()>& gone) {
    if (ticks <= 0) return WaitResult::NoResponse;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ticks);
    std::unique_lock<std::mutex> lock(mutex_);
    const auto done = [&] { return arrived_.load() || stopped(); };
    waiting_.store(true);
    while (!done() && !(gone && gone()) && Clock::now() < deadline)
        cv_.wait_until(
            lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(kGonePollMs)), done);
    waiting_.store(false);
    if (Take()) return WaitResult::Arrived;
    return stopped() ? WaitResult::Stopped : WaitResult::NoResponse;
}

WaitResult ResponseReceiver::WaitReading(long long ticks, const std::function<bool()>& stopped,
                                         const std::function<int(int ms)>& read) {
    if (ticks <= 0) return WaitResult::NoResponse;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ticks);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (Take()) return WaitResult::Arrived;
        }
        if (stopped()) return WaitResult::Stopped;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return WaitResult::NoResponse;
        if (read(static_cast<int>(std::min<long long>(left, kGonePollMs))) < 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            return Take() ? WaitResult::Arrived : WaitResult::NoResponse;
        }
    }
}

void ResponseReceiver::ClearArrived() {
    std::lock_guard<std::mutex> lock(mutex_);
    arrived_.store(false);
}

void ResponseReceiver::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    arrived_.store(false);
    accumulated_ = 0;
    if (cancel_ >= 0) ResetWaitEvent(cancel_);
}

void ResponseReceiver::WakeWaiter() {
    // Taken so that a Wait between its check and its sleep cannot miss the wake.
    { std::lock_guard<std::mutex> lock(mutex_); }
    cv_.notify_all();
    if (cancel_ >= 0) SignalWaitEvent(cancel_);
}

std::uint64_t ResponseReceiver::discardedBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return discarded_;
}

}  // namespace zembra
