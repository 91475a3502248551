#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/DownloadRecord.h"

struct sqlite3;

namespace zembra {

// What of a station's local records database the line server has acknowledged. It lives in
// the database itself (table line_outbox): the store's own id, made once at random, and the
// highest local record id the server has committed. Records are sent oldest first, and the
// database gives ids in commit order, so every record above that mark waits to be sent.
//
// The mark only moves after the server's commit: a sender that dies in between sends the
// batch again, and the server, which knows records by store id and local id, keeps one copy.
//
// Threads: one object per thread.
class LineOutbox {
  public:
    explicit LineOutbox(std::string path);
    ~LineOutbox();
    LineOutbox(const LineOutbox&) = delete;
    LineOutbox& operator=(const LineOutbox&) = delete;

    // The number of records waiting to be sent (0 while the database does not exist yet).
    // Returns an error text, empty on success.
    std::string Waiting(std::int64_t& count);

    // The oldest records waiting, at most limit, and the store's id.
    std::string Next(int limit, std::vector<DownloadRecord>& out, std::string& storeUid);

    // The server has committed every record up to this local id.
    std::string MarkSent(std::int64_t throughId);

  private:
    std::string Open();
    void Close();

    std::string path_;
    sqlite3* db_ = nullptr;
    std::string storeUid_;
    std::int64_t sentThrough_ = 0;
    unsigned long long inode_ = 0;  // the file the connection has open
    unsigned long long device_ = 0;
};

}  // namespace zembra
