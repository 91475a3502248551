#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
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
// The record's facts come from the run's events (RunEvents): the recorder is the observer
// that the front end gives its engines. Each front end begins a slot's record as its run
// starts and finishes it at its end; Begin and Finish run on the host's main thread, the
// events come on the engines' worker threads (a lock keeps each slot's facts).
//
// Finish hands the completed record to the recorder's writer thread, which alone touches the
// database: a store that is locked or slow holds up neither the window nor the console. The
// writer lives from the constructor to the destructor (only when records are kept); the
// destructor lets it write every record handed over before it ends. The error and written
// callbacks run on the writer thread.
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

    // Called on the writer thread after each record it has stored. Set before the first Finish.
    void SetWritten(std::function<void()> written) { written_ = std::move(written); }

    bool enabled() const { return store_ != nullptr; }
    const std::string& path() const;

    // Begins the record of the slot's next run and forgets what its last run told: the
    // time, station, front end, port, slot, link, the job's images with their hashes and
    // ranges (listed against the versions the run will compare, see RecordImagesOf), and the
    // code image's version word. configured: the link-and-protocol code the run starts with.
    void Begin(int slot, const DownloadJob& job, const std::string& frontEnd,
               const std::string& port, Link link, LinkProtocolCode configured,
               const ImageVersions* versions);
    // Begins the records of the named multi slots (slot n + 1 for portNames[n]; an empty name
    // takes no part), the images listed once.
    void BeginMulti(const DownloadJob& job, const std::string& frontEnd,
                    std::span<const std::string> portNames, LinkProtocolCode configured,
                    const ImageVersions& versions);

    // Completes the slot's pending record from what its run told (the outcome, the images
    // written, the counts, the protocol settled, else configured) and hands it to the writer.
    // A run that never began (its port did not open) is "PortOpenFailed", its duration
    // durationMs when given, else the time since Begin. Nothing without a pending record.
    void Finish(int slot, std::int64_t durationMs = -1);

    // Waits until every record finished so far has been written or refused (error() has had
    // its message). Returns !failed().
    bool Flush();
    // True when no finished record is still waiting to be written.
    bool Flushed() const;

    // True once a record could not be written.
    bool failed() const { return failed_.load(); }

    // RunEvents, on the engines' threads.
    void Written(int slot, std::size_t count) override;
    void Nak(int slot, std::uint8_t code) override;
    void Resent(int slot, std::uint8_t code) override;
    void LinkSettled(int slot, LinkProtocolCode mode) override;
    void VersionWord(int slot, std::uint16_t word) override;
    void ImageDone(int slot, int image) override;
    void RunFinished(int slot, const RunEnd& end) override;

  private:
    // A record of a run about to start.
    struct Pending {
        DownloadRecord record;
        std::chrono::steady_clock::time_point started;
        LinkProtocolCode configured = 0;
    };
    void BeginSlot(int slot, const DownloadJob& job, const std::string& frontEnd,
                   const std::string& port, Link link, LinkProtocolCode configured,
                   std::vector<RecordImage> images);
    // What one run told.
    struct Facts {
        std::uint64_t bytesSent = 0;
        std::uint64_t naks = 0;
        std::uint64_t retransmissions = 0;
        LinkProtocolCode mode = 0;  // 0: not settled
        std::int64_t versionWord = -1;
        std::array<bool, ImageSlot::Count> imagesDone{};
        bool finished = false;
        RunEnd end;
    };
    static void RecordOutcome(DownloadRecord& record, const Facts& facts);
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
    std::array<std::optional<Pending>, kSlots> pending_;  // main thread
};

}  // namespace zembra
