#include "records/RunRecorder.h"

#include <iterator>

#include "job/ImageChecks.h"
#include "platform/Helpers.h"
#include "platform/PortLocation.h"
#include "platform/UserFolders.h"
#include "protocol/SlotEnd.h"

namespace zembra {

namespace {

// "auto", "compressed" or "normal" of a link-and-protocol code.
const char* ProtocolTextOf(LinkProtocolCode mode) {
    switch (mode & 0xFF) {
        case 0x02:
            return "compressed";
        case 0x04:
            return "normal";
        case 0x01:
            return "auto";
        default:
            return "none";
    }
}

// What an outcome means, by its value; None: the run never began (its port did not open).
const char* OutcomeText(RunOutcome outcome) {
    static const char* const texts[] = {
        "the port could not be opened",
        "every selected image written and the reset jump sent",
        "no answer or a refusal at the first download start request",
        "version check: no answer, or the mismatch was not accepted",
        "compressed mode unavailable",
        "UART module copy or baud switch refused",
        "jump into the download module refused",
        "image file problem during the run",  // ImageFileProblem
        "erase: no answer or refused",
        "data transfer failed",
        "an image file changed during the run",
        "stopped by the operator",
        "image file problem during the run",  // ImageSkipped
        "every image sent, but the phone refused the final reset jump",
    };
    static_assert(std::size(texts) == static_cast<std::size_t>(RunOutcome::ResetRefused) + 1);
    const auto index = static_cast<std::size_t>(outcome);
    return index < std::size(texts) ? texts[index] : texts[0];
}

// The code image's version word (the 16-bit word at size - 20), or -1.
std::int64_t CodeVersionWordOf(const DownloadJob& job) {
    const std::string& path = job[ImageSlot::Code].path;
    if (path.empty()) return -1;
    const CodeTrailer trailer = ReadCodeTrailer(path);
    if (trailer.status == CodeTrailer::Status::Unreadable) return -1;
    return trailer.version;
}

}  // namespace

RunRecorder::RunRecorder(const std::string& path, std::function<void(const std::string&)> error,
                         const std::string& station)
    : error_(std::move(error)), station_(StationNameFor(station)) {
    const std::string chosen = RecordsPathFor(path);
    if (chosen.empty()) return;
    store_ = std::make_unique<RecordStore>(chosen, kWriterBusyTimeoutMs);
    writer_ = std::thread([this] { WriteQueued(); });
}

RunRecorder::~RunRecorder() {
    if (!writer_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    writer_.join();
}

const std::string& RunRecorder::path() const {
    static const std::string kNone;
    return store_ ? store_->path() : kNone;
}

void RunRecorder::SetJob(const DownloadJob& job, const std::string& frontEnd,
                         const ImageVersions* versions) {
    job_.frontEnd = frontEnd;
    job_.images = store_ ? RecordImagesOf(job, versions) : std::vector<RecordImage>{};
    job_.versionWord = store_ ? CodeVersionWordOf(job) : -1;
}

void RunRecorder::RunStarted(int slot, const std::string& port, const DownloadRun& run) {
    const LinkProtocolCode configured = run.snapshot.linkProtocol;
    Pending pending{{}, configured};
    DownloadRecord& record = pending.record;
    record.startUtc = UtcNowIso();
    record.station = station_;
    record.frontEnd = job_.frontEnd;
    record.port = port;
    record.slot = slot;
    record.location = PortLocation(port);
    record.link = (configured & 0xFF00) == (UART_NONE & 0xFF00) ? "UART" : "USB";
    record.images = job_.images;
    record.versionWord = job_.versionWord;
    std::lock_guard<std::mutex> lock(factsMutex_);
    FactsOf(slot) = Facts{};
    pending_[static_cast<std::size_t>(slot) % kSlots] = std::move(pending);
}

void RunRecorder::RunFinished(int slot, const RunEnd& end) {
    std::optional<Pending> pending;
    Facts facts;
    {
        std::lock_guard<std::mutex> lock(factsMutex_);
        pending.swap(pending_[static_cast<std::size_t>(slot) % kSlots]);
        facts = FactsOf(slot);
    }
    if (!pending) return;
    DownloadRecord record = std::move(pending->record);
    record.endUtc = UtcNowIso();
    record.durationMs = end.durationMs;
    RecordOutcome(record, end, facts);
    record.modeCode = facts.mode != 0 ? facts.mode : pending->configured;
    record.protocol = ProtocolTextOf(record.modeCode);
    if (facts.versionWord >= 0 && store_) record.versionWord = facts.versionWord;
    record.bytesSent = end.bytesSent;
    record.naks = facts.naks;
    record.retransmissions = facts.retransmissions;
    if (!store_) return;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        queue_.push_back(std::move(record));
    }
    queueChanged_.notify_all();
}

bool RunRecorder::Flush() {
    std::unique_lock<std::mutex> lock(queueMutex_);
    queueChanged_.wait(lock, [this] { return queue_.empty() && !writing_; });
    return !failed_.load();
}

bool RunRecorder::Flushed() const {
    std::lock_guard<std::mutex> lock(queueMutex_);
    return queue_.empty() && !writing_;
}

void RunRecorder::WriteQueued() {
    std::unique_lock<std::mutex> lock(queueMutex_);
    for (;;) {
        queueChanged_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, and everything written
        DownloadRecord record = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        lock.unlock();
        Write(record);
        lock.lock();
        writing_ = false;
        queueChanged_.notify_all();
    }
}

void RunRecorder::Write(DownloadRecord& record) {
    const std::string error = store_->Append(record);
    if (const std::string notice = store_->TakeNotice(); !notice.empty())
        error_("the records database " + notice);
    if (error.empty()) {
        if (written_) written_();
        return;
    }
    failed_ = true;
    error_(
        FormatText("the download record could not be written (the download itself is not "
                   "affected): %s",
                   error.c_str()));
}

// The outcome: a multi slot's by its endCode, the single engine's by its RunOutcome; a run
// that never began did not get its port open. The images written are those the run finished.
void RunRecorder::RecordOutcome(DownloadRecord& record, const RunEnd& end, const Facts& facts) {
    if (end.endCode >= 0) {
        record.outcome = FormatText("endCode %d", end.endCode);
        record.outcomeCode = end.endCode;
        record.outcomeText = EndCodeMeaning(end.endCode);
        record.succeeded = end.endCode == END_FINISHED;
    } else {
        const RunOutcome outcome = end.outcome;
        record.outcome = outcome == RunOutcome::None ? "PortOpenFailed" : RunOutcomeName(outcome);
        record.outcomeCode = static_cast<int>(outcome);
        record.outcomeText = OutcomeText(outcome);
        record.succeeded = outcome == RunOutcome::Completed;
    }
    for (RecordImage& image : record.images)
        image.written = facts.imagesDone[static_cast<std::size_t>(image.slot) % ImageSlot::Count];
}

// ---- events ------------------------------------------------------------------------------

void RunRecorder::Nak(int slot, std::uint8_t) {
    std::lock_guard<std::mutex> lock(factsMutex_);
    ++FactsOf(slot).naks;
}

void RunRecorder::Resent(int slot, std::uint8_t) {
    std::lock_guard<std::mutex> lock(factsMutex_);
    ++FactsOf(slot).retransmissions;
}

void RunRecorder::LinkSettled(int slot, LinkProtocolCode mode) {
    std::lock_guard<std::mutex> lock(factsMutex_);
    FactsOf(slot).mode = mode;
}

void RunRecorder::VersionWord(int slot, std::uint16_t word) {
    std::lock_guard<std::mutex> lock(factsMutex_);
    FactsOf(slot).versionWord = word;
}

void RunRecorder::ImageMark(int slot, SequenceMark mark, int image) {
    if (mark != SequenceMark::ImageDone) return;
    std::lock_guard<std::mutex> lock(factsMutex_);
    FactsOf(slot).imagesDone[static_cast<std::size_t>(image) % ImageSlot::Count] = true;
}

}  // namespace zembra
