#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "protocol/PortOperations.h"
#include "protocol/RunView.h"

namespace zembra::test {

// A host that records what the engine does to "the window".
class RecordingHost : public RunView {
  public:
    struct Line {
        std::string text;
        std::uint32_t colour;
        bool operator==(const Line&) const = default;
    };
    std::vector<Line> lines;
    std::vector<Line> multiLines;
    std::vector<int> gauges;
    std::vector<std::string> titles;
    std::vector<std::string> addresses;
    std::vector<std::pair<int, std::string>> markers;
    int controlsGivenBack = 0;
    struct Row {
        int slot;
        int percent;
        std::string status;
        bool operator==(const Row&) const = default;
    };
    std::vector<Row> rows;
    std::vector<std::pair<int, int>> leaders;  // image, percent

    void AppendLine(LogPane pane, const std::string& text, std::uint32_t colour) override {
        (pane == LogPane::Front ? lines : multiLines).push_back({text, colour});
    }
    void SetGauge(int percent) override { gauges.push_back(percent); }
    void SetTitle(const std::string& title) override { titles.push_back(title); }
    void SetAddressText(const std::string& text) override { addresses.push_back(text); }
    void SetMarker(int slot, const std::string& marker) override {
        markers.emplace_back(slot, marker);
    }
    void ShowSlot(int slot, const MultiSlotView& view) override {
        rows.push_back({slot, view.percent, view.statusText});
    }
    void ShowLeader(const MultiSlotView& lead) override {
        leaders.emplace_back(lead.currentImage, lead.percent);
    }
    void RunEnded(int slot, const RunEnd&) override {
        if (slot == 0) ++controlsGivenBack;
    }
};

// Port operations that keep what is written; onWrite may answer (it runs inside the write, on
// the writing thread, as a port's receive thread hands over an answer).
class FakePorts : public PortOperations {
  public:
    std::vector<std::vector<std::uint8_t>> writes;
    std::vector<int> bauds;
    std::string device;
    int portNumber = 0;
    bool open = false;
    bool failOpen = false;
    bool failWrites = false;
    std::function<void(const std::vector<std::uint8_t>&)> onWrite;

    void OpenSinglePort() override {
        if (failOpen) throw std::runtime_error("Invalid port number (COM1)");
        open = true;
    }
    void CloseSinglePort() override { open = false; }
    void SetSinglePortName(int n) override { portNumber = n; }
    void SetSinglePortDevice(const std::string& name) override { device = name; }
    void SetSingleBaud(int rate) override { bauds.push_back(rate); }
    void WriteSingle(const std::uint8_t* bytes, std::size_t count) override {
        if (failWrites) throw std::runtime_error("Write error 5: Input/output error");
        writes.emplace_back(bytes, bytes + count);
        if (onWrite) onWrite(writes.back());
    }
    bool singlePortOpen() const override { return open; }
    void SetSingleReceiveTap(std::function<void(const std::uint8_t*, std::size_t)>) override {}
};

}  // namespace zembra::test
