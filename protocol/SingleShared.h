#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"
#include "job/StartSnapshot.h"
#include "protocol/PacketCodec.h"

namespace zembra {

// Colours of log lines (Windows colour values).
inline constexpr std::uint32_t COLOUR_BLACK = 0x000000;  // progress
inline constexpr std::uint32_t COLOUR_RED = 0x0000FF;    // errors
inline constexpr std::uint32_t COLOUR_BLUE = 0xFF0000;   // notices and aborts

// Results of the block routines and of WaitResponse (the same in both engines).
inline constexpr int RESULT_NO_RESPONSE = 0;
inline constexpr int RESULT_ECHO_FAILED = 1;
inline constexpr int RESULT_DONE = 2;  // WaitResponse: a response arrived
inline constexpr int RESULT_STOPPED = 3;
inline constexpr int RESULT_TOO_MANY_NAKS = 4;
// The image file could not be read where its size says it has bytes (it shrank or a read
// failed). The run ends; nothing that is not the file's is sent.
inline constexpr int RESULT_FILE_READ_ERROR = 5;

// Negative answers (and checksum-echo mismatches) retried per block: the twelfth ends it.
inline constexpr int MAX_RETRIES = 10;  // "the retry counter was already above 10"

// Capacity of the receive accumulator. Responses are a few bytes long; a frame that grows
// beyond this is discarded whole and the receiver waits for the next opening flag.
inline constexpr std::size_t RX_ACCUMULATOR_CAPACITY = 4096;

// Command payload room of the bridge's command buffer.
inline constexpr std::size_t COMMAND_BUFFER_SIZE = 1023;

// How a run of the single engine ended; the command line maps it to its exit status.
enum class RunOutcome : int {
    None = 0,           // no run has ended yet
    Completed,          // every selected image written and the reset jump sent
    NoStartAnswer,      // first download start request: no answer or a negative one
    VersionRefused,     // version check: no answer, or mismatch not accepted by the operator
    CompressionFailed,  // compressor check failed or compressed mode refused
    UartSetupFailed,    // module copy or baud switch refused
    JumpFailed,         // jump into the download module or second start request refused
    ImageFileProblem,   // code file missing, invalid version/boot word, size rule
    EraseFailed,        // erase: no answer or refused
    TransferFailed,     // block transfer: no answer, too many NAKs or echo failures
    FileReadError,      // an image file changed under the run (shrank, read error)
    Stopped,            // the operator's stop request ended the run
    ImageSkipped,       // the run went to its end, but a selected image file did not open
};

// What a Start hands the single engine for one run: the job's paths and the values taken at
// Start. Written by the start handler (main thread) before the worker is resumed; read by the
// worker during the run.
struct SingleRunConfig {
    std::array<std::string, ImageSlot::Count> paths{};  // by slot; empty: slot not selected
    StartSnapshot snapshot;                             // waits, addresses, change, mode ...
};

// The shared state of the single engine: the bridge's fields, the response buffer and the
// flags that the worker and the main thread hand each other. One object for the life of the
// program. The multi download uses stopRequested, downloadRunning and downloadStartMs too.
//
// Threads: the bridge fields are written by the worker only before a bridge call and read by
// the main thread only inside it (the call's hand-off orders them). The response buffer and
// responseArrived are guarded by responseMutex; responseCv wakes WaitResponse on a response
// and on a stop request. The flags are atomics.
struct SingleShared {
    // --- bridge call fields ---
    std::uint32_t bridgeKind = 0;
    std::string logText;
    std::uint32_t logColour = 0;
    std::uint8_t byteParam = 0;
    std::array<std::uint8_t, COMMAND_BUFFER_SIZE> commandBuffer{};
    std::int32_t intParam = 0;
    std::array<std::uint8_t, kFrameBufferSize> outputBuffer{};

    // --- response (main thread writes in the receive handler, worker takes it) ---
    std::mutex responseMutex;
    std::condition_variable responseCv;
    std::array<std::uint8_t, RX_ACCUMULATOR_CAPACITY> responseBuffer{};
    std::uint32_t responseLength = 0;
    std::atomic<bool> responseArrived{false};

    // --- flags ---
    std::atomic<bool> downloadEnabled{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> downloadRunning{false};
    std::atomic<bool> rawUsbFrames{false};
    std::atomic<bool> showInvalidFcsNak{false};
    std::atomic<double> downloadStartMs{0.0};

    // The mode in force: set by Start, overwritten by the worker when an auto mode settles
    // (read by SendCommand on the main thread).
    std::atomic<LinkProtocolCode> mode{INITIAL_LINK_PROTOCOL};

    // The run's job and values (see SingleRunConfig).
    SingleRunConfig run;

    // How the last run ended; set by the worker before FinishRun.
    std::atomic<RunOutcome> lastOutcome{RunOutcome::None};

    // Sets stopRequested and wakes a waiting WaitResponse. Any thread.
    void RequestStop();
    // Clears stopRequested (Start). Any thread.
    void ClearStop() { stopRequested.store(false); }
};

// Name of a run outcome for logs and messages ("Completed", "EraseFailed" ...).
const char* RunOutcomeName(RunOutcome outcome);

}  // namespace zembra
