#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "job/DownloadJob.h"
#include "job/JobCheck.h"
#include "job/StartSnapshot.h"
#include "protocol/SequenceHost.h"  // COLOUR_BLACK, COLOUR_RED, COLOUR_BLUE
#include "protocol/SlotEnd.h"       // MULTI_SLOT_COUNT

namespace zembra {

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

// What needs the operator's answer, and nothing else: the one question a run asks (the version
// the phone refused) and the questions of a Start. The window answers with its dialogs, the
// console with its prompts (or --yes/--no). Every call is made on the host's main thread.
class OperatorQuestions {
  public:
    virtual ~OperatorQuestions() = default;

    // A run's question as a message box in a style of AskOperator.h; the button pressed
    // (mb::kIdOk ...).
    virtual int AskOperator(const std::string& text, const std::string& caption, int style) = 0;
    // The Start's questions come with the job as the Start has refreshed it (its file times):
    // a host that shows the job shows it so before it asks.
    //
    // The problems the job checks found (check.codes, each in its own error box, in order),
    // then, when the code that counts may be overridden, the override question of the kind
    // of Start. True when the Start goes on.
    virtual bool AcceptJob(const DownloadJob& job, const JobCheckResult& check, StartKind kind) = 0;
    // The last question before the ports open: the flash-range question when the job's ranges
    // have problems; then, for a multi Start (slotPortNames given), the slot port names as
    // they are now (a host whose slots change while its questions are open fills them in;
    // the names of the Start request come in). False abandons the Start.
    virtual bool ConfirmStart(const DownloadJob& job,
                              std::array<std::string, MULTI_SLOT_COUNT>* slotPortNames) = 0;
};

}  // namespace zembra
