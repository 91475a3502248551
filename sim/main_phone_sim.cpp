// zembra-phone-sim: one or more simulated phones on pseudo-terminals, until interrupted.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/PortNames.h"
#include "platform/Version.h"
#include "sim/SimulatedPhone.h"

using namespace zembra;

namespace {

const char* kUsage =
    "Usage: zembra-phone-sim [options]\n"
    "\n"
    "Runs simulated phones (boot loader and download module of the Zembra download\n"
    "protocol) on pseudo-terminals until interrupted (Ctrl-C, SIGTERM). Each phone prints\n"
    "one line: its port name, its device, its device-map value and its link. Errors (a\n"
    "tool that sent something wrong) go to stderr as they happen.\n"
    "\n"
    "Line and registration:\n"
    "  --link usb|uart          link of the phones (default usb)\n"
    "  --port COMn              port name of the first phone (default COM70 on USB,\n"
    "                           COM100 on UART); the others get the next numbers\n"
    "  --count N                number of phones (default 1)\n"
    "  --device PATH            open PATH instead of a new pseudo-terminal (one phone)\n"
    "  --trelvic N              device-map value \\Device\\trelvic<N> of the first phone\n"
    "                           (default: port number - 65)\n"
    "  --no-register            register neither port aliases nor device-map entries\n"
    "                           (a USB phone registers both, a UART phone only the alias;\n"
    "                           folders: $ZEMBRA_PORT_DIR, $ZEMBRA_SERIAL_MAP_DIR)\n"
    "\n"
    "Phone:\n"
    "  --accept-version WORD    version word the boot loader accepts (default: any;\n"
    "                           \"--version WORD\" is the former spelling)\n"
    "  --compression on|refuse|silent\n"
    "                           answer to the compressed-mode request: ACK (default),\n"
    "                           NAK 0xA3, or no answer\n"
    "  --flash-size BYTES       flash address space (default 0x4000000, 64 MiB)\n"
    "  --erase-ms MS            time an erase takes (default 0)\n"
    "  --erase-ms-per-64k MS    plus this per started 64 KiB erased (default 0)\n"
    "  --rate BPS|line          pace received and sent bytes at BPS bit/s (10 bits per\n"
    "                           byte on UART, 8 on USB); line: the phone's UART rate\n"
    "                           (57,600, then 115,200 after the switch); default unpaced\n"
    "  --turnaround-us US       fixed time before each answer (default 0)\n"
    "  --no-reset-on-close      keep the session when the tool closes the port (default:\n"
    "                           the phone starts over in its boot loader)\n"
    "  --no-rate-check          accept UART frames whatever rate the tool's port is set to\n"
    "  --dump FILE              after each reset jump write the flash (from address 0 up\n"
    "                           to the highest byte written) to FILE; with several phones\n"
    "                           FILE.COMn\n"
    "  --sessions N             exit after every phone has seen N reset jumps\n"
    "  --verbose                print every unit received and the answer\n"
    "\n"
    "Faults (units count from 1 in arrival order: commands, packets, blocks):\n"
    "  --silent-from N[:data]   answer nothing from the Nth unit (data unit) on\n"
    "  --late MS[:FROM]         answer MS milliseconds late (from unit FROM on)\n"
    "  --nak CODE:COUNT[:SKIP[:data]]\n"
    "                           answer COUNT units (data units) with CODE after SKIP\n"
    "  --corrupt-echo COUNT[:SKIP]\n"
    "                           corrupt COUNT USB normal checksum echoes after SKIP\n"
    "  --stray HEX:COUNT[:SKIP] send the bytes HEX (e.g. 55AA) before COUNT answers\n"
    "  --hangup-after BYTES     unplug after BYTES received bytes: close the line and\n"
    "                           remove the port alias and map entry\n"
    "  --replug-after MS        after such a hang-up, plug in again after MS milliseconds\n"
    "                           (a new device under the same names)\n"
    "  --refuse-version         refuse every version (NAK 0xA4)\n"
    "\n"
    "  --help                   this text\n"
    "  --version                the program's version\n"
    "\n"
    "Exit status: 0, or 3 when a phone saw errors, 2 for bad options, 1 when a phone\n"
    "could not start.\n";

std::mutex outputMutex;

[[noreturn]] void BadOption(const std::string& text) {
    std::fprintf(stderr, "zembra-phone-sim: %s\nTry --help.\n", text.c_str());
    std::exit(2);
}

// A whole number, decimal or "0x" hexadecimal, at most max: nothing else is taken (no sign,
// no blanks, no wrap-around into a smaller type).
std::uint64_t Number(const std::string& text, const char* option,
                     std::uint64_t max = std::numeric_limits<std::uint32_t>::max()) {
    if (text.empty()) BadOption(std::string("missing number for ") + option);
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* const end = text.data() + text.size();
    std::uint64_t v = 0;
    const auto [stop, fault] = std::from_chars(text.data() + (hex ? 2 : 0), end, v, hex ? 16 : 10);
    if (fault == std::errc::result_out_of_range || v > max)
        BadOption(std::string("too large for ") + option + ": " + text + " (at most " +
                  std::to_string(max) + ")");
    if (stop != end) BadOption(std::string("not a number for ") + option + ": " + text);
    return v;
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == ':')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

std::vector<std::uint8_t> HexBytes(const std::string& text) {
    if (text.empty() || text.size() % 2 != 0) BadOption("stray bytes need pairs of hex digits");
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const char* const pair = text.data() + i;
        std::uint8_t b = 0;
        if (std::from_chars(pair, pair + 2, b, 16).ptr != pair + 2) BadOption("not hex: " + text);
        out.push_back(b);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    SimPhoneConfig base;
    std::string port;
    int count = 1;
    bool registerNames = true;
    std::uint64_t sessions = 0;

    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) BadOption("missing value for " + a);
            return args[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--link") {
            const std::string v = value();
            if (v == "usb")
                base.link = SimLink::Usb;
            else if (v == "uart")
                base.link = SimLink::Uart;
            else
                BadOption("--link takes usb or uart");
        } else if (a == "--port") {
            port = value();
            if (PortNumberOf(port) <= 0) BadOption("--port takes a name COMn");
        } else if (a == "--count") {
            count = static_cast<int>(Number(value(), "--count", 64));
            if (count < 1) BadOption("--count takes 1 to 64");
        } else if (a == "--device") {
            base.devicePath = value();
        } else if (a == "--trelvic") {
            base.trelvicIndex = static_cast<int>(Number(value(), "--trelvic", 9999));
        } else if (a == "--no-register") {
            registerNames = false;
        } else if (a == "--version" && (i + 1 == args.size() || args[i + 1].rfind("-", 0) == 0)) {
            std::printf("zembra-phone-sim %s (%s)\n", kVersionNumber, kApplicationTitle);
            return 0;
        } else if (a == "--accept-version" || a == "--version") {
            base.version = static_cast<int>(Number(value(), a.c_str(), 0xFFFF));
        } else if (a == "--compression") {
            const std::string v = value();
            if (v == "on")
                base.compression = SimCompression::Supported;
            else if (v == "refuse")
                base.compression = SimCompression::Refused;
            else if (v == "silent")
                base.compression = SimCompression::Silent;
            else
                BadOption("--compression takes on, refuse or silent");
        } else if (a == "--flash-size") {
            base.flashSize = Number(value(), "--flash-size", 1ull << 32);
            if (base.flashSize == 0) BadOption("--flash-size takes 1 byte to 4 GiB");
        } else if (a == "--erase-ms") {
            base.eraseMs = static_cast<std::uint32_t>(Number(value(), "--erase-ms"));
        } else if (a == "--erase-ms-per-64k") {
            base.eraseMsPer64K = static_cast<std::uint32_t>(Number(value(), "--erase-ms-per-64k"));
        } else if (a == "--rate") {
            const std::string v = value();
            base.linkRateBps =
                v == "line" ? kSimLineRate
                            : static_cast<std::uint32_t>(Number(v, "--rate", kSimLineRate - 1));
        } else if (a == "--turnaround-us") {
            base.turnaroundUs = static_cast<std::uint32_t>(Number(value(), "--turnaround-us"));
        } else if (a == "--no-reset-on-close") {
            base.resetOnClose = false;
        } else if (a == "--no-rate-check") {
            base.checkLineRate = false;
        } else if (a == "--dump") {
            base.dumpPath = value();
        } else if (a == "--sessions") {
            sessions = Number(value(), "--sessions", ~0ull);
        } else if (a == "--verbose") {
            base.eventPerUnit = true;
        } else if (a == "--silent-from") {
            const auto p = Split(value());
            base.faults.silentFromUnit = Number(p[0], "--silent-from", ~0ull);
            if (p.size() > 2 || (p.size() == 2 && p[1] != "data"))
                BadOption("--silent-from takes N or N:data");
            base.faults.silentDataOnly = p.size() == 2;
        } else if (a == "--late") {
            const auto p = Split(value());
            if (p.size() > 2) BadOption("--late takes MS or MS:FROM");
            base.faults.lateMs = static_cast<std::uint32_t>(Number(p[0], "--late"));
            if (p.size() == 2) base.faults.lateFromUnit = Number(p[1], "--late", ~0ull);
        } else if (a == "--nak") {
            const auto p = Split(value());
            if (p.size() < 2 || p.size() > 4 || (p.size() == 4 && p[3] != "data"))
                BadOption("--nak takes CODE:COUNT[:SKIP[:data]]");
            base.faults.nakCode = static_cast<std::uint8_t>(Number(p[0], "--nak", 0xFF));
            base.faults.nakCount = static_cast<std::uint32_t>(Number(p[1], "--nak"));
            if (p.size() >= 3) base.faults.nakSkip = Number(p[2], "--nak", ~0ull);
            base.faults.nakDataOnly = p.size() == 4;
        } else if (a == "--corrupt-echo") {
            const auto p = Split(value());
            if (p.size() > 2) BadOption("--corrupt-echo takes COUNT[:SKIP]");
            base.faults.corruptEchoCount =
                static_cast<std::uint32_t>(Number(p[0], "--corrupt-echo"));
            if (p.size() == 2) base.faults.corruptEchoSkip = Number(p[1], "--corrupt-echo", ~0ull);
        } else if (a == "--stray") {
            const auto p = Split(value());
            if (p.size() < 2 || p.size() > 3) BadOption("--stray takes HEX:COUNT[:SKIP]");
            base.faults.strayBytes = HexBytes(p[0]);
            base.faults.strayCount = static_cast<std::uint32_t>(Number(p[1], "--stray"));
            if (p.size() == 3) base.faults.straySkip = Number(p[2], "--stray", ~0ull);
        } else if (a == "--hangup-after") {
            base.faults.hangupAfterBytes = Number(value(), "--hangup-after", ~0ull);
        } else if (a == "--replug-after") {
            base.faults.replugAfterMs =
                static_cast<std::uint32_t>(Number(value(), "--replug-after"));
        } else if (a == "--refuse-version") {
            base.faults.refuseVersion = true;
        } else {
            BadOption("unknown option " + a);
        }
    }
    if (!base.devicePath.empty() && count != 1) BadOption("--device runs one phone");
    if (port.empty()) port = base.link == SimLink::Usb ? "COM70" : "COM100";
    const int firstPort = PortNumberOf(port);

    // SIGINT and SIGTERM are taken by the main thread through a signalfd; the phones' threads
    // inherit the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int sigFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (sigFd < 0) {
        std::perror("zembra-phone-sim: signalfd");
        return 1;
    }

    std::vector<std::unique_ptr<SimulatedPhone>> phones;
    for (int i = 0; i < count; ++i) {
        SimPhoneConfig config = base;
        const std::string name = "COM" + std::to_string(firstPort + i);
        config.portName = registerNames ? name : std::string();
        if (base.trelvicIndex >= 0) config.trelvicIndex = base.trelvicIndex + i;
        if (!config.dumpPath.empty() && count > 1) config.dumpPath += "." + name;
        config.onEvent = [name](const std::string& line, bool isError) {
            std::lock_guard<std::mutex> lock(outputMutex);
            if (isError) {
                std::fprintf(stderr, "%s: error: %s\n", name.c_str(), line.c_str());
            } else {
                std::fprintf(stdout, "%s: %s\n", name.c_str(), line.c_str());
                std::fflush(stdout);
            }
        };
        auto phone = std::make_unique<SimulatedPhone>(config);
        std::string error;
        if (!phone->Start(&error)) {
            std::fprintf(stderr, "zembra-phone-sim: %s: %s\n", name.c_str(), error.c_str());
            phones.clear();  // stops and unregisters the phones started so far
            return 1;
        }
        {
            std::lock_guard<std::mutex> lock(outputMutex);
            const std::string value = phone->DeviceMapValue();
            std::printf("%s %s %s %s\n", name.c_str(), phone->DevicePath().c_str(),
                        value.empty() ? "-" : value.c_str(),
                        base.link == SimLink::Usb ? "usb" : "uart");
            std::fflush(stdout);
        }
        phones.push_back(std::move(phone));
    }

    for (;;) {
        pollfd p{sigFd, POLLIN, 0};
        const int r = poll(&p, 1, sessions > 0 ? 200 : -1);
        if (r > 0) {
            signalfd_siginfo info{};
            if (read(sigFd, &info, sizeof info) > 0) break;
        }
        if (sessions > 0 && std::all_of(phones.begin(), phones.end(), [&](const auto& phone) {
                return phone->Counters().resets >= sessions;
            }))
            break;
    }

    bool errors = false;
    for (auto& phone : phones) {
        phone->Stop();
        const SimCounters c = phone->Counters();
        if (c.errors > 0) errors = true;
        std::lock_guard<std::mutex> lock(outputMutex);
        std::printf(
            "%s: %llu units, %llu bytes written, %llu reset jumps, %llu errors\n",
            ("COM" + std::to_string(firstPort + static_cast<int>(&phone - &phones[0]))).c_str(),
            static_cast<unsigned long long>(c.units),
            static_cast<unsigned long long>(c.bytesWritten),
            static_cast<unsigned long long>(c.resets), static_cast<unsigned long long>(c.errors));
    }
    close(sigFd);
    return errors ? 3 : 0;
}
