#include "protocol/AskOperator.h"

#include <chrono>
#include <thread>

namespace zembra {

int AskOperatorRequest::Ask(const std::string& text, const std::string& caption, int style,
                            int pollMs) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        text_ = text;
        caption_ = caption;
        buttons_ = style;
    }
    answered_.store(false);
    pending_.store(true);
    while (!answered_.load()) {
        if (shutDown_.load()) return mb::kIdCancel;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs > 0 ? pollMs : 1));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return answer_;
}

bool AskOperatorRequest::Serve(
    const std::function<int(const std::string&, const std::string&, int)>& showBox) {
    if (!pending_.load()) return false;
    pending_.store(false);  // a tick that runs while the box is open shows no second one
    std::string text;
    std::string caption;
    int style;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        text = text_;
        caption = caption_;
        style = buttons_;
    }
    const int answer = showBox(text, caption, style);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        answer_ = answer;
    }
    answered_.store(true);
    return true;
}

}  // namespace zembra
