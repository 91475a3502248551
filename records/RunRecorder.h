#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"
#include "protocol/RunEvents.h"
#include "records/DownloadRecord.h"
#include "records/RecordStore.h"

namespace zembra {

// The download records of a front end: one record per phone run, appended to the records
// database after the run (never before or during it, so a database problem cannot stop or
// fail a download). A record that cannot be written is reported through the error callback
// and remembered, so that the program can say so at its end.
//
// The recorder is an observer of the runs (RunEvents) and owns their records: the front end
// tells it the job of the runs to come (SetJob, before the Start), each run's record begins at
// its RunStarted and is handed to the writer at its RunFinished, on the thread that tells it
// (a lock keeps each slot's facts).
//
// The writer thread alone touches the database: a store that is locked or slow holds up
// neither the window nor the console nor the engines. The writer lives from the constructor
// to the destructor (only when records are kept); the destructor lets it write every record
// handed over before it ends. The error and written callbacks run on the writer thread.
class RunRecorder : public RunEvents {
  public:
    // Slots of the runs a recorder follows: 0 the single engine, 1-8 the multi slots.
    static constexpr int kSlots = 9;

    // path: the database (empty: configuration or default; "off": no records); error gets
    // the message of a record that could not be written, and the notice of a database that
    // was removed or replaced and opened again (a whole line each); station: the name the
    // records carry (empty: StationNameFor's default).
    RunRecorder(const std::string& path, std::function<void(const std::string&)> error,
                const std::string& station = {});
    ~RunRecorder() override;
    RunRecorder(const RunRecorder&) = delete;
    RunRecorder& operator=(const RunRecorder&) = delete;

    // How long the writer waits for a database that another connection holds locked before
    // the record counts as not written. Nobody waits on the writer, so it can wait long.
    static constexpr int kWriterBusyTimeoutMs = 60000;

    // Called on the writer thread after each record it has stored. Set before the first run.
    void SetWritten(std::function<void()> written) { written_ = std::move(written); }

    bool enabled() const { return store_ != nullptr; }
    const std::string& path() const;

    // The job of the runs to come, on the main thread before their Start: its images with
    // their hashes and ranges (listed against the versions the runs will compare, see
    // RecordImagesOf), the code image's version word, and the front end the records name.
    void SetJob(const DownloadJob& job, const std::string& frontEnd, const ImageVersions* versions);

    // Waits until every record finished so far has been written or refused (error() has had
    // its message). Returns !failed().
    bool Flush();
    // True when no finished record is still waiting to be written.
    bool Flushed() const;

    // True once a record could not be written.
    bool failed() const { return failed_.load(); }

    // RunEvents, on the engines' threads (RunStarted on the host's main thread). RunStarted
    // begins the slot's record and forgets what its last run told; RunFinished completes it
    // from what the run told (the outcome, the images written, the counts, the protocol
    // settled, else the one it started with) and hands it to the writer. A run that ended
    // before it began (its port did not open) is "PortOpenFailed".
    void RunStarted(int slot, const std::string& port, const DownloadRun& run) override;
    void Nak(int slot, std::uint8_t code) override;
    void Resent(int slot, std::uint8_t code) override;
    void LinkSettled(int slot, LinkProtocolCode mode) override;
    void VersionWord(int slot, std::uint16_t word) override;
    void ImageMark(int slot, SequenceMark mark, int image) override;
    void RunFinished(int slot, const RunEnd& end) override;

  private:
    // The record of a run that has started.
    struct Pending {
        DownloadRecord record;
        LinkProtocolCode configured = 0;
    };
    // The job of the runs to come (SetJob).
    struct Job {
        std::string frontEnd;
        std::vector<RecordImage> images;
        std::int64_t versionWord = -1;
    };
    // What one run told.
    struct Facts {
        std::uint64_t naks = 0;
        std::uint64_t retransmissions = 0;
        LinkProtocolCode mode = 0;  // 0: not settled
        std::int64_t versionWord = -1;
        std::array<bool, ImageSlot::Count> imagesDone{};
    };
    static void RecordOutcome(DownloadRecord& record, const RunEnd& end, const Facts& facts);
    // The slot's facts (the lock held).
    Facts& FactsOf(int slot) { return facts_[static_cast<std::size_t>(slot) % kSlots]; }

    // The writer thread: writes the queued records in order until told to stop with an empty
    // queue.
    void WriteQueued();
    void Write(DownloadRecord& record);

    std::unique_ptr<RecordStore> store_;  // the writer thread's once it runs
    std::function<void(const std::string&)> error_;
    std::function<void()> written_;
    std::string station_;
    std::atomic<bool> failed_{false};
    mutable std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<DownloadRecord> queue_;  // finished, not yet written
    bool writing_ = false;              // the writer holds a record taken from the queue
    bool stopping_ = false;
    std::thread writer_;
    std::mutex factsMutex_;
    std::array<Facts, kSlots> facts_{};
    Job job_;                                             // main thread
    std::array<std::optional<Pending>, kSlots> pending_;  // guarded by factsMutex_
};

}  // namespace zembra
