#include <cstring>
#include <regex>

#include "platform/Helpers.h"
#include "protocol/PacketCodec.h"
#include "tests/e2e/E2eFixture.h"

namespace zembra::e2e {
namespace {

struct ModeCase {
    const char* name;
    LinkProtocolCode mode;
    SimCompression compression;
    bool change;
    LinkProtocolCode settled;  // the mode the run ends up in
};

class SingleModes : public EngineFixture, public ::testing::WithParamInterface<ModeCase> {};

// The log of a complete run, from the port's opening to the end.
std::vector<Line> ExpectedLog(const ModeCase& c, const std::string& port,
                              const std::vector<std::vector<Line>>& images) {
    std::vector<Line> lines = {{"통신포트열기:" + port + " Open", COLOUR_BLACK},
                               {"다운로드", COLOUR_BLACK},
                               {"다운로드 시작 요청", COLOUR_BLACK},
                               {"버전 확인 요청", COLOUR_BLACK}};
    const bool usb = (c.mode >> 8) == 1;
    if (c.mode == USB_AUTO) {
        lines.push_back({"USB 자동 탐지 모드", COLOUR_BLACK});
        lines.push_back({c.settled == USB_PPV ? "압축 USB 모드" : "일반 USB 모드", COLOUR_BLACK});
    }
    if (c.mode == UART_AUTO) {
        lines.push_back({"UART 자동 탐지", COLOUR_BLACK});
        lines.push_back(
            {c.settled == UART_PRESS ? "압축 UART 모드" : "일반 UART 모드", COLOUR_BLACK});
    }
    if (c.settled == USB_PPV) lines.push_back({"압축 USB 모드 요청", COLOUR_BLACK});
    if (c.settled == UART_PRESS) lines.push_back({"압축 UART 모드 요청", COLOUR_BLACK});
    if (!usb) {
        lines.push_back({"모듈 복사", COLOUR_BLACK});
        lines.push_back({"통신 속도 115200 Bps 설정", COLOUR_BLACK});
    }
    lines.push_back({"다운로드 모듈 점프", COLOUR_BLACK});
    lines.push_back({"다운로드 시작", COLOUR_BLACK});
    for (const auto& image : images) lines.insert(lines.end(), image.begin(), image.end());
    lines.push_back({"리셋 코드 점프 요청", COLOUR_BLACK});
    lines.push_back({"다운로드 소요 시간:00분 00초", COLOUR_BLACK});
    lines.push_back({"다운 로드 종료", COLOUR_BLUE});
    return lines;
}

std::vector<Line> ImageLines(const char* title, std::uint32_t address, std::uint32_t length,
                             std::size_t size, bool notice) {
    std::vector<Line> lines = {{title, COLOUR_BLUE}};
    if (notice)
        lines.push_back({"파일 크기 64K의 배수가 아님 옵션에 의해 다운로드 진행됨", COLOUR_BLUE});
    lines.push_back({FormatText("메모리 시작 주소:0x%X, 메모리 끝 주소:0x%X, 파일크기:0x%X",
                                address, address + length, static_cast<unsigned>(size)),
                     COLOUR_BLACK});
    lines.push_back({"삭제 요청 잠시만 기다려 주세요", COLOUR_BLACK});
    lines.push_back({"프로그램 시작", COLOUR_BLACK});
    return lines;
}

TEST_P(SingleModes, FlashEqualsTheImagesAndTheLogIsThePartsOwn) {
    const ModeCase& c = GetParam();
    SimPhoneConfig config;
    config.link = (c.mode >> 8) == 1 ? SimLink::Usb : SimLink::Uart;
    config.compression = c.compression;
    config.version = 0x1234;
    auto phone = StartPhone(config);

    ImageFiles files;
    // Code: boots at 0x8000; one 1 KiB block inside the range begins with the control marker.
    Bytes code = CodeImage(0x20000, 0x1234, 0x8000, 11);
    std::memcpy(code.data() + 0xC000, kControlMarker.data(), kControlMarker.size());
    // Font 1: a last block shorter than any block step.
    const Bytes font1 = RandomBytes(0x10000 + 100, 12);
    // Font 3: firmware-like, 0xFF padding.
    const Bytes font3 = PaddedImage(0x20000, 3000, 13);

    SingleRunConfig run;
    run.paths[ImageSlot::Code] = files.Write("code.bin", code);
    run.paths[ImageSlot::Font1] = files.Write("font1.bin", font1);
    run.paths[ImageSlot::Font3] = files.Write("font3.bin", font3);
    run.snapshot = FastSnapshot(c.mode);
    run.snapshot.change = c.change;
    run.snapshot.address[ImageSlot::Font1] = 0x200000;
    run.snapshot.address[ImageSlot::Font3] = 0x400000;

    const std::string port = phone->DevicePath();
    ASSERT_EQ(Run(run, port), RunOutcome::Completed);
    ASSERT_TRUE(phone->WaitForReset(std::chrono::seconds(5)));
    EXPECT_TRUE(phone->Errors().empty()) << phone->Errors().front();
    EXPECT_EQ(engine->shared().mode.load(), c.settled);

    if (c.change) {
        EXPECT_EQ(phone->FlashRange(0, code.size()), code);
    } else {
        EXPECT_EQ(phone->FlashRange(0x8000, code.size() - 0x8000),
                  Bytes(code.begin() + 0x8000, code.end()));
        EXPECT_EQ(phone->FlashRange(0, 0x8000), Bytes(0x8000, 0xFF)) << "below the boot location";
    }
    EXPECT_EQ(phone->FlashRange(0x200000, font1.size()), font1);
    EXPECT_EQ(phone->FlashRange(0x400000, font3.size()), font3);

    const std::uint32_t codeAddress = c.change ? 0 : 0x8000;
    const std::vector<Line> expected = ExpectedLog(
        c, port,
        {ImageLines("코드 다운로드", codeAddress, 0x20000 - codeAddress, 0x20000, false),
         ImageLines("폰트1 다운로드", 0x200000, 0x10064, 0x10064, true),
         ImageLines("폰트3 다운로드", 0x400000, 0x20000, 0x20000, false)});
    // How long the run took depends on the machine's load: the form is checked, not the time.
    for (auto& line : host.lines) {
        if (line.text.rfind("다운로드 소요 시간:", 0) != 0) continue;
        EXPECT_TRUE(
            std::regex_match(line.text, std::regex("다운로드 소요 시간:[0-9]{2}분 [0-9]{2}초")))
            << line.text;
        line.text = "다운로드 소요 시간:00분 00초";
    }
    EXPECT_EQ(host.lines, expected);

    // Markers: each image "=" then "o", then all seven back to "x".
    std::vector<std::pair<int, std::string>> markers = {{0, SENDING}, {0, SENT},    {1, SENDING},
                                                        {1, SENT},    {3, SENDING}, {3, SENT}};
    for (int slot = 0; slot < 7; ++slot) markers.emplace_back(slot, NOT_SENT);
    EXPECT_EQ(host.markers, markers);
    // The code image sent from its boot location starts at 0 %.
    ASSERT_FALSE(host.gauges.empty());
    EXPECT_EQ(host.gauges[0], 0);
    EXPECT_EQ(host.gauges[1], 0);
    EXPECT_EQ(host.titles.back(), "Zembra 4");
}

INSTANTIATE_TEST_SUITE_P(
    AllModes, SingleModes,
    ::testing::Values(
        ModeCase{"UsbCompressed", USB_PPV, SimCompression::Supported, false, USB_PPV},
        ModeCase{"UsbNormal", USB_NORMAL, SimCompression::Supported, false, USB_NORMAL},
        ModeCase{"UartNormal", UART_NORMAL, SimCompression::Supported, false, UART_NORMAL},
        ModeCase{"UartCompressedChange", UART_PRESS, SimCompression::Supported, true, UART_PRESS},
        ModeCase{"UsbAutoCompressed", USB_AUTO, SimCompression::Supported, false, USB_PPV},
        ModeCase{"UsbAutoRefused", USB_AUTO, SimCompression::Refused, true, USB_NORMAL},
        ModeCase{"UartAutoCompressed", UART_AUTO, SimCompression::Supported, false, UART_PRESS},
        ModeCase{"UartAutoSilent", UART_AUTO, SimCompression::Silent, false, UART_NORMAL}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return info.param.name; });

}  // namespace
}  // namespace zembra::e2e
