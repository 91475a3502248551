#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "job/DownloadSettings.h"
#include "protocol/LzoCompressor.h"
#include "protocol/ProtocolCodes.h"

namespace zembra {

// Colours of log lines (Windows colour values).
inline constexpr std::uint32_t COLOUR_BLACK = 0x000000;  // progress
inline constexpr std::uint32_t COLOUR_RED = 0x0000FF;    // errors
inline constexpr std::uint32_t COLOUR_BLUE = 0xFF0000;   // notices and aborts

// Negative answers (and checksum-echo mismatches) retried per block: the twelfth ends it.
inline constexpr int MAX_RETRIES = 10;  // "the retry counter was already above 10"

// What a wait for an answer gave.
enum class WaitResult : int {
    NoResponse = 0,  // the ticks ran out
    Arrived = 2,     // a response was taken (even when a stop is pending)
    Stopped = 3,     // the operator's stop was seen
};

// What a block routine gave; the numbers are those of the wait where they mean the same.
enum class BlockResult : int {
    NoResponse = 0,
    EchoFailed = 1,  // the checksum echo failed too often (USB normal mode)
    Done = 2,
    Stopped = 3,
    TooManyNaks = 4,
    // The image file no longer has the bytes its size promised (it shrank or a read failed).
    FileReadError = 5,
};

// Points of the image loop, told as RunEvents::ImageMark.
enum class SequenceMark {
    ImagesBegin,   // the phone is in its download module; the image loop begins
    ImageStarted,  // an image passed its checks; its erase follows
    EraseEnded,    // the erase answer came (or the erase failed)
    ImageDone,     // the image was written
};

// What differs between the hosts of the download sequence: the single engine's bridge and a
// multi worker. Every call is made on the worker thread that runs the sequence.
class SequenceHost {
  public:
    virtual ~SequenceHost() = default;

    // Frames the command for the link (BuildCommandFrame, after the last LinkSettled) and
    // writes it; the response flag is cleared just before the write. Returns the bytes
    // written (0 when the write failed).
    virtual std::size_t SendCommand(const std::uint8_t* command, std::size_t length) = 0;
    // The buffer (kFrameBufferSize bytes) that WriteFrame writes from.
    virtual std::uint8_t* FrameBuffer() = 0;
    // Writes length bytes of FrameBuffer(); the response flag is cleared just before.
    // Returns the bytes written (0 when the write failed).
    virtual std::size_t WriteFrame(std::size_t length) = 0;
    // Waits up to ticks milliseconds for the answer to what was just written.
    virtual WaitResult WaitResponse(long long ticks) = 0;
    // The response taken by the last wait that gave Arrived, code first.
    virtual const std::vector<std::uint8_t>& Response() const = 0;
    // The phone is in its download module and the image loop begins: the engine's clock of the
    // transfer (its duration line, its trace) starts here.
    virtual void ImagesBegin() = 0;
    // True once the operator asked for the stop.
    virtual bool StopRequested() const = 0;
    // The mode in force and whether commands now go as raw USB frames.
    virtual void LinkSettled(LinkProtocolCode mode, bool rawUsbFrames) = 0;
    // The single port's rate; a host whose port keeps its rate ignores it.
    virtual void SetBaud(int rate) = 0;
    // The pause between commands (cmdGapMs).
    virtual void Pause(int ms) = 0;
    // The operator's answer to a question (a message box style of AskOperator.h).
    virtual int AskOperator(const std::string& text, const std::string& caption, int style) = 0;
    // The compressor and its work memory.
    virtual LzoCompressor& Compressor() = 0;
    // NowMs from which the run's duration line counts.
    virtual double DurationOriginMs() const = 0;

    std::uint8_t ResponseCode() const { return Response().empty() ? 0 : Response()[0]; }
};

}  // namespace zembra
