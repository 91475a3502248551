#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

namespace zembra {

// Message-box styles and answers (the values of the Windows message box).
inline constexpr int MB_OK_CANCEL = 1;
inline constexpr int ID_OK = 1;
inline constexpr int ID_CANCEL = 2;

// The one request slot through which a worker thread asks the main thread for an operator
// decision. The worker fills it and sleeps; the main thread's periodic tick serves it
// (ServeAskOperator) by showing a message box and storing the answer.
//
// Threads: exactly one requester (a worker) and the main thread. text/caption/buttons are
// written by the requester before it sets pending and read by the server after it has seen
// pending; answer is written by the server before it sets answered. The mutex only guards the
// strings' hand-over; the flags are atomics.
class AskOperatorRequest {
  public:
    // Worker side: stores the request, clears answered, sets pending, then sleeps pollMs at a
    // time until answered is set, and returns answer. Returns ID_CANCEL at once when the
    // request slot has been shut down (program end), so a worker never sleeps for ever.
    int Ask(const std::string& text, const std::string& caption, int style, int pollMs = 100);

    // Main-thread side (tick step 1): when a request is pending, clears pending first, shows
    // the box through showBox(text, caption, style), stores the pressed button and sets
    // answered. Returns true when a request was served.
    bool Serve(const std::function<int(const std::string& text, const std::string& caption,
                                       int style)>& showBox);

    bool pending() const { return pending_.load(); }

    // Refuses all further requests and releases a sleeping requester with ID_CANCEL.
    void Shutdown() { shutDown_.store(true); }

  private:
    std::mutex mutex_;
    std::string text_;
    std::string caption_;
    int buttons_ = 0;
    int answer_ = 0;
    std::atomic<bool> pending_{false};
    std::atomic<bool> answered_{false};
    std::atomic<bool> shutDown_{false};
};

}  // namespace zembra
