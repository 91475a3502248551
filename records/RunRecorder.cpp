#include "records/RunRecorder.h"

#include "multi/MSBDLU.h"
#include "multi/SlotStatus.h"
#include "platform/Helpers.h"

namespace zembra {

RunRecorder::RunRecorder(const std::string& path, std::function<void(const std::string&)> error)
    : error_(std::move(error)) {
    const std::string chosen = RecordsPathFor(path);
    if (!chosen.empty()) store_ = std::make_unique<RecordStore>(chosen);
}

const std::string& RunRecorder::path() const {
    static const std::string kNone;
    return store_ ? store_->path() : kNone;
}

RunRecorder::Pending RunRecorder::Begin(const DownloadJob& job, const std::string& frontEnd,
                                        const std::string& port, int slot, Link link,
                                        const std::vector<RecordImage>* images,
                                        const ImageVersions* versions) const {
    Pending pending{{}, std::chrono::steady_clock::now()};
    DownloadRecord& record = pending.record;
    record.startUtc = UtcNowIso();
    record.station = StationName();
    record.frontEnd = frontEnd;
    record.port = port;
    record.slot = slot;
    record.link = link == Link::Usb ? "USB" : "UART";
    if (store_) {
        record.images = images ? *images : RecordImagesOf(job, versions);
        record.versionWord = CodeVersionWordOf(job);
    }
    return pending;
}

bool RunRecorder::Finish(Pending& pending, LinkProtocolCode mode, const LinkTally& tally,
                         std::int64_t durationMs) {
    DownloadRecord& record = pending.record;
    record.endUtc = UtcNowIso();
    record.durationMs = durationMs >= 0 ? durationMs
                                        : std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - pending.started)
                                              .count();
    record.modeCode = mode;
    record.protocol = ProtocolTextOf(mode);
    record.bytesSent = tally.bytesSent();
    record.naks = tally.naks();
    record.retransmissions = tally.retransmissions();
    if (!store_) return true;
    const std::string error = store_->Append(record);
    if (const std::string notice = store_->TakeNotice(); !notice.empty())
        error_("the records database " + notice);
    if (error.empty()) return true;
    failed_ = true;
    error_(
        FormatText("the download record could not be written (the download itself is not "
                   "affected): %s",
                   error.c_str()));
    return false;
}

namespace {

const char* OutcomeText(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Completed:
            return "every selected image written and the reset jump sent";
        case RunOutcome::NoStartAnswer:
            return "no answer or a refusal at the first download start request";
        case RunOutcome::VersionRefused:
            return "version check: no answer, or the mismatch was not accepted";
        case RunOutcome::CompressionFailed:
            return "compressed mode unavailable";
        case RunOutcome::UartSetupFailed:
            return "UART module copy or baud switch refused";
        case RunOutcome::JumpFailed:
            return "jump into the download module refused";
        case RunOutcome::ImageFileProblem:
        case RunOutcome::ImageSkipped:
            return "image file problem during the run";
        case RunOutcome::EraseFailed:
            return "erase: no answer or refused";
        case RunOutcome::TransferFailed:
            return "data transfer failed";
        case RunOutcome::FileReadError:
            return "an image file changed during the run";
        case RunOutcome::Stopped:
            return "stopped by the operator";
        case RunOutcome::ResetRefused:
            return "every image sent, but the phone refused the final reset jump";
        case RunOutcome::None:
            break;
    }
    return "the port could not be opened";
}

}  // namespace

void RecordSingleEnd(DownloadRecord& record, RunOutcome outcome,
                     const std::array<bool, ImageSlot::Count>& sent) {
    record.outcome = outcome == RunOutcome::None ? "PortOpenFailed" : RunOutcomeName(outcome);
    record.outcomeCode = static_cast<int>(outcome);
    record.outcomeText = OutcomeText(outcome);
    record.succeeded = outcome == RunOutcome::Completed;
    for (RecordImage& image : record.images)
        image.written = sent[static_cast<std::size_t>(image.slot) % sent.size()];
}

void RecordMultiSlotEnd(DownloadRecord& record, int endCode, int currentImage) {
    record.outcome = FormatText("endCode %d", endCode);
    record.outcomeCode = endCode;
    record.outcomeText = EndCodeMeaning(endCode);
    record.succeeded = endCode == END_FINISHED;
    // Image, erase and transfer failures and a stop happen at currentImage: the images
    // before it were written.
    const bool reachedImages = endCode >= END_IMAGE_CHECK_FAILED;
    const bool allSent = record.succeeded || endCode == END_RESET_REFUSED;
    for (RecordImage& image : record.images)
        image.written = allSent || (reachedImages && image.slot < currentImage);
}

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

LinkProtocolCode SettledMode(LinkProtocolCode configured, const LinkTally& tally) {
    if ((configured & 0xFF) != 0x01 || tally.settled() == ProtocolChoice::Auto) return configured;
    const LinkProtocolCode link = configured & 0xFF00;
    return static_cast<LinkProtocolCode>(link |
                                         (tally.settled() == ProtocolChoice::Press ? 0x02 : 0x04));
}

}  // namespace zembra
