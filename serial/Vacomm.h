#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/MainThread.h"
#include "platform/SerialDevice.h"
#include "serial/Vaclasses.h"
#include "serial/Vaconst.h"
#include "serial/Vaobjects.h"
#include "serial/Vaprst.h"
#include "serial/Vatypes.h"

namespace zembra {

class TVaCustomComm;
class TVaCommComponent;

// Link between a port and one attached component (TVaCommComponent). The port keeps its
// dispatchers in its client list; every forwarding operation does nothing (or returns 0 /
// false) while the link is empty.
class TVaDispatcher {
  public:
    explicit TVaDispatcher(TVaCommComponent* owner) : owner_(owner) {}
    ~TVaDispatcher();  // leaves the port's client list
    TVaDispatcher(const TVaDispatcher&) = delete;
    TVaDispatcher& operator=(const TVaDispatcher&) = delete;

    TVaCustomComm* Comm() const { return comm_; }
    bool Active = true;

    void DataEvent(PVaData data, int count);
    void LineEvent(uint32_t mask);
    void SetDTRState(bool on);
    void PurgeReadWrite();
    int WriteBuf(const void* data, int count);
    bool WriteText(const std::string& text);
    bool WriteChar(char c);

  private:
    friend class TVaCustomComm;
    TVaCommComponent* owner_;
    TVaCustomComm* comm_ = nullptr;
};

// The receive thread of an open port. It sleeps in the kernel until the device reports an
// event of the port's mask, then has the main thread read and deliver it, and waits until
// that delivery has finished before waiting again.
//
// Life: created and started by the port's Open (CreateThread), terminated and joined by the
// port's Close (DestroyThread), on the main thread. A delivery queued on the main thread
// holds a reference to the thread object and does nothing once the thread is terminated, so
// Close never waits for the main thread (no deadlock) and no delivery happens after Close.
class TVaCommThread : public std::enable_shared_from_this<TVaCommThread> {
  public:
    TVaCommThread(TVaCustomComm* owner, MainThread* mainThread);
    ~TVaCommThread();
    TVaCommThread(const TVaCommThread&) = delete;
    TVaCommThread& operator=(const TVaCommThread&) = delete;

    void Start(TVaThreadPriority priority);
    // Marks the thread terminated and signals its wait event; a pending delivery is dropped.
    void Terminate();
    bool Terminated() const;
    // Waits until Execute has returned.
    void WaitFor();
    // The kernel thread id once started (for measurements), 0 before.
    int ThreadId() const { return tid_.load(); }
    // With the owner's OnRxTap set: adds the bytes to those waiting for the main thread's data
    // event and hands them to OnRxTap; does not wait for the main thread. On the receive
    // thread, which posts at most one delivery every kDeliveryIntervalMs with all bytes that
    // came meanwhile (at once when the last one is older), so that a stream of answers does
    // not wake the main thread for every one.
    void HandOver(const uint8_t* data, size_t count);
    // As HandOver, for the thread of ReadTapped, which reads answer after answer: the delivery
    // is left to the receive thread, which posts at most one every kDeliveryIntervalMs with
    // all bytes that came meanwhile, so that the reader neither wakes the main thread for
    // every answer nor waits for it.
    void HandOverFromReader(const uint8_t* data, size_t count);
    static constexpr int kDeliveryIntervalMs = 100;

  protected:
    void Execute();
    void ByMethod();   // main thread
    void ByMessage();  // receive thread

  private:
    enum class SyncKind { Method, Message };
    // Runs the given delivery on the main thread and waits until it has finished or the
    // thread has been terminated. False when terminated.
    bool Synchronize(SyncKind kind, uint32_t message = 0, uintptr_t wParam = 0);
    // With the owner's OnRxTap set: reads what has arrived into ahead_ (receive thread).
    bool ReadAhead();
    // The wait event was signalled and the thread is not terminated: a reader's bytes wait
    // for delivery. Posts it once kDeliveryIntervalMs have passed since the last one; false
    // when terminated meanwhile.
    bool PostReaderDelivery();
    // Receive thread: the delivery of the bytes HandOver left waiting, once kDeliveryIntervalMs
    // have passed since the last (at once with now set), unless one is queued already.
    void PostWaitingDelivery(bool now = false);
    // HandOver's bytes wait and no delivery is queued for them (mutex_ held).
    bool BytesWaitForPost() const;
    // Receive thread: how long HandOver's waiting bytes may still wait for their delivery
    // (0: post now); -1 when none wait.
    int DeliveryWaitMs() const;
    void PostDelivery();
    void DeliverTapped();    // main thread: the waiting bytes to the port's data event
    void RunSynchronized();  // main thread

    TVaCustomComm* owner_;
    TVaWaitEvent waitEvent_;
    uint32_t eventMask_ = 0;
    TVaSyncEvents syncEvents_;
    MainThread* mainThread_;

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool terminated_ = false;
    bool done_ = false;
    SyncKind kind_ = SyncKind::Method;
    uint32_t message_ = 0;
    uintptr_t wParam_ = 0;
    TVaThreadPriority priority_ = tpNormal;
    std::atomic<int> tid_{0};
    std::thread thread_;
    // Bytes read on this thread for the tap (receive thread only).
    std::vector<uint8_t> ahead_;
    // Tapped bytes not yet delivered to the main thread, in arrival order (under mutex_).
    // Only one thread hands bytes over at a time: the receive thread, or ReadTapped's.
    std::vector<uint8_t> tapped_;
    // A reader's bytes wait in tapped_ and the receive thread has been told (under mutex_).
    bool readerDeliveryDue_ = false;
    // A delivery is queued on the main thread and takes all of tapped_ (under mutex_).
    bool deliveryPosted_ = false;
    std::chrono::steady_clock::time_point lastPost_{};  // receive thread only
};

// The serial port component. Operations run on the main thread (the thread of the host's
// MainThread), except WriteBuf and ReadTapped, which one other thread may call (they take the
// port's lock, and Close waits for them); the receive thread reaches the port only through
// deliveries on the main thread and the tap.
class TVaCustomComm : public TVaComponent {
  public:
    TVaCustomComm();
    ~TVaCustomComm() override;

    // The main thread that receive events are delivered on. When none is set, Open uses
    // ProcessMainThread(). It must outlive the port's open period.
    void SetMainThread(MainThread* mainThread) { mainThread_ = mainThread; }

    // Life and state.
    void Open();
    void Close();
    bool Active() const { return device_.IsOpen(); }
    void CheckOpen() const;
    void Loaded() override;

    // Data.
    int WriteBuf(const void* data, int count);
    bool WriteText(const std::string& text);
    bool WriteChar(char c);
    int ReadBuf(void* data, int count);
    std::string ReadText();
    bool ReadChar(char& c);
    int ReadBufUsed();
    int WriteBufUsed();
    int ReadBufFree();
    int WriteBufFree();
    void PurgeRead();
    void PurgeWrite();
    void PurgeReadWrite();

    // Line control.
    void SetDTR(bool on);
    void SetRTS(bool on);
    void SetBreak(bool on);
    void SetXon(bool on);

    // Status.
    void GetCommStatus(uint32_t& errors, SerialComStat& status);
    bool ClearLineErrors();
    bool GetComStat(int n);
    bool GetModemStatus(int line);
    void GetProperties();
    const SerialCommProp& Properties() const { return properties_; }

    // Clients.
    void InsertClient(TVaDispatcher* dispatcher);
    void RemoveClient(TVaDispatcher* dispatcher);
    void DestroyClients();
    void EnableControls();
    void DisableControls();
    int ClientCount() const { return static_cast<int>(clients_.size()); }
    TVaDispatcher* Client(int index) const { return clients_[static_cast<size_t>(index)]; }

    // Published properties.
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool value) { autoOpen_ = value; }
    TVaBaudrate Baudrate() const { return baudrate_; }
    void SetBaudrate(TVaBaudrate value) { ChangeLineSetting(baudrate_, value); }
    TVaParity Parity() const { return parity_; }
    void SetParity(TVaParity value) { ChangeLineSetting(parity_, value); }
    TVaDatabits Databits() const { return databits_; }
    void SetDatabits(TVaDatabits value) { ChangeLineSetting(databits_, value); }
    TVaStopbits Stopbits() const { return stopbits_; }
    void SetStopbits(TVaStopbits value) { ChangeLineSetting(stopbits_, value); }
    int PortNum() const { return portNum_; }
    void SetPortNum(int value) { ChangeWhileClosed(portNum_, value); }
    const std::string& DeviceName() const { return deviceName_; }
    void SetDeviceName(const std::string& value) { deviceName_ = value; }
    TVaCommEvents MonitorEvents() const { return monitorEvents_; }
    void SetMonitorEvents(TVaCommEvents value) { ChangeWhileClosed(monitorEvents_, value); }
    TVaBuffers& Buffers() { return buffers_; }
    void SetBuffers(const TVaBuffers& value) { buffers_.Assign(value); }
    TVaEventChars& EventChars() { return eventChars_; }
    void SetEventChars(const TVaEventChars& value) { eventChars_.Assign(value); }
    TVaFlowControl FlowControl() const { return flowControl_; }
    void SetFlowControl(TVaFlowControl value) { ChangeLineSetting(flowControl_, value); }
    TVaCommOptions Options() const { return options_; }
    void SetOptions(TVaCommOptions value) { ChangeLineSetting(options_, value); }
    TVaThreadPriority Priority() const { return priority_; }
    void SetPriority(TVaThreadPriority value) { ChangeWhileClosed(priority_, value); }
    TVaDTRControl DTRControl() const { return dtrControl_; }
    void SetDTRControl(TVaDTRControl value) { ChangeLineSetting(dtrControl_, value); }
    TVaRTSControl RTSControl() const { return rtsControl_; }
    void SetRTSControl(TVaRTSControl value) { ChangeLineSetting(rtsControl_, value); }
    TVaSyncEvents SyncEvents() const { return syncEvents_; }
    void SetSyncEvents(TVaSyncEvents value) { ChangeWhileClosed(syncEvents_, value); }

    // Events (assign a function; an empty function means no handler).
    TNotifyEvent OnOpen, OnClose, OnCts, OnDsr, OnRlsd, OnRing, OnBreak;
    TVaCommErrorEvent OnError;
    TVaCommRxCharEvent OnRxChar;
    TVaCommRxBufEvent OnRxBuf;
    // Called on the receive thread with the bytes of each data event, right after their
    // delivery to the main thread (the attached components and OnRxBuf, in arrival order) has
    // been queued: the bytes are then read on the receive thread, and OnRxChar is
    // not called. The receive thread does not wait for that delivery: bytes that arrive
    // before the main thread has taken the last ones join them (one OnRxBuf for both). For a
    // consumer that must not wait for the main thread (an engine's answer assembly); it must
    // be quick and thread-safe. Set or clear it while the port is closed.
    std::function<void(PVaData data, int count)> OnRxTap;
    // With OnRxTap set: the tap's consumer reads received bytes itself, on its own thread,
    // with ReadTapped, instead of the receive thread (which then only watches the line).
    // Set while closed. False when the device cannot wait for bytes that way: the receive
    // thread then reads them itself.
    bool SetTapReads(bool on);
    // Waits up to timeoutMs for received bytes, or until cancelFd (when >= 0) is readable,
    // and hands what arrived to OnRxTap and to the main thread's data event, which the
    // receive thread posts at most every kDeliveryIntervalMs with all bytes read meanwhile.
    // Returns the byte count, 0 when nothing came, -1 once the device
    // is gone (LineGone is then set and OnLineGone called) or without SetTapReads. One thread
    // at a time (the tap's consumer).
    int ReadTapped(int timeoutMs, int cancelFd);
    TNotifyEvent OnRxFlag, OnTxEmpty, OnPErr, OnRx80Full, OnEvent1, OnEvent2;
    // Called on the receive thread (not the main thread) at the moment it finds the device
    // gone, with the system's error number (see LineGone). For waking a waiting worker; set
    // it before Open and do nothing slow in it.
    std::function<void(int error)> OnLineGone;

    // The device path that Open uses: DeviceName with every "%d" replaced by PortNum, then
    // resolved through the port names ("COM7", "\\.\COM7", "\\.\/dev/pts/3", "/dev/ttyUSB0").
    std::string DevicePath() const;
    // The device layer (for checks and measurements; do not read or write through it).
    const SerialDevice& Device() const { return device_; }
    // The system's error number once the receive thread has found the device gone (unplugged,
    // far side closed: EIO or a hang-up) during this open period, else 0. Any thread may ask;
    // a waiting engine uses it to end at once instead of waiting out its answer time.
    int LineGone() const { return lineGone_.load(); }
    // The receive thread's kernel thread id while one runs, else 0.
    int ReceiveThreadId() const { return thread_ ? thread_->ThreadId() : 0; }

  protected:
    virtual void CreateHandle();
    virtual void CreateThread();
    void DestroyThread();
    virtual void HandleDataEvent();
    // The attached components and OnRxBuf get a block of received bytes (main thread).
    void DeliverData(PVaData data, int count);
    virtual void HandleLineEvent(uint32_t mask);
    virtual void WriteEvents(uint32_t mask);
    virtual void WriteBuffer(PVaData data, int count);
    void SetDCB();
    // A line setting changed: the device's settings follow (while open).
    template <class T>
    void ChangeLineSetting(T& field, T value) {
        if (value == field) return;
        field = value;
        SetDCB();
    }
    // A setting that only a closed port takes: refused (CheckOpen) while open.
    template <class T>
    void ChangeWhileClosed(T& field, T value) {
        if (value == field) return;
        CheckOpen();
        field = value;
    }
    // The hidden notification window's procedure (by-message delivery).
    intptr_t WindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);

  private:
    friend class TVaCommThread;
    void BuffersChanged();
    void Purge(uint32_t flags);
    void Escape(int function);
    SerialComStat QueueStatus();
    // Calls each attached client in list order; false when a call closed or destroyed the port.
    bool ForEachClient(const std::function<void(TVaDispatcher*)>& call);

    SerialDevice device_;
    TVaCriticalSection lock_;
    SerialCommProp properties_{};
    std::shared_ptr<TVaCommThread> thread_;
    MainThread* mainThread_ = nullptr;
    // False once the port is being destroyed; handlers may destroy the port they were
    // called by, so delivery loops hold a copy and stop when it turns false.
    std::shared_ptr<bool> alive_;
    std::vector<uint8_t> rxBlock_;   // reused for every data event
    std::atomic<int> lineGone_{0};   // written by the receive thread, reset by Open
    bool tapReads_ = false;          // set while closed
    std::vector<uint8_t> tapBlock_;  // ReadTapped's thread only
    bool inDataEvent_ = false;

    bool autoOpen_ = false;
    TVaBaudrate baudrate_ = br1200;
    TVaParity parity_ = paNone;
    TVaDatabits databits_ = db8;
    TVaStopbits stopbits_ = sb1;
    int portNum_ = 0;
    std::string deviceName_ = "COM%d";
    TVaCommEvents monitorEvents_{ceError, ceRxChar, ceTxEmpty};
    TVaBuffers buffers_;
    TVaEventChars eventChars_;
    TVaFlowControl flowControl_ = fcRtsCts;
    TVaCommOptions options_{};
    TVaThreadPriority priority_ = tpNormal;
    TVaDTRControl dtrControl_ = dtrEnable;
    TVaRTSControl rtsControl_ = rtsEnable;
    TVaSyncEvents syncEvents_ = seByMethod;
    std::vector<TVaDispatcher*> clients_;
};

// The port as placed on a form: publishes the properties of TVaCustomComm.
class TVaComm : public TVaCustomComm {};

// Base of the components that attach to a port (TVaBuffer).
class TVaCommComponent : public TVaComponent {
  public:
    TVaCommComponent();
    ~TVaCommComponent() override;

    TVaCustomComm* Comm() const { return comm_; }
    void SetComm(TVaCustomComm* port);
    bool Active() const { return dispatcher_->Active; }
    void SetActive(bool value) { dispatcher_->Active = value; }
    TVaDispatcher* Dispatcher() const { return dispatcher_.get(); }

  protected:
    friend class TVaDispatcher;
    virtual void DataChanged(PVaData data, int count);
    virtual void LineChanged(uint32_t mask);
    void Notification(TVaComponent* component, TOperation operation) override;

  private:
    std::unique_ptr<TVaDispatcher> dispatcher_;
    TVaCustomComm* comm_ = nullptr;
};

}  // namespace zembra
