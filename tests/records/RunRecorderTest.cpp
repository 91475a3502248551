// The recorder makes each record from the run's typed events alone: what the engines log,
// how they word it and what crosses the port play no part.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "protocol/SlotEnd.h"
#include "records/RecordStore.h"
#include "records/RunRecorder.h"
#include "tests/support/TestSupport.h"

namespace zembra::test {
namespace {

// A job of a code image and one font in dir.
DownloadJob TwoImages(ScratchDir& dir) {
    DownloadJob job;
    job[ImageSlot::Code].path = dir.File("code.bin");
    job[1].path = dir.File("fw\\font1.bin");  // a backslash is part of a Linux file name
    job[1].addressText = "0x400000";
    std::ofstream(job[ImageSlot::Code].path) << "code";
    std::ofstream(job[1].path) << "font";
    return job;
}

std::vector<DownloadRecord> Stored(const std::string& path) {
    std::vector<DownloadRecord> out;
    RecordStore store(path);
    EXPECT_EQ(store.Query({}, out), "");
    return out;
}

TEST(RunRecorder, RecordsAreMadeFromTheEventsOfEachSlot) {
    ScratchDir dir("recorder");
    const std::string db = dir.File("records.sqlite");
    std::vector<std::string> errors;
    RunRecorder recorder(db, [&](const std::string& e) { errors.push_back(e); });
    const DownloadJob job = TwoImages(dir);
    const ImageVersions versions = ImageVersionsOf(job);

    // Multi slot 3 failed in its font's transfer after an auto mode chose compression; the
    // single slot finished. Their events come at once from two threads and must not mix.
    recorder.SetJob(job, "zembra", &versions);
    DownloadRun run = RunOfJob(job, StartSnapshot{}, &versions);
    run.snapshot.linkProtocol = USB_AUTO;
    recorder.RunStarted(3, "COM67", run);
    run.snapshot.linkProtocol = UART_NONE;
    recorder.RunStarted(0, "COM65", run);
    std::thread worker([&] {
        recorder.LinkSettled(3, USB_AUTO);
        recorder.LinkSettled(3, USB_PPV);
        recorder.VersionWord(3, 0x4215);
        recorder.Nak(3, NAK_FAILED);
        recorder.Resent(3, NAK_FAILED);
        recorder.Resent(3, 0);
        recorder.ImageMark(3, SequenceMark::ImageDone, ImageSlot::Code);
        recorder.RunFinished(3,
                             RunEnd{RunOutcome::TransferFailed, END_TRANSFER_FAILED, 1234, 10000});
    });
    recorder.LinkSettled(0, UART_NORMAL);
    recorder.ImageMark(0, SequenceMark::ImageDone, ImageSlot::Code);
    recorder.ImageMark(0, SequenceMark::ImageDone, 1);
    recorder.RunFinished(0, RunEnd{RunOutcome::Completed, -1, 99, 1000});
    worker.join();
    recorder.RunFinished(0, RunEnd{});  // nothing pending any more: no second record

    // A run whose port never opened: its counts start again from nothing.
    run.snapshot.linkProtocol = USB_NORMAL;
    recorder.RunStarted(0, "COM66", run);
    recorder.RunFinished(0, RunEnd{});
    ASSERT_TRUE(recorder.Flush());

    const std::vector<DownloadRecord> records = Stored(db);
    ASSERT_EQ(records.size(), 3u);
    const DownloadRecord& m = records[0].slot == 3 ? records[0] : records[1];
    const DownloadRecord& s = records[0].slot == 3 ? records[1] : records[0];
    EXPECT_EQ(m.outcome, "endCode 8");
    EXPECT_EQ(m.outcomeText, EndCodeMeaning(END_TRANSFER_FAILED));
    EXPECT_FALSE(m.succeeded);
    EXPECT_EQ(m.protocol, "compressed");  // what the auto mode settled on
    EXPECT_EQ(m.modeCode, USB_PPV);
    EXPECT_EQ(m.bytesSent, 10000u);
    EXPECT_EQ(m.naks, 1u);
    EXPECT_EQ(m.retransmissions, 2u);
    EXPECT_EQ(m.durationMs, 1234);
    ASSERT_EQ(m.images.size(), 2u);
    EXPECT_TRUE(m.images[0].written);
    EXPECT_FALSE(m.images[1].written);

    EXPECT_EQ(s.outcome, "Completed");
    EXPECT_TRUE(s.succeeded);
    EXPECT_EQ(s.protocol, "normal");
    EXPECT_EQ(s.bytesSent, 1000u);
    EXPECT_EQ(s.naks, 0u);
    EXPECT_EQ(s.durationMs, 99);
    EXPECT_TRUE(s.images[0].written && s.images[1].written);
    EXPECT_EQ(s.images[1].fileName, "fw\\font1.bin");
    EXPECT_EQ(s.link, "UART");  // the link of the code the run started with
    EXPECT_EQ(m.link, "USB");

    const DownloadRecord& u = records[2];
    EXPECT_EQ(u.outcome, "PortOpenFailed");
    EXPECT_EQ(u.protocol, "normal");  // the configured mode
    EXPECT_EQ(u.bytesSent, 0u);
    EXPECT_EQ(u.durationMs, 0);
    EXPECT_FALSE(u.images[0].written || u.images[1].written);

    // A recorder that goes at once still writes what it was handed.
    {
        RunRecorder last(db, [&](const std::string& e) { errors.push_back(e); });
        last.SetJob(job, "zembra --multi", &versions);
        last.RunStarted(5, "COM68", run);
        last.RunFinished(5, RunEnd{});
    }
    EXPECT_EQ(Stored(db).size(), 4u);
    EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace zembra::test
