#include <gtest/gtest.h>

#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"
#include "job/JobCheck.h"
#include "job/StartSnapshot.h"

namespace zembra {
namespace {

TEST(JobModel, StartsEmptyWithPlaceholders) {
    DownloadJob job;
    for (const ImageSlot& slot : job.slots) {
        EXPECT_FALSE(slot.selected);
        EXPECT_EQ(slot.path, "");
        EXPECT_EQ(slot.progressMarker, "     x");
        EXPECT_EQ(slot.expectedName, "     임의파일");
        EXPECT_EQ(slot.addressText, "");
    }
    EXPECT_FALSE(job.change);
    EXPECT_FALSE(job.configLoaded);
    EXPECT_STREQ(SlotCaption(ImageSlot::Code), "코드");
    EXPECT_STREQ(SlotCaption(ImageSlot::Font6), "폰트6");
    EXPECT_EQ(FontSlot(3), ImageSlot::Font3);
}

TEST(JobModel, InitialValueButtonResetsSettingsOnly) {
    DownloadJob job;
    job[ImageSlot::Font2].path = "/img/font2.bin";
    job[ImageSlot::Font2].expectedName = "font2.bin";
    job[ImageSlot::Font2].addressText = "0x10000";
    job.modelName = "SPH-X";
    job.change = true;
    job.configLoaded = true;
    job.configPath = "/cfg/a.txt";
    DownloadJob before = job;

    DownloadSettings settings;
    settings.usbProtocol = ProtocolChoice::Normal;
    settings.serialProtocol = ProtocolChoice::None;
    settings.packetResponseWaitMs = "1";
    settings.normalResponseWaitMs = "abc";
    settings.cmdGapMs = "0";
    settings.eraseWaitSec = "";
    settings.multiEraseExcessSec = "9";
    settings.showInvalidFcsNak = true;
    settings.checkBinSize64K = false;
    settings.allowFont0Address = true;
    settings.autoHexPrefix = false;
    ApplyInitialValues(settings);
    EXPECT_EQ(settings, DownloadSettings{});
    EXPECT_EQ(settings.packetResponseWaitMs, "20000");
    EXPECT_EQ(settings.eraseWaitSec, "600");

    // The function has no access to the job; the job is what it was.
    EXPECT_EQ(job.modelName, before.modelName);
    EXPECT_EQ(job[ImageSlot::Font2].expectedName, "font2.bin");
    EXPECT_TRUE(job.configLoaded);
}

TEST(JobModel, LinkProtocolCodeTable) {
    EXPECT_EQ(MakeLinkProtocolCode(Link::Usb, ProtocolChoice::Auto), 0x0101);
    EXPECT_EQ(MakeLinkProtocolCode(Link::Usb, ProtocolChoice::Press), 0x0102);
    EXPECT_EQ(MakeLinkProtocolCode(Link::Usb, ProtocolChoice::Normal), 0x0104);
    EXPECT_EQ(MakeLinkProtocolCode(Link::Usb, ProtocolChoice::None), 0x0100);
    EXPECT_EQ(MakeLinkProtocolCode(Link::Serial, ProtocolChoice::Auto), 0x0201);
    EXPECT_EQ(MakeLinkProtocolCode(Link::Serial, ProtocolChoice::Press), 0x0202);
    EXPECT_EQ(MakeLinkProtocolCode(Link::Serial, ProtocolChoice::Normal), 0x0204);
    EXPECT_EQ(MakeLinkProtocolCode(Link::Serial, ProtocolChoice::None), 0x0200);
    EXPECT_EQ(INITIAL_LINK_PROTOCOL, 0x0100);

    // Each link takes the choice of its own radio group.
    DownloadSettings settings;
    settings.usbProtocol = ProtocolChoice::Press;
    settings.serialProtocol = ProtocolChoice::Normal;
    EXPECT_EQ(MakeLinkProtocolCode(Link::Usb, settings), USB_PPV);
    EXPECT_EQ(MakeLinkProtocolCode(Link::Serial, settings), UART_NORMAL);
}

TEST(StartSnapshot, StrictDecimal) {
    EXPECT_EQ(StrictDecimal("20000"), 20000);
    EXPECT_EQ(StrictDecimal("  42 "), 42);
    EXPECT_EQ(StrictDecimal("-7"), -7);
    EXPECT_EQ(StrictDecimal("+7"), 7);
    EXPECT_EQ(StrictDecimal("2147483647"), 2147483647);
    EXPECT_EQ(StrictDecimal("-2147483648"), -2147483647 - 1);
    for (const char* bad :
         {"", " ", "-", "12a", "0x10", "1e3", "1 2", "2147483648", "1.5", "99999999999999999999"})
        EXPECT_EQ(StrictDecimal(bad), std::nullopt) << bad;
}

TEST(StartSnapshot, ZeroReplacementsAndAddresses) {
    DownloadJob job;
    job.change = true;
    job[ImageSlot::Font1].addressText = "0x1F";
    job[ImageSlot::Font2].addressText = "1F";
    job[ImageSlot::Font3].addressText = "0X10000";
    job[ImageSlot::Font4].addressText = "10";
    DownloadSettings settings;
    settings.packetResponseWaitMs = "0";
    settings.cmdGapMs = "0";
    settings.normalResponseWaitMs = "0";
    settings.eraseWaitSec = "0";
    settings.multiEraseExcessSec = "0";
    settings.showInvalidFcsNak = true;
    settings.serialProtocol = ProtocolChoice::Press;

    StartSnapshotResult single = TakeStartSnapshot(job, settings, Link::Serial, StartKind::Single);
    ASSERT_TRUE(single.ok());
    const StartSnapshot& s = single.snapshot;
    EXPECT_EQ(s.packetResponseWaitMs, 10000);
    EXPECT_EQ(s.cmdGapMs, 200);
    EXPECT_EQ(s.normalResponseWaitMs, 500);
    EXPECT_EQ(s.eraseWaitSec, 0);
    EXPECT_EQ(s.multiEraseExcessSec, 0);  // not taken by the single Start
    EXPECT_TRUE(s.change);
    EXPECT_TRUE(s.showInvalidFcsNak);
    EXPECT_EQ(s.linkProtocol, UART_PRESS);
    EXPECT_EQ(s.address[ImageSlot::Font1], 31u);
    EXPECT_EQ(s.address[ImageSlot::Font2], 1u);
    EXPECT_EQ(s.address[ImageSlot::Font3], 0x10000u);
    EXPECT_EQ(s.address[ImageSlot::Font4], 10u);
    EXPECT_EQ(s.address[ImageSlot::Font5], 0u);

    StartSnapshotResult multi = TakeStartSnapshot(job, settings, Link::Usb, StartKind::Multi);
    ASSERT_TRUE(multi.ok());
    EXPECT_EQ(multi.snapshot.multiEraseExcessSec, 300);
    EXPECT_EQ(multi.snapshot.linkProtocol, USB_AUTO);

    settings = DownloadSettings{};
    StartSnapshotResult defaults = TakeStartSnapshot(job, settings, Link::Usb, StartKind::Multi);
    EXPECT_EQ(defaults.snapshot.packetResponseWaitMs, 20000);
    EXPECT_EQ(defaults.snapshot.eraseWaitSec, 600);
    EXPECT_EQ(defaults.snapshot.multiEraseExcessSec, 300);
}

TEST(StartSnapshot, BadNumberIsAnErrorNamingTheField) {
    DownloadJob job;
    DownloadSettings settings;
    settings.cmdGapMs = "2OO";
    settings.normalResponseWaitMs = "x";  // read after cmdGapMs: the first failure counts
    StartSnapshotResult r = TakeStartSnapshot(job, settings, Link::Usb, StartKind::Single);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error->field, "cmdGapMs");
    EXPECT_EQ(r.error->control, "EditCmd2CmdWaitTime");
    EXPECT_EQ(r.error->text, "2OO");
    EXPECT_NE(r.error->message.find("'2OO'"), std::string::npos);

    settings = DownloadSettings{};
    settings.eraseWaitSec = "-1";
    r = TakeStartSnapshot(job, settings, Link::Usb, StartKind::Single);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error->field, "eraseWaitSec");

    // The multi erase excess is converted by the multi Start only.
    settings = DownloadSettings{};
    settings.multiEraseExcessSec = "soon";
    EXPECT_TRUE(TakeStartSnapshot(job, settings, Link::Usb, StartKind::Single).ok());
    r = TakeStartSnapshot(job, settings, Link::Usb, StartKind::Multi);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error->field, "multiEraseExcessSec");
}

TEST(JobCheck, ErrorTexts) {
    EXPECT_EQ(JobErrorText(10),
              "코드 파일 선택에 오류가 있습니다. 정의된 파일과 파일명이 일치하지 않습니다.");
    EXPECT_EQ(JobErrorText(3),
              "폰트3 파일 선택에 오류가 있습니다. 정의된 파일과 파일명이 일치하지 않습니다.");
    EXPECT_EQ(JobErrorText(20), "선택된 파일이 없습니다. 파일을 선택하세요");
    EXPECT_EQ(JobErrorText(22), "폰트2 시작 주소는 0이 될수 없습니다");
    EXPECT_EQ(JobErrorText(36), "폰트6 시작 주소를 입력하세요");
    for (int code : {0, 7, 9, 11, 19, 27, 30, 37, -1}) EXPECT_EQ(JobErrorText(code), "") << code;
    EXPECT_TRUE(IsOverridableJobError(10));
    EXPECT_FALSE(IsOverridableJobError(20));
}

struct CheckCase {
    DownloadJob job;
    DownloadSettings settings;
    JobCheckResult Run(StartKind kind) {
        StartSnapshotResult snap = TakeStartSnapshot(job, settings, Link::Usb, kind);
        EXPECT_TRUE(snap.ok());
        return CheckJob(job, snap.snapshot, settings, kind);
    }
};

TEST(JobCheck, NoFileAtAll) {
    CheckCase c;
    EXPECT_EQ(c.Run(StartKind::Single).codes, std::vector<int>{20});
    EXPECT_EQ(c.Run(StartKind::Multi).code(), 20);
}

TEST(JobCheck, FontAddressZeroAndEmpty) {
    CheckCase c;
    c.job[ImageSlot::Font2].path = "/img/font2.bin";
    c.job[ImageSlot::Font2].addressText = "0x0";
    c.job[ImageSlot::Font4].path = "/img/font4.bin";  // empty address: reads as 0
    EXPECT_EQ(c.Run(StartKind::Single).codes, (std::vector<int>{22, 24}));
    c.settings.allowFont0Address = true;  // 0 allowed: an empty address is asked for
    EXPECT_EQ(c.Run(StartKind::Single).codes, std::vector<int>{34});
    // The multi Start never sends a font to address 0, whatever the option says.
    EXPECT_EQ(c.Run(StartKind::Multi).codes, (std::vector<int>{22, 24}));
    c.job[ImageSlot::Font2].addressText = "0x10000";
    c.job[ImageSlot::Font4].addressText = "1F";  // not a number: never read as 1
    EXPECT_EQ(c.Run(StartKind::Multi).codes, std::vector<int>{64});
    c.job[ImageSlot::Font4].addressText = "0x1F ";
    EXPECT_EQ(c.Run(StartKind::Multi).code(), 0);
}

TEST(JobCheck, ConfigurationNamesComeFirstAndLastCodeCounts) {
    CheckCase c;
    c.job.configLoaded = true;
    for (ImageSlot& s : c.job.slots) s.expectedName = "";
    c.job[ImageSlot::Code].expectedName = "main.bin";  // configured but not chosen -> 10
    c.job[ImageSlot::Font1].expectedName = "f1.bin";
    c.job[ImageSlot::Font1].path = "/x/F1.BIN";  // matches, case ignored
    c.job[ImageSlot::Font1].addressText = "0x100";
    c.job[ImageSlot::Font3].path = "/x/other.bin";  // expected empty: must stay empty -> 3
    c.job[ImageSlot::Font3].addressText = "0x200";
    JobCheckResult r = c.Run(StartKind::Single);
    EXPECT_EQ(r.codes, (std::vector<int>{10, 3}));
    EXPECT_EQ(r.code(), 3);
    EXPECT_TRUE(IsOverridableJobError(r.code()));

    c.job[ImageSlot::Font3].addressText = "";
    r = c.Run(StartKind::Single);
    EXPECT_EQ(r.codes, (std::vector<int>{10, 3, 23}));

    // Without a loaded configuration the names are not checked.
    c.job.configLoaded = false;
    EXPECT_EQ(c.Run(StartKind::Single).codes, std::vector<int>{23});
}

}  // namespace
}  // namespace zembra
