// The Windows build has no line server (Debian has no PostgreSQL client library for
// mingw-w64): every call says so, and the records stay in the local database.
#include "records/LineSender.h"
#include "records/ServerStore.h"

namespace zembra {

namespace {

const char kNotInThisBuild[] = "the line server is not part of this build";

}  // namespace

std::string ServerDescription(const std::string&) {
    return "(none)";
}

// Without the client library, a plain look at the text: enough for a warning.
bool ConninfoHasPassword(const std::string& conninfo) {
    const std::size_t scheme = conninfo.find("://");
    if (scheme != std::string::npos) {
        const std::string authority =
            conninfo.substr(scheme + 3, conninfo.find_first_of("/?", scheme + 3) - scheme - 3);
        const std::size_t at = authority.rfind('@');
        if (at != std::string::npos && authority.substr(0, at).find(':') != std::string::npos)
            return true;
    }
    return conninfo.find("password=") != std::string::npos;
}

ServerStore::ServerStore(std::string conninfo, std::function<bool()> stopped)
    : conninfo_(std::move(conninfo)), stopped_(std::move(stopped)) {}
ServerStore::~ServerStore() = default;
std::string ServerStore::Open() {
    return kNotInThisBuild;
}
std::string ServerStore::Push(const std::string&, const std::vector<DownloadRecord>&) {
    return kNotInThisBuild;
}
std::string ServerStore::Query(const RecordFilter&, std::vector<DownloadRecord>& out) {
    out.clear();
    return kNotInThisBuild;
}

LineSender::LineSender(LineSenderConfig config) : config_(std::move(config)) {}
LineSender::~LineSender() = default;
void LineSender::Start() {
    status_.error = kNotInThisBuild;
}
void LineSender::Stop() {}
void LineSender::Wake() {}
LineSenderStatus LineSender::Status() const {
    return status_;
}

LineSenderStatus SendWaitingRecords(const LineSenderConfig&) {
    LineSenderStatus status;
    status.error = kNotInThisBuild;
    return status;
}

std::string LineStatusText(const std::string& server, const LineSenderStatus& status) {
    return "line server " + server + ": " + status.error;
}

}  // namespace zembra
