#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"
#include "protocol/SingleShared.h"
#include "records/DownloadRecord.h"
#include "records/LinkTally.h"
#include "records/RecordStore.h"

namespace zembra {

// The download records of a front end: one record per phone run, appended to the records
// database after the run (never before or during it, so a database problem cannot stop or
// fail a download). A record that cannot be written is reported through the error callback
// and remembered, so that the program can say so at its end. One thread (the host's main
// thread).
class RunRecorder {
  public:
    // path: the database (empty: configuration or default; "off": no records); error gets
    // the message of a record that could not be written, and the notice of a database that
    // was removed or replaced and opened again (a whole line each).
    RunRecorder(const std::string& path, std::function<void(const std::string&)> error);

    bool enabled() const { return store_ != nullptr; }
    const std::string& path() const;

    // A record of a run about to start: the time, station, front end, port, slot, link, the
    // job's images with their hashes and ranges, and the code image's version word.
    struct Pending {
        DownloadRecord record;
        std::chrono::steady_clock::time_point started;
    };
    // images: the job's images when already listed (RecordImagesOf), else listed here
    // against the versions the run will compare (versions: see RecordImagesOf).
    Pending Begin(const DownloadJob& job, const std::string& frontEnd, const std::string& port,
                  int slot, Link link, const std::vector<RecordImage>* images = nullptr,
                  const ImageVersions* versions = nullptr) const;

    // Completes the record (end time, duration since Begin unless durationMs >= 0, counters,
    // the protocol in force) and writes it. False when it could not be written: error() got
    // the database's message.
    bool Finish(Pending& pending, LinkProtocolCode mode, const LinkTally& tally,
                std::int64_t durationMs = -1);

    // True once a record could not be written.
    bool failed() const { return failed_; }

  private:
    std::unique_ptr<RecordStore> store_;
    std::function<void(const std::string&)> error_;
    bool failed_ = false;
};

// The outcome of a single run in its record: the RunOutcome's name ("PortOpenFailed" for
// None: the port did not open), what it means, success, and the images the run marked sent.
void RecordSingleEnd(DownloadRecord& record, RunOutcome outcome,
                     const std::array<bool, ImageSlot::Count>& sent);

// The outcome of a multi slot's run in its record: "endCode N", its meaning, success, and
// which images were written (all when it finished; those before currentImage when it ended
// at an image; none when it ended before the images).
void RecordMultiSlotEnd(DownloadRecord& record, int endCode, int currentImage);

// "auto", "compressed" or "normal" of a link-and-protocol code.
const char* ProtocolTextOf(LinkProtocolCode mode);

// The link-and-protocol code after a run: the code configured, with an auto choice replaced
// by what the tally saw the engine settle on.
LinkProtocolCode SettledMode(LinkProtocolCode configured, const LinkTally& tally);

}  // namespace zembra
