#pragma once

// The simulated phone: the download protocol's peer (boot loader and download module) on a
// pseudo-terminal, with an in-memory flash, a record of every unit it received and the answer
// it gave, and faults on request.
//
// Typical use in a test:
//
//   SimPhoneConfig config;
//   config.link = SimLink::Usb;
//   config.portName = "COM70";                 // alias COM70 -> /dev/pts/N, map entry
//   SimulatedPhone phone(config);
//   std::string error;
//   ASSERT_TRUE(phone.Start(&error)) << error;
//   ... run the engine on phone.PortName() (or phone.DevicePath()) ...
//   ASSERT_TRUE(phone.WaitForReset(std::chrono::seconds(10)));
//   EXPECT_EQ(phone.FlashRange(0, image.size()), image);
//   EXPECT_TRUE(phone.Errors().empty());
//
// Threads: Start() creates one I/O thread per phone; it owns the line, the protocol state and
// the pacing, and sleeps in poll() while the line is quiet. Every public method may be called
// from any other thread; they lock the phone's state. Stop() (and the destructor) ends the
// thread, closes the line and removes the phone's port alias and device-map entry.
//
// The line. The phone creates a pseudo-terminal in raw mode (or opens config.devicePath) and
// the tool opens its slave side (DevicePath()). When the tool closes its side, the phone
// takes that as the phone being taken off the cable and connected again: a session that did
// not end with the reset jump is abandoned and the phone starts over in its boot loader
// (config.resetOnClose). Answers that would go to a closed line are dropped, and bytes the
// tool left unread are discarded, so that the next run starts clean.
//
// Protocol as the phone sees it (what a correct tool sends):
//   Boot loader: 0xA0 first (again at any time in the boot loader: starts it over);
//   0xD0 + version (4 bytes, upper two 0) once, before the compressed-mode request;
//   0x12 0x00 (once or twice); on UART 0xB0 then 0xF0 0x01 (both required before the jump);
//   0xC0 jumps into the download module. On a UART link, after a baud switch, the phone runs
//   at 115,200 bit/s from the jump's answer on.
//   Download module: 0xA0 first; then per image 0xEE address length and the image's data in
//   the mode negotiated; 0xC0 last (the reset jump: the session ends, the flash is dumped when
//   asked, the phone is back in its boot loader).
//   Framing: command frames (escaped, FCS) on both links; on USB each frame is followed by
//   exactly the zero bytes that pad it to a multiple of 4. Once the compressed mode is
//   acknowledged on USB, every unit is a raw 1,024-byte frame (payload, CRC low, CRC high,
//   zeros; its payload length is found from the last non-zero byte, which is always the CRC
//   high byte because 0x00 is sent as 0x7E).
//   Data: UART normal 0xDD blocks of min(4,096, rest) bytes; compressed 0x12 flag streams
//   (non-last packets carry exactly 1,020 bytes on USB / 8,192 on UART; the stream is LZO1X
//   of header + data when its packets carry 0x01 or when it is a single packet, the 65,544
//   header + data bytes as they are when they carry 0x03) whose 8-byte header names the next
//   address and min(65,536, rest) bytes; USB normal: exactly ceil(length / 1,024) raw
//   1,024-byte blocks after the erase, answered by the checksum echo, of which only the bytes
//   inside the erased range are kept; a control block (marker, 0x00) announces a block that
//   begins with the marker, a control block (marker, 0x01) the retransmission of the block
//   just echoed (also after the image's last block); both are answered by 0x03.
//   Writes go strictly in order from the start of the range just erased; the next erase and
//   the reset jump are refused while that range is not completely written.
// Answers are response frames 0x7E code 0x7E (the USB normal echo: 0x7E 0x02 CRC-high CRC-low
// 0x7E, escaped). Refusals: 0xA1 bad FCS/CRC or framing (also for a frame after stray bytes,
// or a UART frame at a line rate other than the phone's), 0xA2 a range or length too large,
// 0xA3 an unknown command, a command out of sequence or in the wrong mode (also the refused
// compressed mode), 0xA4 an operation that failed (version mismatch, erase of 0 bytes, data
// not where the range continues, a stream that does not decompress or is not smaller than its
// block, a header that disagrees with the data). Refusals caused by the tool are errors
// (Errors(), onEvent); the version mismatch, the refused compressed mode and erase ranges the
// flash does not have are plain answers. A refused or NAKed unit is not taken: the phone
// expects it again.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zembra {

enum class SimLink { Usb, Uart };

// How the boot loader answers the compressed-mode request 0x12 0x00.
enum class SimCompression {
    Supported,  // ACK
    Refused,    // NAK 0xA3 (a boot loader without the compressed mode)
    Silent,     // no answer at all
};

// Misbehaviour on request. Unit numbers count from 1, from the moment the plan is set (at
// Start() for the configuration's plan, at SetFaults() otherwise); a unit is anything the
// phone answers: a command frame, a raw frame, a data block, a control block. "Data only"
// counts only data units (0xDD, 0x12 with a block flag, raw data blocks, control blocks).
struct SimFaultPlan {
    // Stay silent (read but neither process nor answer) from this unit on; 0 = never.
    std::uint64_t silentFromUnit = 0;
    bool silentDataOnly = false;

    // Answer late by lateMs, from unit lateFromUnit on.
    std::uint32_t lateMs = 0;
    std::uint64_t lateFromUnit = 1;

    // Answer nakCount units with nakCode after skipping nakSkip units; a NAKed unit is not
    // taken (the phone expects it again).
    std::uint8_t nakCode = 0xA4;
    std::uint32_t nakCount = 0;
    std::uint64_t nakSkip = 0;
    bool nakDataOnly = false;

    // Corrupt the checksum echo of corruptEchoCount USB normal data blocks, after skipping
    // corruptEchoSkip echoes. The block itself is taken (the tool retransmits it).
    std::uint32_t corruptEchoCount = 0;
    std::uint64_t corruptEchoSkip = 0;

    // Send strayBytes before strayCount answers, after skipping straySkip answers.
    std::vector<std::uint8_t> strayBytes;
    std::uint32_t strayCount = 0;
    std::uint64_t straySkip = 0;

    // Unplug: after this many received bytes close the line (the tool's next writes fail)
    // and remove the port alias and map entry; 0 = never. Replug() connects again, and so
    // does the phone itself after replugAfterMs when that is not 0 (a new pseudo-terminal,
    // the same names, the boot loader).
    std::uint64_t hangupAfterBytes = 0;
    std::uint32_t replugAfterMs = 0;

    // The boot loader refuses every version (NAK 0xA4).
    bool refuseVersion = false;
};

// A link rate meaning "the phone's own UART rate": 57,600 bit/s, 115,200 after the switch.
inline constexpr std::uint32_t kSimLineRate = 0xFFFFFFFF;

struct SimPhoneConfig {
    SimLink link = SimLink::Usb;

    // Port name to register ("COM70"): an alias to the device in the port-alias folder, and
    // for a USB phone also the device-map entry "\Device\trelvic<n>" -> portName, as the
    // phone's USB modem driver does. Empty: nothing is registered.
    std::string portName;
    // n of "\Device\trelvic<n>"; -1: port number - 65 (COM70 -> trelvic5), or the port
    // number itself below COM65.
    int trelvicIndex = -1;
    bool registerDeviceMap = true;  // USB only

    // Device to open instead of a new pseudo-terminal (a serial port, one end of a pair).
    std::string devicePath;

    // Version word the boot loader accepts; -1 accepts any version.
    int version = -1;
    SimCompression compression = SimCompression::Supported;

    std::uint64_t flashSize = 64ull << 20;  // address space in bytes
    std::uint32_t eraseMs = 0;              // time an erase takes: fixed part
    std::uint32_t eraseMsPer64K = 0;        //   plus this per started 64 KiB

    // Pace received and sent bytes at this rate in bit/s (10 bits per byte on UART, 8 on
    // USB); 0 = as fast as the line goes; kSimLineRate = the phone's UART rate.
    std::uint32_t linkRateBps = 0;
    std::uint32_t turnaroundUs = 0;  // fixed time before each answer

    bool resetOnClose = true;   // the tool closing its side = phone reconnected
    bool checkLineRate = true;  // UART on a pseudo-terminal: the tool's rate must match

    // Written after every reset jump: the flash from 0 up to its highest written byte.
    std::string dumpPath;

    SimFaultPlan faults;

    // Record at most this many units in detail (counters go on beyond).
    std::size_t recordLimit = 1u << 20;

    // Called on the I/O thread for every error (a refusal caused by the tool) and for every
    // notice worth a line (session ended, line closed, dump written). Must not call back into
    // the phone.
    std::function<void(const std::string& line, bool isError)> onEvent;
    // Also report every unit through onEvent (one DescribeEntry line each).
    bool eventPerUnit = false;
};

// What a record entry is: a unit the phone answered (or left unanswered), or an event of the
// line (closed by the tool, hung up, answer dropped, dump written, power cycle). Stray bytes
// are not units: they make the phone refuse the unit that follows them (see its note).
enum class SimUnitKind { CommandFrame, RawFrame, DataBlock, ControlBlock, LineEvent };

// One unit the phone received and what it did with it.
struct SimRecordEntry {
    std::uint64_t index = 0;  // 1-based, over the phone's life
    SimUnitKind kind = SimUnitKind::CommandFrame;
    std::uint8_t command = 0;           // first payload byte (0 for blocks and events)
    std::uint8_t flag = 0;              // 0x12: block flag; control block: byte 7
    std::vector<std::uint8_t> payload;  // command payload (without FCS/CRC), up to 16 bytes
    std::size_t length = 0;             // payload or block length in bytes
    std::uint32_t address = 0;          // data: flash address written
    std::size_t written = 0;            // data: bytes stored in flash by this unit
    bool answered = false;
    std::uint8_t answer = 0;          // response code sent
    bool isError = false;             // refused because the tool did something wrong
    std::string note;                 // the reason of a refusal, or what happened
    std::uint32_t lineRate = 0;       // the tool's line rate at arrival (0 unknown)
    double timeMs = 0;                // NowMs() at the unit's last byte
    std::uint64_t bytesReceived = 0;  // bytes received over the phone's life at its last byte
};

struct SimCounters {
    std::uint64_t bytesReceived = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t units = 0;
    std::uint64_t dataUnits = 0;  // data packets, blocks and control blocks
    std::uint64_t acks = 0;       // 0x02 answers, echoes included
    std::uint64_t naks = 0;       // answers other than 0x02 / 0x03
    std::uint64_t echoes = 0;
    std::uint64_t silentUnits = 0;  // units left unanswered
    std::uint64_t errors = 0;
    std::uint64_t erases = 0;
    std::uint64_t bytesWritten = 0;  // bytes stored in flash
    std::uint64_t resets = 0;        // reset jumps (completed sessions)
    std::uint64_t abandonedSessions = 0;
    std::uint64_t lineCloses = 0;      // the tool closed its side
    std::uint64_t hangups = 0;         // unplugged by the fault
    std::uint32_t baudSwitchRate = 0;  // rate asked for by 0xF0 (115,200), 0 none yet
    std::uint32_t phoneRate = 57600;   // the phone's own UART rate now
};

enum class SimStage { BootIdle, BootLoader, ModuleEntered, DownloadModule };

class SimulatedPhone {
  public:
    explicit SimulatedPhone(SimPhoneConfig config);
    ~SimulatedPhone();
    SimulatedPhone(const SimulatedPhone&) = delete;
    SimulatedPhone& operator=(const SimulatedPhone&) = delete;

    // Opens the line, registers the port name and starts the I/O thread. False with a
    // message when the line cannot be opened or the name cannot be registered.
    bool Start(std::string* error = nullptr);
    // Stops the thread, closes the line, unregisters. Idempotent.
    void Stop();

    // The device the tool opens (the pseudo-terminal's slave, or config.devicePath).
    std::string DevicePath() const;
    const std::string& PortName() const { return config_.portName; }
    // "\Device\trelvic<n>" registered for a USB phone, or empty.
    std::string DeviceMapValue() const;

    std::vector<std::uint8_t> FlashRange(std::uint64_t address, std::size_t length) const;
    std::uint64_t FlashWrittenEnd() const;  // one past the highest byte written, 0 none
    void ClearFlash();

    std::vector<SimRecordEntry> Record() const;
    std::vector<std::string> Errors() const;  // the notes of every error, in order
    SimCounters Counters() const;
    SimStage Stage() const;

    // Waits until `count` reset jumps have been seen in all (a session has ended); false on
    // time-out.
    bool WaitForReset(std::chrono::milliseconds timeout, std::uint64_t count = 1) const;
    // Waits until the phone has received `count` units in all (a unit counts, and is in the
    // record, as soon as it is complete, before its answer goes out); false on time-out.
    bool WaitForUnits(std::uint64_t count, std::chrono::milliseconds timeout) const;
    // Waits until pred() holds; pred is evaluated under no lock after every unit.
    bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const;

    // Faults: replaces the plan; its counts start now.
    void SetFaults(const SimFaultPlan& plan);
    // Power cycle: back to the boot loader, partial input dropped (flash kept).
    void PowerCycle();
    // After a hang-up: a new line (new pseudo-terminal), registered again. False on failure.
    bool Replug(std::string* error = nullptr);
    bool IsPlugged() const;

  private:
    struct Impl;
    SimPhoneConfig config_;
    std::unique_ptr<Impl> impl_;
};

// One line describing a record entry (the program's --verbose output).
std::string DescribeEntry(const SimRecordEntry& entry);

}  // namespace zembra
