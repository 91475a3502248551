#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "job/StartSnapshot.h"
#include "protocol/SequenceHost.h"  // COLOUR_BLACK, COLOUR_RED, COLOUR_BLUE

namespace zembra {

// Slots of the multi download: ports VaComm1 ... VaComm8, workers, status display.
inline constexpr int MULTI_SLOT_COUNT = 8;

// The port operations of the eight multi-download ports (channel 0-7 = VaComm1 ... VaComm8).
// They run on the main thread, except WriteMulti, which each slot's worker calls for its own
// channel, and multiLineGone (any thread).
class MultiPortOps {
  public:
    virtual ~MultiPortOps() = default;

    // Opens the channel's port unless its open flag is set, then sets the flag. Throws the
    // port component's error (a std::exception) when the port cannot be opened.
    virtual void OpenMultiPort(int channel) = 0;
    // Closes the port if its open flag is set and clears the flag. Never throws.
    virtual void CloseMultiPort(int channel) = 0;
    // Device name := "\\.\" followed by the port name.
    virtual void SetMultiPortName(int channel, const std::string& portName) = 0;
    // 57,600, 115,200 or 256,000 set the rate; any other value changes nothing.
    virtual void SetMultiBaud(int channel, int rate) = 0;
    // Trace line with the channel, then the bytes to the channel's port. Throws the port
    // component's error when the write fails.
    virtual void WriteMulti(int channel, const std::uint8_t* bytes, std::size_t count) = 0;
    // Clears the channel's open flag without touching the port (after a failed open).
    virtual void ClearMultiPortOpen(int channel) = 0;
    // Any thread: the system's error number once the channel's open device is gone
    // (unplugged, far side closed), else 0. A port that cannot tell says 0.
    virtual int multiLineGone(int /*channel*/) const { return 0; }

    // As the single port's tap (protocol/PortOperations.h), per channel: the received bytes
    // go to tap on the port's receive thread (or on the thread that reads the port with
    // ReadMulti); an empty tap ends it. Set while the port is closed.
    virtual void SetMultiReceiveTap(
        int channel, std::function<void(const std::uint8_t* data, std::size_t count)> tap) = 0;
    // With a tap set: the slot's worker reads the port itself (ReadMulti). Set while the
    // port is closed. False when the ports cannot do it.
    virtual bool SetMultiTapReads(int /*channel*/, bool /*on*/) { return false; }
    // Waits up to timeoutMs for bytes on the open channel, or until cancelHandle is
    // signalled, and hands them to its tap: the byte count, 0 when none came, -1 once the
    // device is gone or without SetMultiTapReads.
    virtual int ReadMulti(int /*channel*/, int /*timeoutMs*/, int /*cancelHandle*/) { return -1; }
};

// The operator side of the multi download: the multi log pane, the message boxes and the
// controls that the multi Start disables. All calls run on the main thread.
class MultiDownloadHost {
  public:
    virtual ~MultiDownloadHost() = default;

    // Appends one line in the colour to the multi log.
    virtual void LogMulti(const std::string& text, std::uint32_t colour) = 0;
    // Shows the job problem's box (caption "오류", OK).
    virtual void ShowJobError(int code) = 0;
    // Asks MULTI_OVERRIDE_QUESTION (caption "확인", Yes/No); true for Yes.
    virtual bool AskOverride() = 0;
    // A settings text that is not a number.
    virtual void ShowConversionError(const ConversionError& error) = 0;
    // Enables or disables the file selection and the multi Start.
    virtual void SetStartControlsEnabled(bool enabled) = 0;
    // The Start has refreshed the job's file times (before its checks): a host that shows
    // them updates its fields.
    virtual void FileTimesRefreshed(const DownloadJob& /*job*/) {}
    // The job checks have passed (or the operator overrode them): the host's last question
    // about the job, then the slot port names as they are now, which the Start opens. A host
    // whose slots can change while its questions are open fills them in here; the names
    // given with the Start request come in. false abandons the Start (nothing was opened).
    virtual bool ConfirmStart(const DownloadJob& /*job*/,
                              std::array<std::string, MULTI_SLOT_COUNT>& /*slotPortNames*/) {
        return true;
    }
    // A worker has ended its run (runState is 0 again); posted to the main thread so that a
    // host waiting for the end can look at once instead of on its next tick.
    virtual void SlotRunEnded(int /*slot*/) {}
};

}  // namespace zembra
