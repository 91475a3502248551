#include "serial/Vaclasses.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "platform/Helpers.h"

namespace zembra {

namespace {
std::mutex g_handlerMutex;
TApplicationExceptionHandler g_handler;
}  // namespace

void RaiseCommError(const char* format, int errorNumber) {
    throw EVaCommError(FormatText(format, errorNumber, ErrorNumberText(errorNumber).c_str()));
}

void SetApplicationExceptionHandler(TApplicationExceptionHandler handler) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    g_handler = std::move(handler);
}

void HandleApplicationException() {
    std::exception_ptr error = std::current_exception();
    if (!error) return;
    TApplicationExceptionHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        handler = g_handler;
    }
    if (handler) {
        try {
            handler(error);
        } catch (...) {
            // The handler is the last stop: an exception out of it cannot go anywhere else.
        }
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "unknown exception\n");
    }
}

TVaComponent::~TVaComponent() {
    Destroying_();
}

void TVaComponent::Destroying_() {
    if (destroying_) return;
    destroying_ = true;
    // Each notified component removes itself from our list through RemoveFreeNotification.
    while (!freeNotifies_.empty()) {
        TVaComponent* other = freeNotifies_.back();
        freeNotifies_.pop_back();
        auto& theirs = other->freeNotifies_;
        theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
        other->Notification(this, opRemove);
    }
}

void TVaComponent::FreeNotification(TVaComponent* other) {
    if (!other || other == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end())
        freeNotifies_.push_back(other);
    if (std::find(other->freeNotifies_.begin(), other->freeNotifies_.end(), this) ==
        other->freeNotifies_.end())
        other->freeNotifies_.push_back(this);
}

void TVaComponent::RemoveFreeNotification(TVaComponent* other) {
    if (!other) return;
    freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), other),
                        freeNotifies_.end());
    other->freeNotifies_.erase(
        std::remove(other->freeNotifies_.begin(), other->freeNotifies_.end(), this),
        other->freeNotifies_.end());
}

void TVaComponent::Notification(TVaComponent*, TOperation) {}

void TVaPersistent::EndUpdate() {
    if (updateCount_ > 0) --updateCount_;
    Changed();
}

void TVaPersistent::Changed() {
    if (updateCount_ == 0 && onChange_) onChange_(owner_);
}

void TVaPersistent::SetOnChange(TVaComponent* owner, TChangeHandler handler) {
    owner_ = owner;
    onChange_ = std::move(handler);
}

}  // namespace zembra
