#pragma once

// A tool's side of the line for the simulated phone's tests: opens the phone's
// pseudo-terminal like the serial component does (raw, a given rate), sends frames built by
// the protocol codec and reads the phone's answers.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <lzo/lzo1x.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "protocol/PacketCodec.h"
#include "protocol/ProtocolCodes.h"
#include "sim/SimulatedPhone.h"
#include "tests/support/PhoneSupport.h"

namespace zembra::simtest {

using test::Bytes;

// How long a test waits for what the phone must do. A passing test never waits it out, so it
// is generous: on a loaded machine either side may be held up for seconds.
inline constexpr std::chrono::seconds kPatience{30};

inline const Bytes kAck = {0x7E, 0x02, 0x7E};
inline const Bytes kSendData = {0x7E, 0x03, 0x7E};
inline Bytes Nak(std::uint8_t code) {
    return {0x7E, code, 0x7E};
}

using test::RandomBytes;

// Compresses well, with every byte value that needs escaping somewhere.
inline Bytes PatternBytes(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = (i % 97 == 0) ? static_cast<std::uint8_t>(rng())
                                 : static_cast<std::uint8_t>(0x7C + i % 5);
    return bytes;
}

inline void PutLe32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline Bytes EraseCommand(std::uint32_t address, std::uint32_t length) {
    Bytes p = {CMD_ERASE};
    PutLe32(p, address);
    PutLe32(p, length);
    return p;
}

inline Bytes VersionCommand(std::uint16_t version) {
    return {CMD_VERSION_CHECK, static_cast<std::uint8_t>(version & 0xFF),
            static_cast<std::uint8_t>(version >> 8), 0, 0};
}

inline Bytes WriteDataCommand(std::uint32_t address, const std::uint8_t* data, std::size_t n) {
    Bytes p = {CMD_WRITE_DATA};
    PutLe32(p, address);
    p.push_back(static_cast<std::uint8_t>(n & 0xFF));
    p.push_back(static_cast<std::uint8_t>(n >> 8));
    p.insert(p.end(), data, data + n);
    return p;
}

// Header (address, length) + data, as a compressed block stream sends it.
inline Bytes BlockWithHeader(std::uint32_t address, const Bytes& data) {
    Bytes block;
    PutLe32(block, address);
    PutLe32(block, static_cast<std::uint32_t>(data.size()));
    block.insert(block.end(), data.begin(), data.end());
    return block;
}

inline Bytes Lzo(const Bytes& in) {
    static bool ready = lzo_init() == LZO_E_OK;
    EXPECT_TRUE(ready);
    Bytes out(in.size() + in.size() / 16 + 64 + 3);
    std::vector<std::uint8_t> work(LZO1X_1_MEM_COMPRESS);
    lzo_uint outLength = out.size();
    EXPECT_EQ(lzo1x_1_compress(in.data(), in.size(), out.data(), &outLength, work.data()),
              LZO_E_OK);
    out.resize(outLength);
    return out;
}

class Client {
  public:
    // Opens the device raw at the rate (the tool's part).
    explicit Client(const std::string& device, speed_t rate = B57600) {
        fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(fd_, 0) << device;
        if (fd_ < 0) return;
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, rate);
        cfsetospeed(&t, rate);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~Client() { Close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }

    void SetRate(speed_t rate) {
        termios t{};
        tcgetattr(fd_, &t);
        cfsetispeed(&t, rate);
        cfsetospeed(&t, rate);
        tcsetattr(fd_, TCSANOW, &t);
    }

    // Writes all bytes; false when the line refuses them (hung up).
    bool Write(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                if (::poll(&p, 1, 5000) <= 0) return false;
            } else if (n < 0 && errno == EINTR) {
            } else {
                return false;
            }
        }
        return true;
    }

    // A command frame (escaped, FCS), padded with zeros on USB.
    static Bytes Frame(const Bytes& payload, bool usb) {
        Bytes out(kFrameBufferSize + 4);
        PacketCodec codec;
        std::size_t n =
            codec.Encode(out.data(), payload.data(), static_cast<std::uint16_t>(payload.size()));
        if (usb) n = PadForUsb(out.data(), n);
        out.resize(n);
        return out;
    }

    static Bytes RawFrame(const Bytes& payload) {
        Bytes out(kRawFrameSize);
        EXPECT_EQ(BuildRawFrame(out.data(), payload.data(), payload.size()), kRawFrameSize);
        return out;
    }

    // Reads one response frame: from its 0x7E up to the next 0x7E (stray bytes before the
    // first flag included). Empty when nothing complete arrives in time.
    Bytes ReadFrame(std::chrono::milliseconds timeout = kPatience) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        Bytes got;
        bool open = false;
        for (;;) {
            while (!pending_.empty()) {
                const std::uint8_t b = pending_.front();
                pending_.erase(pending_.begin());
                got.push_back(b);
                if (b == 0x7E) {
                    if (open) return got;
                    open = true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return {};
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            std::uint8_t buf[256];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) pending_.insert(pending_.end(), buf, buf + n);
        }
    }

    // True when no byte arrives within the time.
    bool Quiet(std::chrono::milliseconds time) {
        if (!pending_.empty()) return false;
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(time.count())) == 0;
    }

    // Sends a command frame / raw frame / block and returns the answer frame.
    Bytes Command(const Bytes& payload, bool usb) {
        EXPECT_TRUE(Write(Frame(payload, usb)));
        return ReadFrame();
    }
    Bytes Raw(const Bytes& payload) {
        EXPECT_TRUE(Write(RawFrame(payload)));
        return ReadFrame();
    }
    Bytes Block(const Bytes& block) {
        EXPECT_EQ(block.size(), kDataBlockSize);
        EXPECT_TRUE(Write(block));
        return ReadFrame();
    }

  private:
    int fd_ = -1;
    Bytes pending_;
};

inline Bytes Echo(const Bytes& block) {
    Bytes out(kMaxAckEchoSize);
    out.resize(BuildAckEcho(out.data(), block.data()));
    return out;
}

// Boot loader dialogue up to the download module's start request, as the engine runs it.
// USB: A0 [D0] 12 00 (twice when auto) C0 A0 in the frames of the mode; UART: A0 [D0]
// [12 00] B0 F0 01 C0, then 115,200 bit/s and A0.
inline void EnterModule(Client& c, SimLink link, bool compressed, int version = -1,
                        bool autoMode = false) {
    const bool usb = link == SimLink::Usb;
    ASSERT_EQ(c.Command({CMD_DOWNLOAD_START}, usb), kAck);
    if (version >= 0) {
        ASSERT_EQ(c.Command(VersionCommand(static_cast<std::uint16_t>(version)), usb), kAck);
    }
    bool raw = false;
    if (compressed) {
        ASSERT_EQ(c.Command({CMD_COMPRESSED, 0x00}, usb), kAck);
        raw = usb;
        if (autoMode) {
            ASSERT_EQ(raw ? c.Raw({CMD_COMPRESSED, 0x00}) : c.Command({CMD_COMPRESSED, 0x00}, usb),
                      kAck);
        }
    }
    if (!usb) {
        ASSERT_EQ(c.Command({CMD_MODULE_COPY}, false), kAck);
        ASSERT_EQ(c.Command({CMD_BAUD_SWITCH, BAUD_115200}, false), kAck);
    }
    ASSERT_EQ(raw ? c.Raw({CMD_JUMP}) : c.Command({CMD_JUMP}, usb), kAck);
    if (!usb) c.SetRate(B115200);
    ASSERT_EQ(raw ? c.Raw({CMD_DOWNLOAD_START}) : c.Command({CMD_DOWNLOAD_START}, usb), kAck);
}

}  // namespace zembra::simtest
