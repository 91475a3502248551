#pragma once

// Start-up of simulated phones in a test: the folders they register in, and the phone.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "sim/SimulatedPhone.h"
#include "tests/support/TestSupport.h"

namespace zembra::test {

// The port-alias folder, the serial-device map and the sysfs view of a test, in a scratch
// folder of their own: simulated phones register there, the tool looks there. The
// environment is restored when the object goes.
class PhoneRegistry {
  public:
    PhoneRegistry() : dir_("registry") {
        std::filesystem::create_directories(Sysfs());
        setenv("ZEMBRA_PORT_DIR", Ports().c_str(), 1);
        setenv("ZEMBRA_SERIAL_MAP_DIR", Map().c_str(), 1);
        setenv("ZEMBRA_SYSFS_TTY_DIR", Sysfs().c_str(), 1);
    }
    ~PhoneRegistry() {
        unsetenv("ZEMBRA_PORT_DIR");
        unsetenv("ZEMBRA_SERIAL_MAP_DIR");
        unsetenv("ZEMBRA_SYSFS_TTY_DIR");
    }
    const std::string& root() const { return dir_.path(); }
    std::string Ports() const { return dir_.File("ports"); }
    std::string Map() const { return dir_.File("map"); }
    std::string Sysfs() const { return dir_.File("sysfs"); }

  private:
    ScratchDir dir_;
};

// A simulated phone, started (a failure to start fails the test).
inline std::unique_ptr<SimulatedPhone> StartPhone(SimPhoneConfig config) {
    auto phone = std::make_unique<SimulatedPhone>(std::move(config));
    std::string error;
    EXPECT_TRUE(phone->Start(&error)) << error;
    return phone;
}

// Waits until the phone is in the stage (a phone sees the tool close its line on its own
// thread, a moment after the close).
inline bool WaitForStage(const SimulatedPhone& phone, SimStage stage,
                         std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (phone.Stage() != stage) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace zembra::test
