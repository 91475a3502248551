#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "job/DownloadSettings.h"
#include "job/ImageSlot.h"
#include "multi/LzoShared.h"
#include "protocol/PacketCodec.h"

namespace zembra {

class MainThread;
class MultiPortOps;

// Receives the multi workers' log lines on the main thread ("%s:%s" of port name and text).
class MultiLogSink {
  public:
    virtual ~MultiLogSink() = default;
    virtual void LogSlot(const std::string& portName, const std::string& text,
                         std::uint32_t colour) = 0;
    virtual void SlotRunEnded(int slot) = 0;
};

// runState values.
inline constexpr int RUN_IDLE = 0;
inline constexpr int RUN_STOP_REQUESTED = 1;
inline constexpr int RUN_RUNNING = 2;

// endCode values.
inline constexpr int END_IN_PROGRESS = 0;
inline constexpr int END_FINISHED = 1;
inline constexpr int END_START_FAILED = 2;
inline constexpr int END_VERSION_FAILED = 3;
inline constexpr int END_MODE_FAILED = 4;
inline constexpr int END_MODULE_FAILED = 5;
inline constexpr int END_IMAGE_CHECK_FAILED = 6;
inline constexpr int END_ERASE_FAILED = 7;
inline constexpr int END_TRANSFER_FAILED = 8;
inline constexpr int END_STOPPED = 10;

// What the multi Start writes into a worker before each run.
struct MultiWorkerConfig {
    std::array<std::string, ImageSlot::Count> imagePaths;  // code, font 1 ... font 6
    std::string portName;
    std::array<std::uint32_t, ImageSlot::Count> fontAddresses{};  // [0] (code) is always 0
    bool checkBinSize64K = true;
    bool change = false;
    int eraseWaitSec = 600;
    int cmdGapMs = 200;
    LinkProtocolCode mode = USB_AUTO;
    int packetResponseWaitMs = 20000;
    bool showInvalidFcsNak = false;
    int normalResponseWaitMs = 500;
    bool versionCheck = true;
    int slot = 0;
};

// Delays before a worker's first packet: wakeDelayMs after it is resumed, then
// slot x staggerMs. Tests may shorten them.
struct MultiStartTiming {
    int wakeDelayMs = 700;
    int staggerMs = 200;
};

// The worker thread of one multi slot. It drives one phone on its slot's port through the
// whole download and reaches the port and the log pane only through synchronised calls to
// the main thread (the bridge kinds).
//
// Life: created suspended (its thread waits for Resume) by the multi download, resumed for
// every run, suspends itself at the end of each run; the destructor ends the thread (it
// must not be called while the main thread is needed by a running worker, see
// MultiDownload's destructor).
class MultiSingleBoxDLU {
  public:
    enum BridgeKind : std::uint32_t {
        LogLine = 0,
        SendCommand = 1,
        ShowNak = 2,
        CloseSlotPort = 3,
        WriteRaw = 4,
        ShowProgress = 5,
    };

    static constexpr std::size_t kOutputBufferSize = 262144;
    static constexpr std::size_t kCommandClearSize = 131072;  // cleared before each command
    static constexpr std::size_t kRxBufferSize = 131072;
    static constexpr std::size_t kCompressedAreaSize = 131072;
    static constexpr std::size_t kPacketBufferSize = 131072;
    static constexpr std::size_t kBlockHeaderSize = 8;
    static constexpr std::size_t kMessageLimit = 500;
    // Bytes of a taken response kept for the worker (the code and an ACK echo need 7).
    static constexpr std::size_t kResponseKeep = 64;

    MultiSingleBoxDLU(MainThread& mainThread, MultiPortOps& ports, MultiLogSink& log,
                      LzoShared& lzo, const MultiStartTiming& timing);
    ~MultiSingleBoxDLU();
    MultiSingleBoxDLU(const MultiSingleBoxDLU&) = delete;
    MultiSingleBoxDLU& operator=(const MultiSingleBoxDLU&) = delete;

    // Main thread, while the worker is idle: the job and settings copy of the next run;
    // runState := 0, rawUsbFrames := 0, the receive accumulator emptied.
    void Configure(const MultiWorkerConfig& config);

    // Wakes the suspended thread for one run (a no-op while a run is going on).
    void Resume();

    // Main thread: runState := 1 when the worker runs (2). Returns true when it did.
    bool RequestStop();
    // Main thread: runState := 2 (the multi Start releases the worker).
    void SetRunning();

    // The receive handler of the slot's port (main thread): cuts a response frame out of
    // the bytes into the accumulator. Bytes arriving while the worker is idle are dropped.
    void ReceiveBytes(const std::uint8_t* data, std::size_t count);

    // Status read by the status tick (any thread).
    int runState() const { return runState_.load(); }
    int currentImage() const { return currentImage_.load(); }
    int percent() const { return percent_.load(); }
    int erasing() const { return erasing_.load(); }
    int endCode() const { return endCode_.load(); }
    int progressCount() const { return progressCount_.load(); }
    int slot() const { return config_.slot; }
    const std::string& portName() const { return config_.portName; }
    // NowMs (whole ms) when the current/last sequence began and ended (0 before).
    long long startMs() const { return startMs_.load(); }
    long long endMs() const { return endMs_.load(); }
    // The end of a multi download resets the display fields (main thread, worker idle).
    void ResetDisplayFields();

    // The worker's wait (public for the receive-path tests): 0 no response within ticks
    // milliseconds, 2 a response arrived (taken even when a stop is pending), 3 stop.
    int WaitResponse(long long ticks);
    // The response code and bytes of the last frame WaitResponse took (code first).
    const std::uint8_t* response() const { return response_.data(); }
    // Responses taken by WaitResponse over the worker's life (for diagnostics and tests).
    std::uint64_t responsesTaken() const { return responsesTaken_.load(); }
    std::size_t responseLength() const { return responseLength_; }

  private:
    // Block routine results.
    // Block routine results; FileReadError: the image file no longer has the bytes its size
    // promised (it shrank or a read failed).
    enum BlockResult {
        NoResponse = 0,
        EchoFailed = 1,
        Done = 2,
        Stopped = 3,
        TooManyNaks = 4,
        FileReadError = 5
    };

    void ThreadMain();
    void Execute();
    void RunSequence();
    bool RequestStart();
    bool CheckVersion();
    bool SelectMode();
    bool EnterDownloadModule();
    bool OpenImage(int index);
    bool CheckImage(int index);
    bool EraseRange();
    bool WriteImage();
    int SendBlockPpvUsb(std::FILE* file, std::uint32_t rangeStart, std::uint32_t size,
                        std::uint32_t address, std::uint32_t offset);
    int SendBlockNormalUsb(std::FILE* file, std::uint32_t rangeStart, std::uint32_t size,
                           std::uint32_t address, std::uint32_t offset);

    // Worker side of the bridge kinds.
    void Log(const std::string& text, std::uint32_t colour);
    // SendCommand with the payload, then WaitResponse(ticks); returns the wait's result.
    int SendAndWait(const std::uint8_t* payload, std::size_t length, long long ticks);
    // The log line of a wait that took no response ("응답이없습니다" for 0, "다운로드가 중단
    // 됩니다" for 3); true when a response arrived (2).
    bool ResponseTaken(int wait);
    void RunShowNak(std::uint8_t code);
    void RunWriteRaw(std::size_t length);
    // The gauge at file offset plus sent bytes of its block, in the range from rangeStart to
    // size (BlockTransfer::Percent, as the single engine shows it).
    void RunShowProgress(std::uint32_t rangeStart, std::uint32_t size, std::uint32_t offset,
                         std::size_t sent);
    void RunBridge(BridgeKind kind);
    void BridgeWork();  // main thread
    void Pause();
    // Sleeps; returns early only when the thread is being ended.
    void SleepMs(int ms);
    void CloseImage();
    bool stopRequested() const { return runState_.load() == RUN_STOP_REQUESTED; }
    std::uint8_t responseCode() const { return response_[0]; }

    MainThread& mainThread_;
    MultiPortOps& ports_;
    MultiLogSink& logSink_;
    LzoShared& lzo_;
    const MultiStartTiming timing_;

    // Expires with the worker; guards the end-of-run notice posted to the main thread.
    std::shared_ptr<char> lifeToken_ = std::make_shared<char>(0);

    // Thread control.
    std::thread thread_;
    std::mutex threadMutex_;
    std::condition_variable threadCv_;
    unsigned long resumeCount_ = 0;  // guarded by threadMutex_
    bool terminate_ = false;         // guarded by threadMutex_
    std::atomic<bool> terminating_{false};

    // Image file and transfer range.
    std::FILE* imageFile = nullptr;
    std::uint32_t fileSize = 0;
    std::uint32_t flashAddress = 0;
    std::uint32_t rangeLength = 0;
    std::uint32_t startOffset = 0;

    // Bridge record and parameters.
    BridgeKind bridgeKind_ = LogLine;
    std::uint32_t bridgeColour_ = 0;
    std::uint8_t byteParam_ = 0;
    std::array<std::uint8_t, 10> commandBuffer_{};  // payload of SendCommand
    std::int64_t intParam_ = 0;
    int shownPercent_ = -1;  // the progress last handed to the main thread
    std::int64_t shownOffset_ = -1;
    std::string messageText;
    std::unique_ptr<std::uint8_t[]> outputBuffer_;
    PacketCodec codec_;

    // Block work area: header, then 65,536 data bytes.
    std::unique_ptr<std::uint8_t[]> blockArea_;
    std::unique_ptr<std::uint8_t[]> compressedArea_;
    std::unique_ptr<std::uint8_t[]> packetBuffer_;
    std::array<std::uint8_t, 8> expectedEcho_{};
    std::size_t expectedEchoLength_ = 0;

    // Job and settings copy (written by Configure while the worker is idle).
    MultiWorkerConfig config_;
    LinkProtocolCode mode_ = USB_AUTO;
    bool rawUsbFrames_ = false;

    // Receive side: the handler fills the accumulator on the main thread, WaitResponse
    // takes a frame on the worker thread.
    std::mutex rxMutex_;
    std::condition_variable rxCv_;
    bool responseArrived_ = false;  // guarded by rxMutex_
    std::size_t rxCount_ = 0;       // guarded by rxMutex_
    std::unique_ptr<std::uint8_t[]> rxBuffer_;
    std::array<std::uint8_t, kResponseKeep> response_{};
    std::size_t responseLength_ = 0;
    std::atomic<std::uint64_t> responsesTaken_{0};

    // Status published for the status tick.
    std::atomic<int> runState_{RUN_IDLE};
    std::atomic<int> currentImage_{0};
    std::atomic<int> progressCount_{0};
    std::atomic<int> percent_{0};
    std::atomic<long long> startMs_{0};
    std::atomic<long long> endMs_{0};
    std::atomic<int> erasing_{0};
    std::atomic<int> endCode_{0};
};

}  // namespace zembra
