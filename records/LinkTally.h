#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "job/DownloadSettings.h"

namespace zembra {

// What one phone's run moved over its port, counted on the host's side of the port: bytes
// written, negative answers received (a response frame whose code is NAK_INVALID_FCS ...
// NAK_FAILED), and retransmissions (a write that repeats the one a negative answer refused,
// and each checksum-echo mismatch the engine reports). It also notes which transfer variant an auto
// mode settled on from the engine's log lines. Any thread: a port's writes, its received
// bytes and the engine's log lines may each come from a different one; a lock serialises
// them. Bytes must be counted before the engine can act on them (the single port counts them
// on its receive thread, before the answer wakes the worker), so that a retransmission is seen
// as one.
class LinkTally {
  public:
    LinkTally() = default;
    LinkTally(const LinkTally&) = delete;
    LinkTally& operator=(const LinkTally&) = delete;

    void Reset();

    // One port write.
    void Written(const std::uint8_t* bytes, std::size_t count);
    // Bytes received from the phone.
    void Received(const std::uint8_t* data, std::size_t count);
    // One log line of the engine for this phone (without a port prefix).
    void LogLine(const std::string& text);

    std::uint64_t bytesSent() const;
    std::uint64_t naks() const;
    std::uint64_t retransmissions() const;
    // Compressed or normal once the engine said which; Auto before.
    ProtocolChoice settled() const;

  private:
    mutable std::mutex mutex_;
    std::uint64_t bytesSent_ = 0;
    std::uint64_t naks_ = 0;
    std::uint64_t retransmissions_ = 0;
    bool afterFlag_ = false;   // the last byte received was a frame flag
    bool nakPending_ = false;  // a negative answer not yet followed by a write
    std::vector<std::uint8_t> lastWrite_;
    ProtocolChoice settled_ = ProtocolChoice::Auto;
};

}  // namespace zembra
