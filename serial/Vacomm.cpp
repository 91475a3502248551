#include "serial/Vacomm.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/Helpers.h"
#include "platform/PortNames.h"
#include "platform/ThreadControl.h"

namespace zembra {

// ---------------------------------------------------------------------------------------
// TVaDispatcher

TVaDispatcher::~TVaDispatcher() {
    if (comm_) comm_->RemoveClient(this);
}

void TVaDispatcher::DataEvent(PVaData data, int count) {
    if (comm_ && Active) owner_->DataChanged(data, count);
}

void TVaDispatcher::LineEvent(uint32_t mask) {
    if (comm_ && Active) owner_->LineChanged(mask);
}

void TVaDispatcher::SetDTRState(bool on) {
    if (comm_) comm_->SetDTR(on);
}

void TVaDispatcher::PurgeReadWrite() {
    if (comm_) comm_->PurgeReadWrite();
}

int TVaDispatcher::WriteBuf(const void* data, int count) {
    return comm_ ? comm_->WriteBuf(data, count) : 0;
}

bool TVaDispatcher::WriteText(const std::string& text) {
    return comm_ ? comm_->WriteText(text) : false;
}

bool TVaDispatcher::WriteChar(char c) {
    return comm_ ? comm_->WriteChar(c) : false;
}

// ---------------------------------------------------------------------------------------
// TVaCommThread

TVaCommThread::TVaCommThread(TVaCustomComm* owner, MainThread* mainThread)
    : owner_(owner), syncEvents_(owner->SyncEvents()), mainThread_(mainThread) {}

TVaCommThread::~TVaCommThread() {
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            Terminate();
            thread_.join();
        }
    }
}

void TVaCommThread::Start(TVaThreadPriority priority) {
    priority_ = priority;
    // Without its wait event the thread could not be woken for termination.
    if (waitEvent_.Handle() < 0)
        throw std::system_error(waitEvent_.LastError(), std::generic_category(),
                                "receive thread wait event");
    thread_ = std::thread([this] { Execute(); });
    // Wait until the thread runs, so that its id is known once the port is open.
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return tid_.load() != 0; });
}

void TVaCommThread::Terminate() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        terminated_ = true;
    }
    cv_.notify_all();
    waitEvent_.SetEvent();
}

bool TVaCommThread::Terminated() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return terminated_;
}

void TVaCommThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TVaCommThread::Execute() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tid_ = CurrentThreadId();
    }
    cv_.notify_all();
    if (priority_ != tpNormal) SetCurrentThreadPriority(priority_);

    SerialDevice& device = owner_->device_;
    const int cancelFd = waitEvent_.Handle();
    while (!Terminated()) {
        eventMask_ = 0;
        const SerialWaitResult result =
            device.WaitCommEvent(eventMask_, cancelFd, DeliveryWaitMs());
        if (result == SerialWaitResult::Elapsed) {
            PostWaitingDelivery();
            continue;
        }
        if (result == SerialWaitResult::Gone) {
            const int error = errno != 0 ? errno : EIO;
            if (owner_->lineGone_.exchange(error) == 0 && owner_->OnLineGone)
                owner_->OnLineGone(error);
            // The device hung up (unplugged, far side closed): nothing will come any more.
            // Sleep until Close terminates the thread instead of waking up again and again;
            // what a reader took in before the end still reaches the main thread.
            PostWaitingDelivery(true);
            while (waitEvent_.WaitFor(0xFFFFFFFF) == TVaEvent::wrSignaled && PostReaderDelivery()) {
            }
            break;
        }
        if (result == SerialWaitResult::Cancelled) {
            // Not only Terminate signals the wait event: a reader's bytes may wait for delivery.
            if (!PostReaderDelivery()) break;
            continue;
        }
        if (Terminated()) break;
        if (eventMask_ == 0) continue;
        if (syncEvents_ == seByMessage) {
            ByMessage();
        } else if ((eventMask_ & EV_RXCHAR) && owner_->OnRxTap && ReadAhead()) {
            HandOver(ahead_.data(), ahead_.size());
            ahead_.clear();
            eventMask_ &= ~EV_RXCHAR;
            if (eventMask_ != 0) Synchronize(SyncKind::Method);
        } else {
            Synchronize(SyncKind::Method);
        }
    }
}

bool TVaCommThread::ReadAhead() {
    ahead_.resize(VaMaxDataBlock);
    long n;
    {
        std::lock_guard<TVaCriticalSection> lock(owner_->lock_);
        n = owner_->device_.Read(ahead_.data(), ahead_.size());
    }
    // A failed read leaves the bytes (and the error) to the main thread's usual path.
    ahead_.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return n > 0;
}

void TVaCommThread::HandOver(const uint8_t* data, size_t count) {
    // The bytes join the main thread's queue before the tap sees them; the main thread is
    // woken after the tap, so that the tap's consumer runs first.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (terminated_) return;
        tapped_.insert(tapped_.end(), data, data + count);
    }
    owner_->OnRxTap(data, static_cast<int>(count));
    PostWaitingDelivery();
}

bool TVaCommThread::BytesWaitForPost() const {
    return !terminated_ && !deliveryPosted_ && !readerDeliveryDue_ && !tapped_.empty();
}

int TVaCommThread::DeliveryWaitMs() const {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!BytesWaitForPost()) return -1;
    }
    const auto due = lastPost_ + std::chrono::milliseconds(kDeliveryIntervalMs);
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
}

void TVaCommThread::PostWaitingDelivery(bool now) {
    const auto time = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!BytesWaitForPost()) return;
        if (!now && time < lastPost_ + std::chrono::milliseconds(kDeliveryIntervalMs)) return;
        deliveryPosted_ = true;
    }
    lastPost_ = time;
    PostDelivery();
}

void TVaCommThread::HandOverFromReader(const uint8_t* data, size_t count) {
    bool tell;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (terminated_) return;
        tapped_.insert(tapped_.end(), data, data + count);
        tell = !readerDeliveryDue_;  // otherwise the delivery on its way takes these as well
        readerDeliveryDue_ = true;
    }
    owner_->OnRxTap(data, static_cast<int>(count));
    if (tell) waitEvent_.SetEvent();
}

bool TVaCommThread::PostReaderDelivery() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (terminated_) return false;
    // Reset under the lock: a Terminate from now on signals the event again.
    waitEvent_.ResetEvent();
    if (!readerDeliveryDue_) return true;
    const auto due = lastPost_ + std::chrono::milliseconds(kDeliveryIntervalMs);
    if (cv_.wait_until(lock, due, [this] { return terminated_; })) return false;
    lastPost_ = std::chrono::steady_clock::now();
    lock.unlock();
    PostDelivery();
    return true;
}

void TVaCommThread::PostDelivery() {
    mainThread_->Post([self = shared_from_this()] { self->DeliverTapped(); });
}

void TVaCommThread::DeliverTapped() {
    std::vector<uint8_t> bytes;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (terminated_) return;
        bytes.swap(tapped_);
        readerDeliveryDue_ = false;
        deliveryPosted_ = false;
    }
    // As RunSynchronized: Close runs on this (main) thread and terminates the thread first.
    // At most one read's worth per data event, as when the main thread reads.
    for (size_t at = 0; at < bytes.size() && !Terminated(); at += VaMaxDataBlock) {
        const size_t n = std::min<size_t>(VaMaxDataBlock, bytes.size() - at);
        try {
            owner_->DeliverData(bytes.data() + at, static_cast<int>(n));
        } catch (...) {
            HandleApplicationException();
        }
    }
    // The storage goes back for the next bytes (no allocation per delivery).
    std::lock_guard<std::mutex> lock(mutex_);
    if (tapped_.empty() && tapped_.capacity() < bytes.capacity()) {
        bytes.clear();
        tapped_.swap(bytes);
    }
}

bool TVaCommThread::Synchronize(SyncKind kind, uint32_t message, uintptr_t wParam) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (terminated_) return false;
        done_ = false;
        kind_ = kind;
        message_ = message;
        wParam_ = wParam;
    }
    // The queued call keeps this object alive; it does nothing once the thread is terminated
    // (Close ran first), so the port may be gone by then.
    std::shared_ptr<TVaCommThread> self = shared_from_this();
    mainThread_->Post([self] { self->RunSynchronized(); });
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return done_ || terminated_; });
    return !terminated_;
}

void TVaCommThread::RunSynchronized() {
    SyncKind kind;
    uint32_t message;
    uintptr_t wParam;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (terminated_) return;
        kind = kind_;
        message = message_;
        wParam = wParam_;
    }
    // Close runs on this (main) thread as well, so the port stays alive from the check above
    // until a handler closes or destroys it; both terminate this thread first.
    if (kind == SyncKind::Method) {
        ByMethod();
    } else {
        try {
            owner_->WindowProc(message, wParam, 0);
        } catch (...) {
            HandleApplicationException();
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    cv_.notify_all();
}

void TVaCommThread::ByMethod() {
    uint32_t mask = eventMask_;
    if (mask & EV_RXCHAR) {
        try {
            owner_->HandleDataEvent();
        } catch (...) {
            HandleApplicationException();
        }
        mask &= ~EV_RXCHAR;
        if (Terminated()) return;  // a handler closed (or destroyed) the port
    }
    if (mask) {
        try {
            owner_->HandleLineEvent(mask);
        } catch (...) {
            HandleApplicationException();
        }
    }
}

void TVaCommThread::ByMessage() {
    uint32_t mask = eventMask_;
    if (mask & EV_RXCHAR) {
        if (!Synchronize(SyncKind::Message, WM_VACOMM_DATA, 0)) return;
        mask &= ~EV_RXCHAR;
    }
    if (mask) Synchronize(SyncKind::Message, WM_VACOMM_LINE, mask);
}

// ---------------------------------------------------------------------------------------
// TVaCustomComm

TVaCustomComm::TVaCustomComm() : alive_(std::make_shared<bool>(true)) {
    buffers_.SetOnChange(this, [this](TVaComponent*) { BuffersChanged(); });
    eventChars_.SetOnChange(this, [this](TVaComponent*) { SetDCB(); });
}

TVaCustomComm::~TVaCustomComm() {
    *alive_ = false;
    Destroying_();  // attached components let go of the port while it is still whole
    try {
        Close();
    } catch (...) {
        HandleApplicationException();
    }
    DestroyClients();
}

void TVaCustomComm::CheckOpen() const {
    if (Active()) throw EVaCommError(sPortOpen);
}

std::string TVaCustomComm::DevicePath() const {
    std::string path;
    for (size_t i = 0; i < deviceName_.size(); ++i) {
        const char next = i + 1 < deviceName_.size() ? deviceName_[i + 1] : '\0';
        if (deviceName_[i] == '%' && (next == 'd' || next == '%')) {
            path += next == 'd' ? std::to_string(portNum_) : "%";
            ++i;
        } else {
            path += deviceName_[i];
        }
    }
    return path;
}

void TVaCustomComm::CreateHandle() {
    const std::string device = ResolvePortDevice(DevicePath());
    // An empty device: the name needed the alias folder, which is refused.
    const std::string refusal = device.empty() ? PortAliasFolderProblem() : std::string();
    if (refusal.empty() && device_.Open(device)) return;
    const int error = errno;
    const bool missing = refusal.empty() && (error == ENOENT || error == ENXIO || error == ENODEV);
    std::string given = PortDisplayName(DevicePath());
    if (given != device && !device.empty()) given += " (" + device + ")";
    const std::string reason = refusal.empty() ? ErrorNumberText(error) : refusal;
    throw EVaCommError(
        FormatText(missing ? sInvalidPortNum : sCantOpenDevice, given.c_str(), reason.c_str()));
}

void TVaCustomComm::Open() {
    CheckOpen();
    lineGone_.store(0);
    CreateHandle();
    try {
        SetDCB();
        if (!device_.SetupComm(static_cast<uint32_t>(buffers_.ReadSize()),
                               static_cast<uint32_t>(buffers_.WriteSize())))
            RaiseCommError(sSetupCommError, errno);
        SerialTimeouts timeouts;
        timeouts.ReadIntervalTimeout = MAXDWORD;
        if (!device_.SetCommTimeouts(timeouts)) RaiseCommError(sSetTimeoutsError, errno);
        const uint32_t mask = EventMaskOf(monitorEvents_);
        // Bytes left to ReadTapped are not the receive thread's to watch.
        const uint32_t watched = tapReads_ ? mask & ~(EV_RXCHAR | EV_RX80FULL) : mask;
        if (!device_.SetCommMask(watched)) RaiseCommError(sSetEventMaskError, errno);
        if (mask != 0) CreateThread();
    } catch (...) {
        DestroyThread();
        device_.Close(0);
        throw;
    }
    if (OnOpen) {
        try {
            TNotifyEvent handler = OnOpen;
            handler(this);
        } catch (...) {
            HandleApplicationException();
        }
    }
}

void TVaCustomComm::Close() {
    if (!Active()) return;
    DestroyThread();
    {
        // A write of another thread finishes before the device goes (never after, on a
        // closed or reused descriptor).
        std::lock_guard<TVaCriticalSection> lock(lock_);
        device_.Close(static_cast<int>(std::min<uint32_t>(buffers_.WriteTimeout(), 1000)));
    }
    if (!Destroying() && OnClose) {
        TNotifyEvent handler = OnClose;
        handler(this);
    }
}

void TVaCustomComm::Loaded() {
    TVaComponent::Loaded();
    if (autoOpen_ && !Designing()) Open();
}

void TVaCustomComm::CreateThread() {
    MainThread* mainThread = mainThread_ ? mainThread_ : ProcessMainThread();
    if (!mainThread) throw EVaCommError(sNoMainThread);
    auto thread = std::make_shared<TVaCommThread>(this, mainThread);
    thread->Start(priority_);
    std::lock_guard<TVaCriticalSection> lock(lock_);  // ReadTapped looks at thread_
    thread_ = std::move(thread);
}

void TVaCustomComm::DestroyThread() {
    std::shared_ptr<TVaCommThread> thread;
    {
        std::lock_guard<TVaCriticalSection> lock(lock_);
        thread = std::move(thread_);
    }
    if (!thread) return;
    thread->Terminate();
    // The thread never waits for the main thread once terminated, so this join is short;
    // it also makes sure the thread is out of its wait on the device before the device closes.
    thread->WaitFor();
}

void TVaCustomComm::SetDCB() {
    if (!Active()) return;
    SerialDcb dcb;
    dcb.BaudRate = BaudrateValue(baudrate_);
    dcb.ByteSize = DatabitsValue(databits_);
    dcb.Parity = ParityCode(parity_);
    dcb.StopBits = StopbitsCode(stopbits_);
    dcb.XonChar = eventChars_.XonChar();
    dcb.XoffChar = eventChars_.XoffChar();
    dcb.ErrorChar = eventChars_.ErrorChar();
    dcb.EvtChar = eventChars_.EventChar();
    dcb.EofChar = 0;
    dcb.XonLim = static_cast<uint16_t>(buffers_.ReadSize() / 4);
    dcb.XoffLim = static_cast<uint16_t>(buffers_.ReadSize() / 4);
    uint32_t flags = FlowControlBits(flowControl_) | DCB_BINARY | DCB_ABORT_ON_ERROR;
    if (flowControl_ != fcDtrDsr) flags |= DTRControlBits(dtrControl_);
    if (flowControl_ != fcRtsCts) flags |= RTSControlBits(rtsControl_);
    for (int o = coContinueOnXOff; o <= coDsrSensitivity; ++o) {
        if (options_.Contains(static_cast<TVaCommOption>(o)))
            flags |= CommOptionBits(static_cast<TVaCommOption>(o));
    }
    dcb.Flags = flags;
    if (!device_.SetCommState(dcb)) RaiseCommError(sWriteDcbError, errno);
}

void TVaCustomComm::BuffersChanged() {
    if (!Active()) return;
    if (!device_.SetupComm(static_cast<uint32_t>(buffers_.ReadSize()),
                           static_cast<uint32_t>(buffers_.WriteSize())))
        RaiseCommError(sSetupCommError, errno);
    SetDCB();
}

// Data ------------------------------------------------------------------------------------

int TVaCustomComm::WriteBuf(const void* data, int count) {
    std::lock_guard<TVaCriticalSection> lock(lock_);
    if (count <= 0) return 0;
    const long n = device_.Write(data, static_cast<unsigned long>(count), buffers_.WriteTimeout());
    if (n >= 0) return static_cast<int>(n);
    const int error = errno;
    if (!ClearLineErrors()) RaiseCommError(sWriteError, error);
    return 0;
}

bool TVaCustomComm::SetTapReads(bool on) {
    CheckOpen();
    tapReads_ = on && SerialDevice::CanReadWithin();
    return tapReads_ == on;
}

int TVaCustomComm::ReadTapped(int timeoutMs, int cancelFd) {
    std::shared_ptr<TVaCommThread> thread;
    long n;
    {
        std::lock_guard<TVaCriticalSection> lock(lock_);
        if (!tapReads_ || !Active()) return -1;
        thread = thread_;
        tapBlock_.resize(VaMaxDataBlock);
        n = device_.ReadWithin(tapBlock_.data(), tapBlock_.size(), timeoutMs, cancelFd);
    }
    if (n > 0) {
        if (thread) {
            thread->HandOverFromReader(tapBlock_.data(), static_cast<size_t>(n));
        } else if (OnRxTap) {
            OnRxTap(tapBlock_.data(), static_cast<int>(n));
        }
        return static_cast<int>(n);
    }
    if (n == 0) return 0;
    const int error = errno != 0 ? errno : EIO;
    if (lineGone_.exchange(error) == 0 && OnLineGone) OnLineGone(error);
    return -1;
}

bool TVaCustomComm::WriteText(const std::string& text) {
    return WriteBuf(text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
}

bool TVaCustomComm::WriteChar(char c) {
    return WriteBuf(&c, 1) == 1;
}

int TVaCustomComm::ReadBuf(void* data, int count) {
    std::lock_guard<TVaCriticalSection> lock(lock_);
    if (count <= 0) return 0;
    const long n = device_.Read(data, static_cast<unsigned long>(count));
    if (n >= 0) return static_cast<int>(n);
    const int error = errno;
    if (!ClearLineErrors()) RaiseCommError(sReadError, error);
    return 0;
}

std::string TVaCustomComm::ReadText() {
    const int n = ReadBufUsed();
    if (n <= 0) return std::string();
    std::string text(static_cast<size_t>(n), '\0');
    const int got = ReadBuf(text.data(), n);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

bool TVaCustomComm::ReadChar(char& c) {
    return ReadBuf(&c, 1) == 1;
}

SerialComStat TVaCustomComm::QueueStatus() {
    uint32_t errors;
    SerialComStat status;
    GetCommStatus(errors, status);
    return status;
}

int TVaCustomComm::ReadBufUsed() {
    return Active() ? static_cast<int>(QueueStatus().InQue) : 0;
}

int TVaCustomComm::WriteBufUsed() {
    return Active() ? static_cast<int>(QueueStatus().OutQue) : 0;
}

int TVaCustomComm::ReadBufFree() {
    return Active() ? buffers_.ReadSize() - ReadBufUsed() : 0;
}

int TVaCustomComm::WriteBufFree() {
    return Active() ? buffers_.WriteSize() - WriteBufUsed() : 0;
}

void TVaCustomComm::Purge(uint32_t flags) {
    if (!Active()) return;
    std::lock_guard<TVaCriticalSection> lock(lock_);
    if (!device_.PurgeComm(flags)) RaiseCommError(sPurgeError, errno);
}

void TVaCustomComm::PurgeRead() {
    Purge(PURGE_RXABORT | PURGE_RXCLEAR);
}

void TVaCustomComm::PurgeWrite() {
    Purge(PURGE_TXABORT | PURGE_TXCLEAR);
}

void TVaCustomComm::PurgeReadWrite() {
    Purge(PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
}

// Line control ----------------------------------------------------------------------------

void TVaCustomComm::Escape(int function) {
    if (!Active()) return;
    if (!device_.EscapeCommFunction(function)) RaiseCommError(sEscapeCommError, errno);
}

void TVaCustomComm::SetDTR(bool on) {
    if (dtrControl_ == dtrHandshake) throw EVaCommError(sNoManualDTR);
    Escape(on ? SETDTR : CLRDTR);
}

void TVaCustomComm::SetRTS(bool on) {
    if (rtsControl_ == rtsHandshake) throw EVaCommError(sNoManualRTS);
    Escape(on ? SETRTS : CLRRTS);
}

void TVaCustomComm::SetBreak(bool on) {
    Escape(on ? SETBREAK : CLRBREAK);
}

void TVaCustomComm::SetXon(bool on) {
    Escape(on ? SETXON : SETXOFF);
}

// Status ----------------------------------------------------------------------------------

void TVaCustomComm::GetCommStatus(uint32_t& errors, SerialComStat& status) {
    std::lock_guard<TVaCriticalSection> lock(lock_);
    errors = 0;
    status = SerialComStat{};
    if (!Active()) return;
    if (!device_.ClearCommError(errors, status)) RaiseCommError(sClearCommError, errno);
}

bool TVaCustomComm::ClearLineErrors() {
    uint32_t errors;
    SerialComStat status;
    GetCommStatus(errors, status);
    if (errors == 0) return false;
    if (OnError) {
        try {
            TVaCommErrorEvent handler = OnError;
            handler(this, errors);
        } catch (...) {
            HandleApplicationException();
        }
    }
    return true;
}

bool TVaCustomComm::GetComStat(int n) {
    if (n < 1 || n > 8) return false;
    return (QueueStatus().Flags >> (n - 1)) & 1u;
}

bool TVaCustomComm::GetModemStatus(int line) {
    static const uint32_t kLines[] = {MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON};
    if (line < 1 || line > 4 || !Active()) return false;
    uint32_t status = 0;
    if (!device_.GetCommModemStatus(status)) RaiseCommError(sModemStateError, errno);
    return (status & kLines[line - 1]) != 0;
}

void TVaCustomComm::GetProperties() {
    if (!Active()) throw EVaCommError(sPortClosed);
    if (!device_.GetCommProperties(properties_)) RaiseCommError(sGetPropertiesError, errno);
}

// Clients ---------------------------------------------------------------------------------

void TVaCustomComm::InsertClient(TVaDispatcher* dispatcher) {
    if (!dispatcher) return;
    dispatcher->comm_ = this;
    clients_.push_back(dispatcher);
}

void TVaCustomComm::RemoveClient(TVaDispatcher* dispatcher) {
    auto it = std::find(clients_.begin(), clients_.end(), dispatcher);
    if (it == clients_.end()) return;
    dispatcher->comm_ = nullptr;
    clients_.erase(it);
}

void TVaCustomComm::DestroyClients() {
    while (!clients_.empty()) RemoveClient(clients_.back());
}

void TVaCustomComm::EnableControls() {
    for (TVaDispatcher* d : clients_) d->Active = true;
}

void TVaCustomComm::DisableControls() {
    for (TVaDispatcher* d : clients_) d->Active = false;
}

// Receive path (main thread) -----------------------------------------------------------------

void TVaCustomComm::HandleDataEvent() {
    const int n = ReadBufUsed();
    if (n <= 0) return;
    if (clients_.empty()) {
        if (OnRxChar) {
            TVaCommRxCharEvent handler = OnRxChar;
            handler(this, n);
        }
        return;
    }
    const int wanted = std::min(n, VaMaxDataBlock);
    // One block reused for every event; a nested event (a handler that runs this again)
    // gets a block of its own.
    std::vector<uint8_t> nested;
    std::vector<uint8_t>& block = inDataEvent_ ? nested : rxBlock_;
    if (block.size() < static_cast<size_t>(wanted)) block.resize(static_cast<size_t>(wanted));
    const int got = ReadBuf(block.data(), wanted);
    if (got <= 0) return;
    DeliverData(block.data(), got);
}

void TVaCustomComm::DeliverData(PVaData data, int count) {
    std::shared_ptr<bool> alive = alive_;
    const bool outer = !inDataEvent_;
    inDataEvent_ = true;
    try {
        WriteBuffer(data, count);
    } catch (...) {
        if (*alive && outer) inDataEvent_ = false;
        throw;
    }
    if (*alive && outer) inDataEvent_ = false;
}

bool TVaCustomComm::ForEachClient(const std::function<void(TVaDispatcher*)>& call) {
    std::shared_ptr<bool> alive = alive_;
    // Handlers may attach, detach, close or destroy: walk by index and re-check each step.
    for (size_t i = 0; i < clients_.size(); ++i) {
        TVaDispatcher* client = clients_[i];
        call(client);
        if (!*alive || !Active()) return false;
        if (i < clients_.size() && clients_[i] != client) {
            // The client removed itself (or was removed): continue with the one now here.
            auto it = std::find(clients_.begin(), clients_.end(), client);
            if (it == clients_.end()) --i;
        }
    }
    return true;
}

void TVaCustomComm::WriteBuffer(PVaData data, int count) {
    if (!ForEachClient([&](TVaDispatcher* client) { client->DataEvent(data, count); })) return;
    if (OnRxBuf) {
        TVaCommRxBufEvent handler = OnRxBuf;
        handler(this, data, count);
    }
}

void TVaCustomComm::WriteEvents(uint32_t mask) {
    ForEachClient([mask](TVaDispatcher* client) { client->LineEvent(mask); });
}

void TVaCustomComm::HandleLineEvent(uint32_t mask) {
    std::shared_ptr<bool> alive = alive_;
    if (mask & EV_ERR) {
        ClearLineErrors();
        if (!*alive || !Active()) return;
    }
    if (!clients_.empty()) {
        WriteEvents(mask);
        if (!*alive || !Active()) return;
    }
    struct Entry {
        uint32_t bit;
        TNotifyEvent TVaCustomComm::*handler;
    };
    static const Entry kOrder[] = {
        {EV_RXFLAG, &TVaCustomComm::OnRxFlag},     {EV_CTS, &TVaCustomComm::OnCts},
        {EV_DSR, &TVaCustomComm::OnDsr},           {EV_RING, &TVaCustomComm::OnRing},
        {EV_RLSD, &TVaCustomComm::OnRlsd},         {EV_TXEMPTY, &TVaCustomComm::OnTxEmpty},
        {EV_BREAK, &TVaCustomComm::OnBreak},       {EV_PERR, &TVaCustomComm::OnPErr},
        {EV_RX80FULL, &TVaCustomComm::OnRx80Full}, {EV_EVENT1, &TVaCustomComm::OnEvent1},
        {EV_EVENT2, &TVaCustomComm::OnEvent2},
    };
    for (const Entry& e : kOrder) {
        if (!(mask & e.bit) || !(this->*e.handler)) continue;
        TNotifyEvent handler = this->*e.handler;
        handler(this);
        if (!*alive || !Active()) return;
    }
}

intptr_t TVaCustomComm::WindowProc(uint32_t message, uintptr_t wParam, intptr_t) {
    switch (message) {
        case WM_VACOMM_DATA:
            HandleDataEvent();
            return 0;
        case WM_VACOMM_LINE:
            HandleLineEvent(static_cast<uint32_t>(wParam));
            return 0;
        default:
            return 0;  // the default window procedure: nothing to do, result 0
    }
}

// ---------------------------------------------------------------------------------------
// TVaCommComponent

TVaCommComponent::TVaCommComponent() : dispatcher_(std::make_unique<TVaDispatcher>(this)) {}

TVaCommComponent::~TVaCommComponent() {
    Destroying_();
    SetComm(nullptr);
}

void TVaCommComponent::SetComm(TVaCustomComm* port) {
    if (comm_) {
        comm_->RemoveClient(dispatcher_.get());
        RemoveFreeNotification(comm_);
    }
    comm_ = port;
    if (comm_) {
        comm_->InsertClient(dispatcher_.get());
        FreeNotification(comm_);
    }
}

void TVaCommComponent::DataChanged(PVaData, int) {}

void TVaCommComponent::LineChanged(uint32_t) {}

void TVaCommComponent::Notification(TVaComponent* component, TOperation operation) {
    TVaComponent::Notification(component, operation);
    if (operation == opRemove && component == comm_) SetComm(nullptr);
}

}  // namespace zembra
