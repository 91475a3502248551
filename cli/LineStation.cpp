#include "cli/LineStation.h"

#include "platform/Helpers.h"
#include "records/ServerStore.h"

namespace zembra {

StationLineSender::StationLineSender(const std::string& localPath, const std::string& serverOption,
                                     std::function<void(const std::string&)> print)
    : print_(std::move(print)) {
    const std::string server = RecordsServerFor(serverOption);
    if (server.empty()) return;
    if (localPath.empty()) {
        print_("station: the line server is not used: records are switched off");
        return;
    }
    LineSenderConfig config;
    config.localPath = localPath;
    config.server = server;
    sender_ = std::make_unique<LineSender>(config);
    print_("station: records go to line server " + sender_->server() +
           " (kept here until it has them)");
    sender_->Start();
}

StationLineSender::~StationLineSender() {
    if (sender_) sender_->Stop();
}

void StationLineSender::Poll() {
    if (!sender_) return;
    const LineSenderStatus status = sender_->Status();
    if (status.waiting < 0 || (status.waiting == shown_.waiting && status.error == shown_.error))
        return;
    shown_ = status;
    print_("station: " + LineStatusText(sender_->server(), status));
}

void StationLineSender::RecordWritten() {
    if (sender_) sender_->Wake();
}

std::string StationLineSender::SummaryText() const {
    if (!sender_) return {};
    const LineSenderStatus status = sender_->Status();
    return status.waiting < 0
               ? ", records for the line server not counted yet"
               : FormatText(", %lld record%s waiting for the line server",
                            static_cast<long long>(status.waiting), status.waiting == 1 ? "" : "s");
}

}  // namespace zembra
