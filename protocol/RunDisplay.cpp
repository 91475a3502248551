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

RunDisplay::RunDisplay(MainThread& mainThread, RunView& host,
                       std::function<std::string(int slot)> slotPort)
    : mainThread_(mainThread), host_(host), slotPort_(std::move(slotPort)) {}

void RunDisplay::RunStarted(int slot, const std::string&, const DownloadRun&) {
    if (!IsMultiSlot(slot)) return;
    SlotFields& fields = Fields(slot);
    fields.image.store(0);
    fields.percent.store(0);
    fields.erasing.store(0);
    fields.endCode.store(0);
    fields.active.store(true);
    fields.started.store(true);
    leaderShown_ = -1;
    SlotChanged(slot);
}

MultiSlotView RunDisplay::SlotView(int index) const {
    const SlotFields& fields = slots_[static_cast<std::size_t>(index) % MULTI_SLOT_COUNT];
    MultiSlotView view;
    view.hasWorker = fields.started.load();
    view.active = fields.active.load();
    view.percent = fields.percent.load();
    view.currentImage = fields.image.load();
    view.erasing = fields.erasing.load();
    view.endCode = fields.endCode.load();
    view.statusText = SlotStatusText(SlotStatusCode(view.currentImage, view.erasing, view.endCode));
    return view;
}

void RunDisplay::SlotChanged(int slot) {
    SlotFields& fields = Fields(slot);
    if (!fields.started.load() || fields.drawPosted.exchange(true)) return;
    mainThread_.Post([this, alive = std::weak_ptr<char>(lifeToken_), index = slot - 1] {
        if (!alive.expired()) DrawSlot(index);
    });
}

void RunDisplay::DrawSlot(int index) {
    // Cleared before the state is read: a change from now on posts a draw of its own.
    slots_[static_cast<std::size_t>(index)].drawPosted.store(false);
    const MultiSlotView view = SlotView(index);
    if (!view.hasWorker) return;
    host_.ShowSlot(index, view);
    std::array<MultiSlotView, MULTI_SLOT_COUNT> views;
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot)
        views[static_cast<std::size_t>(slot)] = slot == index ? view : SlotView(slot);
    const int leader = LeaderSlot(views);
    if (leader < 0) return;
    const MultiSlotView& lead = views[static_cast<std::size_t>(leader)];
    const int shown = leader * 100000 + lead.currentImage * 1000 + lead.percent;
    if (shown == leaderShown_) return;
    leaderShown_ = shown;
    host_.ShowLeader(lead);
}

void RunDisplay::Line(int slot, const std::string& text, std::uint32_t colour) {
    mainThread_.RunAndWait([&] {
        if (slot == 0) {
            host_.AppendLine(LogPane::Front, text, colour);
        } else if (slot == MULTI_DOWNLOAD_LINES) {
            host_.AppendLine(LogPane::Multi, text, colour);
        } else {
            const std::string port = slotPort_ ? slotPort_(slot) : std::string();
            const std::string line = CutText(text, kMultiLineLimit);
            host_.AppendLine(LogPane::Multi, FormatText("%s:%s", port.c_str(), line.c_str()),
                             colour);
        }
    });
}

void RunDisplay::Progress(int slot, std::int64_t offset, std::int64_t, int percent) {
    if (IsMultiSlot(slot)) {
        std::atomic<int>& shown = Fields(slot).percent;
        if (shown.load(std::memory_order_relaxed) == percent) return;
        shown.store(percent);
        SlotChanged(slot);
        return;
    }
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
    if (IsMultiSlot(slot)) {
        SlotFields& fields = Fields(slot);
        if (mark == SequenceMark::ImageStarted) {
            fields.percent.store(0);
            fields.image.store(image);
            fields.erasing.store(1);
        } else if (mark == SequenceMark::EraseEnded) {
            fields.erasing.store(0);
        } else if (mark == SequenceMark::ImageDone) {
            fields.percent.store(100);
        } else {
            return;
        }
        SlotChanged(slot);
        return;
    }
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
    if (IsMultiSlot(slot)) {
        SlotFields& fields = Fields(slot);
        fields.active.store(false);
        // A slot whose port did not open has no row to show.
        if (end.endCode < 0)
            fields.started.store(false);
        else
            fields.endCode.store(end.endCode);
    }
    mainThread_.RunAndWait([&] {
        if (IsMultiSlot(slot)) DrawSlot(slot - 1);
        if (slot == 0) {
            for (int image = 0; image < ImageSlot::Count; ++image) host_.SetMarker(image, NOT_SENT);
            host_.SetTitle(TITLE_IDLE);
            host_.SetAddressText("");
        }
        host_.RunEnded(slot, end);
    });
}

}  // namespace zembra
