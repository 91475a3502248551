#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "job/DownloadJob.h"
#include "job/ImageSlot.h"
#include "job/StartSnapshot.h"
#include "protocol/SequenceHost.h"

namespace zembra {

struct RunReport;

// How a run of the download sequence ended; the command line maps it to its exit status.
enum class RunOutcome : int {
    None = 0,           // no run has ended yet
    Completed,          // every selected image written and the reset jump sent
    NoStartAnswer,      // first download start request: no answer or a negative one
    VersionRefused,     // version check: no answer, or mismatch not accepted
    CompressionFailed,  // compressor check failed, compressed mode refused, no mode chosen
    UartSetupFailed,    // module copy or baud switch refused
    JumpFailed,         // jump into the download module or second start request refused
    ImageFileProblem,   // code file missing, invalid version/boot word, size rule
    EraseFailed,        // erase: no answer or refused
    TransferFailed,     // block transfer: no answer, too many NAKs or echo failures
    FileReadError,      // an image file changed under the run (shrank, read error)
    Stopped,            // the operator's stop request ended the run
    ImageSkipped,       // the run went to its end, but a selected image file did not open
    ResetRefused,       // every image sent, but the phone answered the reset jump negatively
};

// Name of a run outcome for logs and messages ("Completed", "EraseFailed" ...).
const char* RunOutcomeName(RunOutcome outcome);

// Elapsed time "%02d분 %02d초" of whole milliseconds since startMs (minutes not capped).
std::string ElapsedText(double nowMs, double startMs);

// The steps of the sequence, in order; a run that fails ends in the step that failed.
enum class SequenceStep {
    Start,       // first download start request
    Version,     // version check (with the code file's trailer)
    Mode,        // mode negotiation and the compressor check
    Module,      // UART set-up, jump into the download module, second start request
    ImageCheck,  // an image's file checks (and a selected image that did not open)
    Erase,
    Transfer,
    Reset,  // after the last image: the reset jump
};

// The job of one run: the image paths by slot (empty: not selected), the Start values and
// the versions of the files that the Start checked (an image that is no longer that file at
// its turn, or after it was sent, ends the run as FileReadError).
struct DownloadRun {
    std::array<std::string, ImageSlot::Count> paths{};
    StartSnapshot snapshot;
    ImageVersions versions;
};

// The run of a job's image paths with the Start values (the single and the multi Start) and
// the image versions noted by the Start (taken now when versions is null).
DownloadRun RunOfJob(const DownloadJob& job, const StartSnapshot& snapshot,
                     const ImageVersions* versions = nullptr);

// Where the single engine and a multi worker follow different rules on purpose; the single
// engine's are the defaults.
struct SequenceRules {
    // What a negative answer to the version check does.
    enum class VersionMismatch {
        AskOperator,  // single: the operator decides (OK goes on)
        Refuse,       // multi with the version check on: the run ends
        Continue,     // multi with the version check off: the run goes on
    };
    VersionMismatch versionMismatch = VersionMismatch::AskOperator;
    // Multi: USB modes only, and no protocol chosen sends nothing. Single: no protocol
    // chosen means the plain protocol of the link; UART links have their set-up steps.
    bool usbOnly = false;
    // Multi: a stop seen between two images still sends the reset jump and logs the time
    // (the slot then ends as stopped); single: the run ends at once.
    bool resetJumpAfterStop = false;
    // Multi: a stop is looked at before every packet written, resends included, and the
    // transfer's stop line tells the operator to unplug the cable.
    bool multiStopLines = false;
};

SequenceRules MultiWorkerRules(bool versionCheck);

struct SequenceEnd {
    RunOutcome outcome = RunOutcome::None;
    SequenceStep step = SequenceStep::Start;  // where it ended
};

// The download sequence from the first start request to the reset jump, for one phone,
// over a SequenceHost. Runs on the host's worker thread; keeps no state between runs.
// What happens is told to the run's observer (RunEvents.h) as it happens.
class DownloadSequence {
  public:
    DownloadSequence(SequenceHost& host, const DownloadRun& run, const SequenceRules& rules,
                     const RunReport& report);

    SequenceEnd Run();

  private:
    RunOutcome RequestStart();
    RunOutcome CheckVersion();
    RunOutcome SelectMode();
    RunOutcome EnterDownloadModule();
    RunOutcome SendImages();
    RunOutcome SendImage(int slot, std::FILE* file);
    RunOutcome CheckImage(int slot, std::FILE* file, std::int64_t& size, std::uint32_t& boot);
    RunOutcome EraseRange(std::uint32_t address, std::uint32_t length, std::int64_t size);
    RunOutcome WriteImage(std::FILE* file, std::int64_t startOffset, std::int64_t size,
                          std::uint32_t address);
    // ResetRefused when the phone answers the jump negatively; None otherwise (also without
    // an answer: the jump may reset the phone before it can answer).
    RunOutcome ResetJump();

    // Sends a command and waits normalResponseWaitMs (or ticks).
    WaitResult SendAndWait(std::initializer_list<std::uint8_t> command);
    WaitResult SendAndWait(const std::uint8_t* command, std::size_t length, long long ticks);
    bool Acked(WaitResult wait) const;
    // Stopped after a stop, else failure.
    static RunOutcome Failed(WaitResult wait, RunOutcome failure);
    // One command step that wants an ACK: its log line, the command, then the gap. Any other
    // end logs failText in failColour; RunOutcome::None when the phone answered ACK.
    RunOutcome AckStep(const char* text, std::initializer_list<std::uint8_t> command,
                       const char* failText, std::uint32_t failColour, RunOutcome failure);
    void Pause();
    void SettleMode(LinkProtocolCode mode, bool rawUsbFrames);

    SequenceHost& host_;
    const RunReport& report_;
    const DownloadRun& run_;
    const StartSnapshot& snap_;
    const SequenceRules rules_;
    SequenceStep step_ = SequenceStep::Start;
    LinkProtocolCode mode_ = INITIAL_LINK_PROTOCOL;
    bool rawUsbFrames_ = false;
};

}  // namespace zembra
