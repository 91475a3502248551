#include "records/RunRecorder.h"

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
                                        const std::vector<RecordImage>* images) const {
    Pending pending{{}, std::chrono::steady_clock::now()};
    DownloadRecord& record = pending.record;
    record.startUtc = UtcNowIso();
    record.station = StationName();
    record.frontEnd = frontEnd;
    record.port = port;
    record.slot = slot;
    record.link = link == Link::Usb ? "USB" : "UART";
    if (store_) {
        record.images = images ? *images : RecordImagesOf(job);
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
    if (error.empty()) return true;
    failed_ = true;
    error_(
        FormatText("the download record could not be written (the download itself is not "
                   "affected): %s",
                   error.c_str()));
    return false;
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
