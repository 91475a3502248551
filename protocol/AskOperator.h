#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

namespace zembra {

// Message-box styles and answers with the values of the Windows message box, the ones the
// window, the console and a worker's operator question speak in.
namespace mb {
inline constexpr int kOk = 0;
inline constexpr int kOkCancel = 1;
inline constexpr int kYesNo = 4;
inline constexpr int kIconStop = 0x10;
inline constexpr int kIconQuestion = 0x20;
inline constexpr int kIconWarning = 0x30;
inline constexpr int kIconInformation = 0x40;
inline constexpr int kButtonsMask = 0x0F;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
}  // namespace mb

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
    // time until answered is set, and returns answer. Returns mb::kIdCancel at once when the
    // request slot has been shut down (program end), so a worker never sleeps for ever.
    int Ask(const std::string& text, const std::string& caption, int style, int pollMs = 100);

    // Main-thread side (tick step 1): when a request is pending, clears pending first, shows
    // the box through showBox(text, caption, style), stores the pressed button and sets
    // answered. Returns true when a request was served.
    bool Serve(const std::function<int(const std::string& text, const std::string& caption,
                                       int style)>& showBox);

    bool pending() const { return pending_.load(); }

    // Refuses all further requests and releases a sleeping requester with mb::kIdCancel.
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
