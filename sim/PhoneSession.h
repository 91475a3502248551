#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimulatedPhone.h"
#include "sim/SparseFlash.h"

namespace zembra {

// What the phone does after a unit: the bytes to send and when.
struct SimAnswer {
    bool unit = false;                // a unit was completed by the bytes fed
    std::vector<std::uint8_t> bytes;  // the answer (stray bytes included); empty: none
    std::uint32_t delayMs = 0;        // erase time and late answer, before the answer
    std::uint32_t answerRate = 0;     // the phone's UART rate the answer goes out at
    bool resetJump = false;           // the session ended with the reset jump
};

// The phone's protocol: boot loader and download module as a byte-driven state machine, with
// its flash, its record, its counters and the fault plan. No I/O and no clock of its own; the
// owner feeds received bytes, sends the answers and locks around every call.
class PhoneSession {
  public:
    explicit PhoneSession(const SimPhoneConfig& config);

    // Consumes bytes up to the end of the input or up to the byte that completes a unit; then
    // *answer says what to send. Returns the number of bytes consumed.
    std::size_t Feed(const std::uint8_t* data, std::size_t length, SimAnswer* answer);

    // The tool closed its side of the line: partial input is dropped; with resetOnClose the
    // phone starts over in its boot loader (an unfinished session counts as abandoned).
    void LineClosed();
    // The line was hung up by the fault.
    void HungUp();
    // Power cycle on request: back to the boot loader, partial input dropped (flash kept).
    void PowerCycle();

    void SetFaults(const SimFaultPlan& plan);
    // Bytes that may still be received before the hang-up fault strikes (UINT64_MAX: never).
    std::uint64_t BytesUntilHangup() const;
    std::uint32_t ReplugAfterMs() const { return plan_.replugAfterMs; }

    // Reads the tool's current line rate (0 unknown); used for the UART rate check.
    void SetLineRateProbe(std::function<std::uint32_t()> probe) { lineRate_ = std::move(probe); }

    std::uint32_t PhoneRate() const { return counters_.phoneRate; }
    SimStage Stage() const { return stage_; }

    SparseFlash& Flash() { return flash_; }
    const std::vector<SimRecordEntry>& Record() const { return record_; }
    const std::vector<std::string>& Errors() const { return errors_; }
    SimCounters& Counters() { return counters_; }

    // Lines for config.onEvent gathered since the last call (text, is error).
    std::vector<std::pair<std::string, bool>> TakeEvents() { return std::exchange(events_, {}); }
    // Adds a line event to the record (and to the events).
    void Note(const std::string& text, bool isError);

  private:
    enum class In { Idle, Frame, Padding, Block };
    enum class Await { None, MarkerData, Retransmit };

    struct Image {
        bool active = false;
        std::uint64_t start = 0;
        std::uint64_t length = 0;
        std::uint64_t written = 0;
    };

    bool ConsumeByte(std::uint8_t b);
    void HandleCommandFrame();
    void HandleRawFrame();
    void HandleUsbBlock();
    void Dispatch(const std::vector<std::uint8_t>& payload);
    void DispatchBoot(const std::vector<std::uint8_t>& payload);
    void DispatchModule(const std::vector<std::uint8_t>& payload);
    void Erase(const std::vector<std::uint8_t>& payload);
    void WriteData(const std::vector<std::uint8_t>& payload);
    void CompressedPacket(const std::vector<std::uint8_t>& payload);

    // Faults and pre-checks common to every unit; false when the unit has been answered.
    bool Admit(bool isData);
    // Stores data of the current range, which takes units of unitSize bytes (the last one
    // shorter); empty text on success, else the reason.
    std::string Store(std::uint64_t address, const std::uint8_t* data, std::size_t length,
                      std::size_t unitSize);

    void Accept(std::uint8_t code = 0x02);
    void Refuse(std::uint8_t code, const std::string& note, bool isError = true);
    void Silent(const std::string& note);
    void SendEcho(const std::uint8_t* block);
    void Commit(SimRecordEntry& entry);
    // Answers the unit with bytes (code: the answer's code in the record), after the stray
    // bytes and the late delay that the fault plan adds, and records it.
    void Reply(std::uint8_t code, std::vector<std::uint8_t> bytes);

    void ResetToBoot();
    void ClearInput();
    bool UsbNormal() const;
    bool UsbBlockExpected() const;
    bool ImageIncomplete() const { return image_.active && image_.written < image_.length; }
    // Why the erase or the reset jump (what) must wait: the erased range is not completely
    // written yet; empty when it is.
    std::string RangeUnfinished(const char* what) const;
    std::string ModeName() const;
    std::uint32_t ProbeRate() const { return lineRate_ ? lineRate_() : 0; }

    SimPhoneConfig config_;
    SparseFlash flash_;
    // The unit being handled: its record entry and the answer Feed hands out.
    SimRecordEntry unit_;
    SimAnswer answer_;
    std::function<std::uint32_t()> lineRate_;

    // Input assembly.
    In in_ = In::Idle;
    std::vector<std::uint8_t> frame_;  // wire bytes between the flags; empty outside a frame
    bool frameOverflow_ = false;
    std::size_t padLeft_ = 0;
    std::vector<std::uint8_t> block_;
    bool blockIsRaw_ = false;
    std::size_t strayPending_ = 0;  // bytes outside any unit since the last unit
    bool strayNonZeroPad_ = false;

    // Protocol state.
    SimStage stage_ = SimStage::BootIdle;
    bool versionChecked_ = false;
    bool compressionAsked_ = false;
    bool compressionAcked_ = false;
    bool rawMode_ = false;
    bool moduleCopied_ = false;
    bool baudSwitched_ = false;
    Image image_;
    std::vector<std::uint8_t> stream_;
    std::uint8_t streamFlag_ = 0;
    std::uint64_t usbBlocksLeft_ = 0;
    Await await_ = Await::None;
    bool controlAllowed_ = false;
    std::uint64_t lastBlockAddress_ = 0;
    std::size_t lastBlockKept_ = 0;

    // Faults.
    SimFaultPlan plan_;
    std::uint64_t faultUnits_ = 0;
    std::uint64_t faultDataUnits_ = 0;
    std::uint64_t faultEchoes_ = 0;
    std::uint64_t faultAnswers_ = 0;
    std::uint64_t faultBytes_ = 0;
    bool silentLatched_ = false;
    std::uint32_t pendingLateMs_ = 0;

    // Record.
    SimCounters counters_;
    std::vector<SimRecordEntry> record_;
    std::vector<std::string> errors_;
    std::vector<std::pair<std::string, bool>> events_;
};

}  // namespace zembra
