#include "protocol/RunDisplay.h"

#include "job/ImageSlot.h"
#include "platform/Helpers.h"
#include "platform/MainThread.h"

namespace zembra {

namespace {

constexpr std::size_t kMultiLineLimit = 500;  // characters of a multi slot's log line

// Cuts a UTF-8 text to at most limit characters (not bytes: a Korean character takes three).
std::string CutText(const std::string& text, std::size_t limit) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // continuation
        if (characters++ == limit) return text.substr(0, i);
    }
    return text;
}

}  // namespace

std::string ProgressTitle(int percent) {
    return FormatText("%d%% Zembra 4", percent);
}

RunDisplay::RunDisplay(MainThread& mainThread, DownloadHost& host,
                       std::function<std::string(int slot)> slotPort)
    : mainThread_(mainThread), host_(host), slotPort_(std::move(slotPort)) {}

void RunDisplay::Line(int slot, const std::string& text, std::uint32_t colour) {
    mainThread_.RunAndWait([&] {
        if (slot == 0) {
            host_.LogSingle(text, colour);
        } else if (slot == MULTI_DOWNLOAD_LINES) {
            host_.LogMulti(text, colour);
        } else {
            const std::string port = slotPort_ ? slotPort_(slot) : std::string();
            const std::string line = CutText(text, kMultiLineLimit);
            host_.LogMulti(FormatText("%s:%s", port.c_str(), line.c_str()), colour);
        }
    });
}

void RunDisplay::Progress(int slot, std::int64_t offset, std::int64_t, int percent) {
    // A multi slot's progress is read by the status tick.
    if (slot != 0) return;
    // Only changes are shown, and a new offset alone at most every kProgressIntervalMs (a
    // fast link changes it every packet).
    const bool percentChanged = !progressShown_ || percent != lastPercent_;
    if (!percentChanged && offset == lastOffset_) return;
    const double now = NowMs();
    if (!percentChanged && now - lastProgressPostMs_ < kProgressIntervalMs) return;
    progressShown_ = true;
    lastPercent_ = percent;
    lastOffset_ = offset;
    lastProgressPostMs_ = now;
    mainThread_.Post([this, alive = std::weak_ptr<char>(lifeToken_), percent, offset] {
        if (!alive.expired()) ShowProgress(percent, offset);
    });
}

void RunDisplay::ShowProgress(int percent, std::int64_t offset) {
    host_.SetGauge(percent);
    host_.SetTitle(ProgressTitle(percent));
    host_.SetAddressText(FormatText("0x%08X", static_cast<std::uint32_t>(offset)));
}

void RunDisplay::ImageMark(int slot, SequenceMark mark, int image) {
    if (slot != 0) return;
    if (mark == SequenceMark::ImageStarted) {
        progressShown_ = false;
        mainThread_.RunAndWait([&] {
            host_.SetGauge(0);
            host_.SetMarker(image, SENDING);
            host_.SetTitle(TITLE_ERASE);
            host_.SetAddressText("");
        });
    }
    if (mark != SequenceMark::ImageDone) return;
    mainThread_.RunAndWait([&] {
        host_.SetGauge(100);
        host_.SetMarker(image, SENT);
        host_.SetTitle(TITLE_IDLE);
        host_.SetAddressText("");
    });
}

void RunDisplay::RunFinished(int slot, const RunEnd& end) {
    mainThread_.RunAndWait([&] {
        if (slot == 0) {
            for (int image = 0; image < ImageSlot::Count; ++image) host_.SetMarker(image, NOT_SENT);
            host_.SetTitle(TITLE_IDLE);
            host_.SetAddressText("");
        }
        host_.RunEnded(slot, end);
    });
}

}  // namespace zembra
