#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "job/DownloadJob.h"

namespace zembra {

// One image a run was to send: where it came from, what it holds and where it goes.
struct RecordImage {
    int slot = 0;                  // ImageSlot index (0 code, 1-6 fonts)
    std::string fileName;          // the file's name without its folder
    std::int64_t size = 0;         // bytes of the file
    std::string sha256;            // 64 lower-case hexadecimal digits of the whole file
    std::uint64_t flashStart = 0;  // first flash address written
    std::uint64_t flashEnd = 0;    // last flash address written (inclusive)
    bool written = false;          // the run sent the image to its end
};

// One run of one phone, as the records database keeps it.
struct DownloadRecord {
    std::int64_t id = 0;   // row id, given by the database
    std::string startUtc;  // ISO 8601, UTC: "2026-12-07T11:20:33.123Z"
    std::string endUtc;
    std::string station;   // host name
    std::string frontEnd;  // "zembra-cli", "zembra-cli --multi", "zembra-cli --station", "zembra"
    std::string port;      // port name or device path as the operator gave it
    int slot = 0;          // multi slot 1-8; 0 in single mode
    std::string link;      // "USB" or "UART"
    std::string protocol;  // "compressed", "normal", or "auto" when the run ended before it settled
    int modeCode = 0;      // the link-and-protocol code in force at the end (0x101 ...)
    std::vector<RecordImage> images;
    std::int64_t versionWord = -1;  // the code image's version word; -1 without a code image
    std::string outcome;            // "Completed", "TransferFailed" ... or "endCode 1" ...
    int outcomeCode = 0;            // the RunOutcome value or the endCode
    std::string outcomeText;        // what the outcome means, for the operator
    bool succeeded = false;         // every image written and the reset jump sent
    std::uint64_t bytesSent = 0;    // bytes written to the port
    std::uint64_t naks = 0;         // negative answers received
    std::uint64_t retransmissions = 0;
    std::int64_t durationMs = 0;
    // The run's own identity, 32 hexadecimal digits of random bits given when it is written:
    // what the line server knows it by, whatever file or computer it comes from.
    std::string runUid;
    // The USB port the phone was plugged into (platform/PortLocation.h: "1-1.4"); empty when
    // the port has none or the record is older than the column.
    std::string location;
};

// Calls visit on each field of a record but its id and images, in the order of the records
// databases' columns (start_utc ... duration_ms, run_uid, location): the stores write and read a
// record through it.
template <class Record, class Visit>
void ForEachRecordField(Record& r, Visit&& visit) {
    visit(r.startUtc);
    visit(r.endUtc);
    visit(r.station);
    visit(r.frontEnd);
    visit(r.port);
    visit(r.slot);
    visit(r.link);
    visit(r.protocol);
    visit(r.modeCode);
    visit(r.versionWord);
    visit(r.outcome);
    visit(r.outcomeCode);
    visit(r.outcomeText);
    visit(r.succeeded);
    visit(r.bytesSent);
    visit(r.naks);
    visit(r.retransmissions);
    visit(r.durationMs);
    visit(r.runUid);
    visit(r.location);
}

// A new identity: 128 random bits from the system as 32 hexadecimal digits; empty when the
// system gave none.
std::string NewRandomUid();

// Now as ISO 8601 UTC with milliseconds.
std::string UtcNowIso();

// The images of a job as a record lists them, from the files as they are now: every selected
// image whose file can be read, with its size, SHA-256 and planned flash range (written
// false). A code image without a valid trailer is listed with the range of its whole file.
// With versions taken, an image that is no longer the version noted gets no SHA-256: the
// run will not send it, and the record must not name bytes that were not sent.
std::vector<RecordImage> RecordImagesOf(const DownloadJob& job,
                                        const ImageVersions* versions = nullptr);

}  // namespace zembra
