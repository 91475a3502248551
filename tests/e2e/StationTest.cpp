// zembra-cli as a production station, run as a program: records of every phone run checked
// against the phones' flash, the station loop with phones plugged in and out (single and
// eight at once), --port auto, the flash-range check, and records that cannot be written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/Station.h"
#include "platform/Helpers.h"
#include "platform/SerialDeviceMap.h"
#include "records/RecordStore.h"
#include "records/Sha256.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/support/CliProcess.h"
#include "tests/support/UsbPorts.h"

extern char** environ;

namespace zembra::e2e {
namespace {

using namespace std::chrono_literals;

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using test::CliProcess;

int RunCli(const std::vector<std::string>& args, const std::string& outputPath) {
    CliProcess cli(args, outputPath);
    return cli.Wait();
}

const std::vector<std::string> kFast = {"--gap",         "1",    "--command-wait",  "300",
                                        "--packet-wait", "2000", "--startup-delay", "10"};

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

class StationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        code = CodeImage(0x20000, 0x4215, 0x8000, 31);
        font = RandomBytes(0x10000, 32);
        codePath = files.Write("code.bin", code);
        fontPath = files.Write("font1_0x400000.bin", font);
        db = files.File("records.sqlite");
        job = {"--code", codePath, "--font1", fontPath, "--records", db};
    }
    void TearDown() override { phones.clear(); }

    SimulatedPhone& AddPhone(int device, SimFaultPlan faults = {}) {
        SimPhoneConfig config;
        config.link = SimLink::Usb;
        config.portName = FormatText("COM%d", 65 + device);
        config.faults = faults;
        phones.push_back(StartPhone(config));
        return *phones.back();
    }
    SimulatedPhone& Phone(const std::string& port) {
        for (auto& phone : phones)
            if (phone->PortName() == port) return *phone;
        throw std::runtime_error("no phone " + port);
    }

    std::vector<DownloadRecord> Records() {
        std::vector<DownloadRecord> out;
        RecordStore(db).Query({}, out);
        return out;
    }
    // Waits until the database holds count records.
    bool WaitForRecords(std::size_t count, std::chrono::seconds timeout = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Records().size() >= count) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    // Waits until the station has looked at the map after its last run and found nothing to
    // flash: its output ends with its waiting line.
    static bool WaitUntilStationWaits(const CliProcess& cli, const std::string& waitingLine) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        for (;; std::this_thread::sleep_for(20ms)) {
            const std::string out = cli.Output();
            const std::size_t at = out.rfind(waitingLine + "\n");
            if (at != std::string::npos && at + waitingLine.size() + 1 == out.size()) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
        }
    }
    // A phone that hangs up mid-run (unplugged).
    static SimFaultPlan HangUpMidRun() {
        SimFaultPlan plan;
        plan.hangupAfterBytes = 40000;
        return plan;
    }
    // Once the phone has hung up and the station has recorded its failed run, it is plugged
    // in again (a new line, the same names) without the fault.
    void ReplugAfterItsFailedRun(SimulatedPhone& phone) {
        ASSERT_TRUE(phone.WaitUntil([&] { return phone.Counters().hangups > 0; }, 30000ms));
        phone.SetFaults({});
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        for (bool recorded = false; !recorded; std::this_thread::sleep_for(20ms)) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no failed record";
            for (const DownloadRecord& r : Records())
                recorded |= r.port == phone.PortName() && !r.succeeded;
        }
        std::string error;
        ASSERT_TRUE(phone.Replug(&error)) << error;
    }

    // A successful record: its images are the job's files (hash, size) and the phone's
    // flash holds each one's bytes in the recorded range.
    void ExpectRecordMatchesFlash(const DownloadRecord& r) {
        SCOPED_TRACE(r.port + " record " + std::to_string(r.id));
        EXPECT_TRUE(r.succeeded);
        EXPECT_EQ(r.outcome, r.slot ? "endCode 1" : "Completed");
        EXPECT_EQ(r.versionWord, 0x4215);
        EXPECT_GT(r.bytesSent, code.size() / 2);
        ASSERT_EQ(r.images.size(), 2u);
        const std::map<std::string, const Bytes*> byName = {{"code.bin", &code},
                                                            {"font1_0x400000.bin", &font}};
        for (const RecordImage& image : r.images) {
            const Bytes& file = *byName.at(image.fileName);
            EXPECT_TRUE(image.written);
            EXPECT_EQ(image.sha256, Sha256OfBytes(file.data(), file.size()));
            EXPECT_EQ(image.size, static_cast<std::int64_t>(file.size()));
            const std::size_t length = image.flashEnd - image.flashStart + 1;
            ASSERT_LE(length, file.size());
            EXPECT_EQ(image.flashStart, image.slot == 0 ? 0x8000u : 0x400000u);
            EXPECT_EQ(Phone(r.port).FlashRange(image.flashStart, length),
                      Bytes(file.end() - static_cast<long>(length), file.end()));
        }
    }

    test::PhoneRegistry registry;  // the folders the phones register in and zembra-cli reads
    ImageFiles files;
    Bytes code, font;
    std::string codePath, fontPath, db;
    std::vector<std::string> job;
    std::vector<std::unique_ptr<SimulatedPhone>> phones;
};

// Two phones; the first is unplugged mid-run and comes back. Each phone is flashed once, the
// unplugged one again after it came back; nothing is flashed twice while plugged in.
TEST_F(StationTest, SinglePhonesOneAfterAnotherAndAgainAfterReplug) {
    SimulatedPhone& first = AddPhone(0, HangUpMidRun());
    SimulatedPhone& second = AddPhone(1);
    CliProcess cli(With(With({"--station"}, job), kFast), files.File("station.txt"));
    ReplugAfterItsFailedRun(first);
    ASSERT_TRUE(WaitForRecords(3)) << cli.Output();
    // Both stay plugged in: the station looks again and starts no further run.
    ASSERT_TRUE(WaitUntilStationWaits(cli, "station: waiting for the next phone")) << cli.Output();
    cli.Interrupt();
    EXPECT_EQ(cli.Wait(), 15) << cli.Output();  // one phone failed
    const std::string out = cli.Output();
    EXPECT_NE(out.find("station: 3 phones, 2 done, 1 failed"), std::string::npos) << out;

    const auto records = Records();
    ASSERT_EQ(records.size(), 3u) << out;
    EXPECT_EQ(records[0].port, "COM65");
    EXPECT_FALSE(records[0].succeeded);
    EXPECT_NE(records[0].outcome, "Completed");
    EXPECT_EQ(records[0].frontEnd, "zembra-cli --station");
    // The first phone, plugged in again, may go before or after the second.
    EXPECT_NE(records[1].port, records[2].port);
    for (std::size_t i = 1; i < 3; ++i) ExpectRecordMatchesFlash(records[i]);
    EXPECT_EQ(second.Counters().resets, 1u);
    EXPECT_EQ(first.Counters().resets, 1u);
}

// Milliseconds since the epoch of a record's time ("2026-12-08T07:30:05.123Z").
long long RecordMs(const std::string& utc) {
    std::tm tm{};
    EXPECT_NE(strptime(utc.c_str(), "%Y-%m-%dT%H:%M:%S", &tm), nullptr) << utc;
    return static_cast<long long>(timegm(&tm)) * 1000 + std::stoll(utc.substr(20, 3));
}

// A phone that fails and re-enumerates at once is flashed again only after a wait that
// doubles with each failure, and the station says so once.
TEST_F(StationTest, PhoneThatKeepsFailingIsTriedLessAndLessOften) {
    SimFaultPlan plan;
    plan.hangupAfterBytes = 2000;
    plan.replugAfterMs = 50;
    AddPhone(0, plan);
    CliProcess cli(With(With({"--station"}, job), kFast), files.File("station.txt"));
    ASSERT_TRUE(WaitForRecords(3, 30s)) << cli.Output();
    cli.Interrupt();
    EXPECT_EQ(cli.Wait(), 15) << cli.Output();
    const auto records = Records();
    ASSERT_GE(records.size(), 3u);
    EXPECT_GE(RecordMs(records[1].startUtc) - RecordMs(records[0].endUtc), 999);
    EXPECT_GE(RecordMs(records[2].startUtc) - RecordMs(records[1].endUtc), 1999);
    const std::string out = cli.Output();
    const std::string said = "station: COM65 failed: the next run on it waits 1 s, twice as long";
    EXPECT_NE(out.find(said), std::string::npos) << out;
    EXPECT_EQ(out.find("the next run on it waits", out.find(said) + said.size()), std::string::npos)
        << out;
}

TEST(StationBackOff, DoublesPerDeviceUpToTheLastAndStartsOver) {
    double now = 0;
    StationBackOff backOff([&] { return now; }, 1000, 4000);
    EXPECT_FALSE(backOff.Waiting(0, "COM65"));
    EXPECT_TRUE(backOff.Ended(0, "COM65", false));  // the one time it is said
    EXPECT_TRUE(backOff.Waiting(0, "COM65"));
    EXPECT_FALSE(backOff.Waiting(1, "COM66"));  // each device on its own
    now = 1000;
    EXPECT_FALSE(backOff.Waiting(0, "COM65"));
    EXPECT_FALSE(backOff.Ended(0, "COM65", false));
    now = 2999;
    EXPECT_TRUE(backOff.Waiting(0, "COM65"));
    now = 3000;
    EXPECT_FALSE(backOff.Waiting(0, "COM65"));
    backOff.Ended(0, "COM65", false);
    backOff.Ended(0, "COM65", false);
    EXPECT_EQ(backOff.WaitMs(0), 4000);
    backOff.Ended(0, "COM65", true);  // a success starts over
    EXPECT_EQ(backOff.WaitMs(0), 0);
    EXPECT_FALSE(backOff.Waiting(0, "COM65"));
    EXPECT_TRUE(backOff.Ended(0, "COM65", false));
    EXPECT_FALSE(backOff.Waiting(0, "COM70"));  // another phone on the device: starts over
    EXPECT_EQ(backOff.WaitMs(0), 0);
}

// Eight phones flashed together; one is unplugged mid-run, comes back and is flashed alone.
TEST_F(StationTest, EightPhonesAtOnceAndOneAgainAfterReplug) {
    for (int device = 0; device < 8; ++device)
        AddPhone(device, device == 3 ? HangUpMidRun() : SimFaultPlan{});
    CliProcess cli(
        With(With({"--multi", "--station", "--station-settle", "300", "--stagger", "0"}, job),
             kFast),
        files.File("station.txt"));
    ReplugAfterItsFailedRun(Phone("COM68"));
    ASSERT_TRUE(WaitForRecords(9)) << cli.Output();
    ASSERT_TRUE(WaitUntilStationWaits(cli, "station: waiting for the next phones")) << cli.Output();
    cli.Interrupt();
    EXPECT_EQ(cli.Wait(), 15) << cli.Output();
    const auto records = Records();
    ASSERT_EQ(records.size(), 9u) << cli.Output();
    std::map<std::string, int> okByPort;
    for (const DownloadRecord& r : records) {
        EXPECT_EQ(r.slot, std::stoi(r.port.substr(3)) - 64) << r.port;
        EXPECT_EQ(r.frontEnd, "zembra-cli --multi --station");
        if (!r.succeeded) {
            EXPECT_EQ(r.port, "COM68");
            continue;
        }
        ++okByPort[r.port];
        ExpectRecordMatchesFlash(r);
    }
    EXPECT_EQ(okByPort.size(), 8u);
    for (const auto& [port, count] : okByPort) EXPECT_EQ(count, 1) << port;
    EXPECT_EQ(records.back().port, "COM68");  // the one that came back
}

// The slot map learned with zembra-cli slots learn, then two multi runs: each phone lands in
// the slot of the USB port it is plugged into, also after the phones came back in another
// order with other numbers; a phone at a port no slot is bound to is named and not flashed.
TEST_F(StationTest, SlotMapPutsEachPhoneInItsPortsSlotWhateverItsNumber) {
    const std::string config = files.path() + "/config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const auto plug = [&](int device, const std::string& location) {
        test::PlugTtyInto(registry.Sysfs(), registry.root() + "/devices",
                          test::SysfsTtyName(AddPhone(device).DevicePath()), location);
    };
    const auto waitFor = [](const CliProcess& cli, const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (cli.Output().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    };
    {
        CliProcess learn({"slots", "learn", "--slots", "8"}, files.File("learn.txt"));
        for (int slot = 1; slot <= 8; ++slot) {
            ASSERT_TRUE(waitFor(learn, FormatText("슬롯 %d 포트에 폰을 연결하세요", slot)))
                << learn.Output();
            plug(8 - slot, FormatText("1-1.%d", slot));  // COM72 into 1-1.1 ...
        }
        ASSERT_EQ(learn.Wait(), 0) << learn.Output();
        EXPECT_NE(learn.Output().find("슬롯 1 = 1-1.1 (COM72)"), std::string::npos);
    }
    CliProcess list({"slots", "list"}, files.File("list.txt"));
    ASSERT_EQ(list.Wait(), 0);
    EXPECT_NE(list.Output().find("2     1-1.2                         COM71"), std::string::npos)
        << list.Output();

    const auto runAll = [&](const std::map<int, std::string>& portOfSlot) {
        const std::size_t before = Records().size();
        CliProcess cli(With(With({"--all-phones", "--stagger", "0"}, job), kFast),
                       files.File("all.txt"));
        EXPECT_EQ(cli.Wait(), 0) << cli.Output();
        const auto records = Records();
        EXPECT_EQ(records.size(), before + portOfSlot.size());
        for (std::size_t i = before; i < records.size(); ++i) {
            EXPECT_EQ(records[i].port, portOfSlot.at(records[i].slot)) << records[i].slot;
            ExpectRecordMatchesFlash(records[i]);
        }
        return cli.Output();
    };
    std::map<int, std::string> portOfSlot;
    for (int slot = 1; slot <= 8; ++slot) portOfSlot[slot] = FormatText("COM%d", 73 - slot);
    runAll(portOfSlot);

    phones.clear();  // every phone out, and back in a shuffled order
    const int slotOfDevice[8] = {3, 6, 1, 8, 2, 5, 7, 4};
    for (int device = 0; device < 8; ++device) {
        plug(device, FormatText("1-1.%d", slotOfDevice[device]));
        portOfSlot[slotOfDevice[device]] = FormatText("COM%d", 65 + device);
    }
    plug(8, "1-2");
    const std::string out = runAll(portOfSlot);
    EXPECT_NE(out.find("COM73: 등록되지 않은 포트 1-2"), std::string::npos) << out;
    EXPECT_EQ(Phone("COM73").FlashWrittenEnd(), 0u);
    unsetenv("XDG_CONFIG_HOME");
}

// A bound slot whose phones fail three times in a row (each phone unplugged and another put in
// its port) is said in red and in the summary; with "bound-only = yes" in zembra.conf a phone
// at another port is named and left alone. Every record keeps its USB port.
TEST_F(StationTest, ASlotWhosePhonesKeepFailingIsSaid) {
    const std::string config = files.path() + "/config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    std::filesystem::create_directories(config + "/zembra");
    std::ofstream(config + "/zembra/slots.conf") << "3 = 1-1.3\n";
    std::ofstream(config + "/zembra/zembra.conf") << "Bound-Only = yes\n";
    const auto plug = [&](int device, const std::string& location, SimFaultPlan faults = {}) {
        SimulatedPhone& phone = AddPhone(device, faults);
        test::PlugTtyInto(registry.Sysfs(), registry.root() + "/devices",
                          test::SysfsTtyName(phone.DevicePath()), location);
        return &phone;
    };
    SimFaultPlan naks;  // the transfer gives up: too many negative answers
    naks.nakCode = 0xA1;
    naks.nakCount = 100;
    naks.nakDataOnly = true;
    plug(5, "1-2");
    CliProcess cli(With(With({"--station"}, job), kFast), files.File("station.txt"));
    for (int device = 0; device < 3; ++device) {
        SimulatedPhone* phone = plug(device, "1-1.3", naks);
        ASSERT_TRUE(WaitForRecords(static_cast<std::size_t>(device) + 1)) << cli.Output();
        phone->Stop();
    }
    const std::string warning = "슬롯 3 (1-1.3): 연속 3회 실패 — 케이블이나 허브 포트를 확인하세요";
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (cli.Output().find(warning) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    cli.Interrupt();
    EXPECT_EQ(cli.Wait(), 15);
    const std::string out = cli.Output();
    EXPECT_NE(out.find("COM70: 등록되지 않은 포트 1-2"), std::string::npos) << out;
    EXPECT_NE(out.find("station: failures by slot: 3 (1-1.3) 3 of 3"), std::string::npos) << out;
    EXPECT_EQ(Occurrences(out, warning), 2u) << out;  // when it happened and in the summary
    const auto records = Records();
    ASSERT_EQ(records.size(), 3u);
    for (const DownloadRecord& r : records) {
        EXPECT_EQ(r.location, "1-1.3");
        EXPECT_FALSE(r.succeeded);
    }
    EXPECT_EQ(Phone("COM70").FlashWrittenEnd(), 0u);
    unsetenv("XDG_CONFIG_HOME");
}

// A real run while another process appends 200 records to the same database; then the
// records command's CSV and JSON lines.
TEST_F(StationTest, RecordsBesideAnotherWriterAndTheirExport) {
    AddPhone(0);
    const pid_t writer = fork();
    if (writer == 0) {
        RecordStore store(db);
        for (int n = 0; n < 200; ++n) {
            DownloadRecord r;
            r.port = "driver";
            r.startUtc = r.endUtc = "2026-01-01T00:00:00.000Z";
            if (!store.Append(r).empty()) _exit(1);
        }
        _exit(0);
    }
    const int status = RunCli(With(With({"--port", "auto"}, job), kFast), files.File("run.txt"));
    int writerStatus = 0;
    waitpid(writer, &writerStatus, 0);
    EXPECT_EQ(status, 0) << Slurp(files.File("run.txt"));
    EXPECT_TRUE(WIFEXITED(writerStatus) && WEXITSTATUS(writerStatus) == 0);
    const auto records = Records();
    ASSERT_EQ(records.size(), 201u);
    std::size_t mine = 0;
    for (const auto& r : records)
        if (r.port == "COM65") {
            ++mine;
            ExpectRecordMatchesFlash(r);
            EXPECT_EQ(r.frontEnd, "zembra-cli");
            EXPECT_EQ(r.protocol, "compressed");  // settled from auto
        }
    EXPECT_EQ(mine, 1u);

    ASSERT_EQ(RunCli({"records", "--db", db, "--port", "COM65", "--json"}, files.File("j.txt")), 0);
    const std::string json = Slurp(files.File("j.txt"));
    ASSERT_EQ(std::count(json.begin(), json.end(), '\n'), 1);
    const auto object = nlohmann::json::parse(json);
    EXPECT_EQ(object["images"][1]["sha256"], Sha256OfBytes(font.data(), font.size()));
    ASSERT_EQ(RunCli({"records", "--db", db, "--csv", "--outcome", "ok"}, files.File("c.txt")), 0);
    const std::string csv = Slurp(files.File("c.txt"));
    EXPECT_EQ(csv.rfind("id,start_utc,end_utc,", 0), 0u) << csv;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2);  // header and the one run
}

// Negative answers and the frames sent again for them, and checksum echoes that did not
// match (USB normal), are counted in the record.
TEST_F(StationTest, NaksAndRetransmissionsAreCounted) {
    SimFaultPlan naks;
    naks.nakCode = 0xA1;
    naks.nakCount = 3;
    naks.nakSkip = 5;
    naks.nakDataOnly = true;
    AddPhone(0, naks);
    EXPECT_EQ(RunCli(With(With({"--port", "COM65"}, job), kFast), files.File("n.txt")), 0)
        << Slurp(files.File("n.txt"));
    SimFaultPlan echoes;
    echoes.corruptEchoCount = 2;
    echoes.corruptEchoSkip = 4;
    AddPhone(1, echoes);
    EXPECT_EQ(RunCli(With(With({"--port", "COM66", "--protocol", "normal"}, job), kFast),
                     files.File("e.txt")),
              0)
        << Slurp(files.File("e.txt"));
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].naks, 3u);
    EXPECT_EQ(records[0].retransmissions, 3u);
    EXPECT_EQ(records[1].protocol, "normal");
    EXPECT_EQ(records[1].naks, 0u);
    EXPECT_EQ(records[1].retransmissions, 2u);
    // Every byte written, frames sent again included, is in the record.
    EXPECT_EQ(records[0].bytesSent, Phone("COM65").Counters().bytesReceived);
    EXPECT_EQ(records[1].bytesSent, Phone("COM66").Counters().bytesReceived);
    ExpectRecordMatchesFlash(records[0]);
    ExpectRecordMatchesFlash(records[1]);
}

// A database that is not one: the download succeeds, the failure to record is reported
// (status 16) and the file keeps every byte.
TEST_F(StationTest, BrokenDatabaseNeverFailsTheDownload) {
    SimulatedPhone& phone = AddPhone(0);
    const std::string junk = std::string(3000, 'j');
    std::ofstream(db, std::ios::binary) << junk;
    const int status = RunCli(With(With({"--port", "COM65"}, job), kFast), files.File("o.txt"));
    const std::string out = Slurp(files.File("o.txt"));
    EXPECT_EQ(status, 16) << out;
    const std::string said = "download record could not be written";
    const std::size_t at = out.find(said);
    EXPECT_NE(at, std::string::npos) << out;
    EXPECT_EQ(out.find("could not be written", at + said.size()), std::string::npos) << out;
    EXPECT_NE(out.find("다운 로드 종료"), std::string::npos);
    EXPECT_EQ(phone.FlashRange(0x400000, font.size()), font);
    EXPECT_EQ(Slurp(db), junk);
}

// Without --records the records go to the data folder, or where the station's configuration
// file says.
TEST_F(StationTest, RecordsFollowTheDataFolderAndTheConfiguration) {
    AddPhone(0);
    const std::string data = files.path() + "/data", config = files.path() + "/config";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const std::vector<std::string> run = With({"--port", "COM65", "--code", codePath}, kFast);
    EXPECT_EQ(RunCli(run, files.File("a.txt")), 0) << Slurp(files.File("a.txt"));
    std::vector<DownloadRecord> records;
    EXPECT_EQ(RecordStore(data + "/zembra/records.sqlite").Query({}, records), "");
    EXPECT_EQ(records.size(), 1u);

    std::filesystem::create_directories(config + "/zembra");
    std::ofstream(config + "/zembra/zembra.conf") << "# station\nrecords-database = " << db << "\n";
    EXPECT_EQ(RunCli(run, files.File("b.txt")), 0);
    EXPECT_EQ(Records().size(), 1u);
    // "~" is the home folder, a relative path starts at the file's folder, keywords in any case.
    const std::string home = files.path() + "/home", oldHome = std::getenv("HOME");
    std::filesystem::create_directories(home);
    setenv("HOME", home.c_str(), 1);
    std::ofstream(config + "/zembra/zembra.conf") << "records-database = ~/r.sqlite\n";
    EXPECT_EQ(RunCli(run, files.File("d.txt")), 0) << Slurp(files.File("d.txt"));
    std::ofstream(config + "/zembra/zembra.conf") << "Records-Database = rel/r.sqlite\n";
    EXPECT_EQ(RunCli(run, files.File("e.txt")), 0) << Slurp(files.File("e.txt"));
    for (const std::string& path : {home + "/r.sqlite", config + "/zembra/rel/r.sqlite"}) {
        EXPECT_EQ(RecordStore(path).Query({}, records), "") << path;
        EXPECT_EQ(records.size(), 1u) << path;
    }
    std::ofstream(config + "/zembra/zembra.conf") << "records-database = OFF\n";
    EXPECT_EQ(RunCli(run, files.File("c.txt")), 0);
    EXPECT_EQ(Records().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists("OFF"));
    setenv("HOME", oldHome.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
    std::filesystem::remove_all(data);
    std::filesystem::remove_all(config);
}

// --port auto waits for a phone to appear; without one in time the port status.
TEST_F(StationTest, PortAutoWaitsForAPhone) {
    EXPECT_EQ(RunCli(With({"--port", "auto"}, job), files.File("none.txt")), 4);
    CliProcess cli(With(With({"--port", "auto", "--wait-for-phone", "20"}, job), kFast),
                   files.File("wait.txt"));
    const auto deadline = std::chrono::steady_clock::now() + 20s;  // the phones come after
    while (cli.Output().find("waiting up to 20 s") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    AddPhone(2);
    AddPhone(1);  // the lower device number wins
    EXPECT_EQ(cli.Wait(), 0) << cli.Output();
    EXPECT_NE(cli.Output().find("waiting up to 20 s"), std::string::npos) << cli.Output();
    EXPECT_EQ(Records().at(0).port, "COM66");
}

// Overlapping images are refused before anything is sent, unless confirmed.
TEST_F(StationTest, PreFlightRefusesOverlapUnlessConfirmed) {
    SimulatedPhone& phone = AddPhone(0);
    const std::vector<std::string> overlap = {"--port",          "COM65",    "--code",    codePath,
                                              "--font1",         fontPath,   "--font2",   fontPath,
                                              "--font2-address", "0x408000", "--records", db};
    EXPECT_EQ(RunCli(overlap, files.File("no.txt")), 3);
    EXPECT_NE(Slurp(files.File("no.txt")).find("겹칩니다"), std::string::npos);
    EXPECT_EQ(phone.Counters().units, 0u);
    EXPECT_EQ(
        RunCli(With(With(overlap, {"--yes", "--no-size-check"}), kFast), files.File("yes.txt")), 0)
        << Slurp(files.File("yes.txt"));
    EXPECT_GT(phone.Counters().resets, 0u);
}

// The records database deleted while the station runs: the next phone's record goes into a
// new database at the same path, and the station says so.
TEST_F(StationTest, StoreDeletedDuringAStationRunIsCreatedAgain) {
    AddPhone(0);
    CliProcess cli(With(With({"--station"}, job), kFast), files.File("station.txt"));
    ASSERT_TRUE(WaitForRecords(1)) << cli.Output();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(db + suffix);
    AddPhone(1);
    const bool recorded = WaitForRecords(1, 15s);
    cli.Interrupt();
    EXPECT_EQ(cli.Wait(), 0) << cli.Output();
    ASSERT_TRUE(recorded) << cli.Output();
    EXPECT_EQ(Records().at(0).port, "COM66");
    EXPECT_NE(cli.Output().find(db + " was removed or replaced"), std::string::npos)
        << cli.Output();
}

// A phone taken off and another put on the same device while the station waits on a busy
// records database: the new one is flashed too, though its names are the old one's.
TEST_F(StationTest, PhoneSwappedInWhileTheStationWaitsIsFlashed) {
    {
        DownloadRecord first;  // creates the database, so that another writer can lock it
        ASSERT_EQ(RecordStore(db).Append(first), "");
    }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
    SimulatedPhone* old = &AddPhone(0);
    CliProcess cli(With(With({"--station"}, job), kFast), files.File("station.txt"));
    // Once the run has let go of the port the station writes its record, which cannot finish
    // before the lock below is released: the swap happens while it waits.
    ASSERT_TRUE(old->WaitUntil([&] { return old->Counters().lineCloses > 0; }, 30000ms));
    phones.clear();
    SimulatedPhone& swapped = AddPhone(0);
    sqlite3_exec(other, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(swapped.WaitUntil([&] { return swapped.Counters().resets > 0; }, 20000ms))
        << cli.Output();
    cli.Interrupt();
    cli.Wait();
    EXPECT_NE(cli.Output().find("station: 2 phones, 2 done"), std::string::npos) << cli.Output();
}

// --multi --station with a map entry whose port does not open: that phone fails alone, the
// healthy one is flashed; the program's own lines carry its name.
TEST_F(StationTest, MultiStationRunsTheOthersWhenOnePortFails) {
    SimulatedPhone& healthy = AddPhone(0);
    ASSERT_TRUE(RegisterSerialDevice("\\Device\\trelvic1", "COM90"));  // no such device
    CliProcess cli(
        With(With({"--multi", "--station", "--station-settle", "200", "--stagger", "0"}, job),
             kFast),
        files.File("station.txt"));
    EXPECT_TRUE(healthy.WaitUntil([&] { return healthy.Counters().resets > 0; }, 30000ms))
        << cli.Output();
    ASSERT_TRUE(WaitForRecords(2)) << cli.Output();
    cli.Interrupt();
    EXPECT_EQ(cli.Wait(), 15) << cli.Output();
    const std::string out = cli.Output();
    EXPECT_NE(out.find("zembra-cli: station: COM90        FAILED"), std::string::npos) << out;
    EXPECT_NE(out.find("zembra-cli: station: 2 phones, 1 done, 1 failed"), std::string::npos)
        << out;
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].port, "COM90");
    EXPECT_EQ(records[0].outcome, "PortOpenFailed");
    EXPECT_EQ(records[0].bytesSent, 0u);
    EXPECT_EQ(records[1].bytesSent, healthy.Counters().bytesReceived);
    ExpectRecordMatchesFlash(records[1]);
}

// A FIFO in the map folder or given as the records database never holds the program up.
TEST_F(StationTest, FifosAreNeverWaitedOn) {
    std::filesystem::create_directories(registry.Map());
    ASSERT_EQ(::mkfifo((registry.Map() + "/%5CDevice%5Ctrelvic0").c_str(), 0600), 0);
    CliProcess none(With({"--port", "auto"}, job), files.File("none.txt"));
    EXPECT_EQ(none.WaitFor(10s), 4) << none.Output();
    AddPhone(1);
    CliProcess one(With(With({"--port", "auto"}, job), kFast), files.File("one.txt"));
    EXPECT_EQ(one.WaitFor(30s), 0) << one.Output();

    const std::string fifo = files.File("fifo.sqlite");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CliProcess records({"records", "--db", fifo}, files.File("r.txt"));
    EXPECT_EQ(records.WaitFor(10s), 17) << records.Output();
}

// A download whose standard output is full fails with a message on the standard error; so
// does a records list.
TEST_F(StationTest, FullStandardOutputIsAFailure) {
    AddPhone(0);
    CliProcess run(With(With({"--port", "COM65"}, job), kFast), files.File("run.txt"), "/dev/full");
    EXPECT_EQ(run.WaitFor(30s), 19) << run.Output();
    EXPECT_NE(run.Output().find("standard output could not be written"), std::string::npos)
        << run.Output();
    ASSERT_EQ(Records().size(), 1u);  // the download itself went well
    CliProcess list({"records", "--db", db, "--csv"}, files.File("list.txt"), "/dev/full");
    EXPECT_EQ(list.WaitFor(10s), 19) << list.Output();
    EXPECT_NE(list.Output().find("standard output could not be written"), std::string::npos)
        << list.Output();
}

// The records command: an absent database is an empty table with its header; the database is
// only read (an account that may not write its folder reads it); dates are checked and taken
// in the forms people type; file names with the images field's separators are escaped.
TEST_F(StationTest, RecordsCommandReadsOnlyAndTakesDatesAsTyped) {
    ASSERT_EQ(RunCli({"records", "--db", files.File("absent.sqlite")}, files.File("a.txt")), 0)
        << Slurp(files.File("a.txt"));
    EXPECT_EQ(Slurp(files.File("a.txt")).rfind("    id  start (UTC)", 0), 0u)
        << Slurp(files.File("a.txt"));
    EXPECT_FALSE(std::filesystem::exists(files.File("absent.sqlite")));

    test::ScratchDir shared("shared");  // a folder that others may read, not write
    ::chmod(shared.path().c_str(), 0755);
    const std::string readOnly = shared.File("records.sqlite");
    for (const char* start : {"2026-12-06T23:59:59.999Z", "2026-12-07T00:00:00.000Z",
                              "2026-12-07T10:30:00.000Z", "2026-12-08T00:00:00.000Z"}) {
        DownloadRecord r;
        r.startUtc = r.endUtc = start;
        r.port = "COM65";
        r.images.push_back({0, "a:b;c%.bin", 4, "00", 0, 3, true});
        ASSERT_EQ(RecordStore(readOnly).Append(r), "");
    }
    ::chmod(readOnly.c_str(), 0644);
    const auto count = [&](const std::vector<std::string>& filters) {
        std::vector<std::string> args = {"records", "--db", readOnly, "--json"};
        args.insert(args.end(), filters.begin(), filters.end());
        const int status = RunCli(args, files.File("q.txt"));
        const std::string out = Slurp(files.File("q.txt"));
        return status == 0 ? static_cast<int>(std::count(out.begin(), out.end(), '\n')) : -status;
    };
    EXPECT_EQ(count({"--since", "2026-12-7"}), 3);
    EXPECT_EQ(count({"--since", "2026-12-7", "--until", "2026-12-7"}), 2);
    EXPECT_EQ(count({"--until", "2026-12-07 10:29"}), 2);
    EXPECT_EQ(count({"--since", "2026-12-07T19:30+09:00"}), 2);  // 10:30 UTC
    EXPECT_EQ(count({"--until", "2026-12-07T08:59:59.999+0900"}), 1);
    EXPECT_EQ(count({"--since", "2026-12"}), 4);
    for (const char* bad : {"2026-13-45", "2026-02-30", "2026-12-07T99:99", "T99:99",
                            "2026-12-07 junk", "2026-12-07T10:60"})
        EXPECT_EQ(count({"--since", bad}), -2) << bad;

    // Read by an account that may read the file but not create anything beside it.
    const pid_t child = fork();
    if (child == 0) {
        const int out = ::open(files.File("ro.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        ::dup2(out, 1);
        ::dup2(out, 2);
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
        execl(ZEMBRA_CLI_PATH, ZEMBRA_CLI_PATH, "records", "--db", readOnly.c_str(), "--csv",
              nullptr);
        _exit(98);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const std::string csv = Slurp(files.File("ro.txt"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << csv;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 5) << csv;
    EXPECT_NE(csv.find(",0:a%3Ab%3Bc%25.bin:4:00:"), std::string::npos) << csv;
}

}  // namespace
}  // namespace zembra::e2e
