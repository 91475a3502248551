#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Console.h"
#include "platform/Helpers.h"
#include "protocol/DebugTrace.h"
#include "tests/support/NativePath.h"

namespace zembra {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(test::Native(path), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string TempPath(const char* name) {
    return test::ScratchRoot() + name + std::to_string(getpid());
}

TEST(DebugTrace, LineFormats) {
    const std::vector<std::uint8_t> five = {0x7E, 0xA0, 0x72, 0x55, 0x7E};
    // A write of 5 bytes 2 ms after the start, write data on.
    const std::string withData =
        DebugTrace::FormatLine(TraceEvent::Write, -1, five.data(), 5, 1002.7, 1000.0, true);
    EXPECT_EQ(withData, "[W:005 00001002 00000002] 7E A0 72 55 7E ");
    EXPECT_EQ(withData.size() - withData.find("] ") - 2, 15u);
    // Write data off: the line ends after the second time stamp.
    EXPECT_EQ(DebugTrace::FormatLine(TraceEvent::Write, -1, five.data(), 5, 1002.7, 1000.0, false),
              "[W:005 00001002 00000002]");
    // Receive lines always carry the bytes.
    EXPECT_EQ(DebugTrace::FormatLine(TraceEvent::Receive, -1, five.data(), 3, 5.0, 0.0, false),
              "[R:003 00000005 00000005] 7E A0 72 ");
    // Multi write lines carry the channel.
    EXPECT_EQ(DebugTrace::FormatLine(TraceEvent::Write, 7, five.data(), 2, 5.0, 0.0, true),
              "[W:002 C:07 00000005 00000005] 7E A0 ");
    EXPECT_EQ(DebugTrace::FormatLine(TraceEvent::Write, 0, five.data(), 2, 5.0, 0.0, false),
              "[W:002 C:00 00000005 00000005]");
    // Counts beyond three digits widen the field.
    const std::vector<std::uint8_t> packet(1024, 0x00);
    EXPECT_EQ(DebugTrace::FormatLine(TraceEvent::Write, -1, packet.data(), 1024, 5, 0, false),
              "[W:1024 00000005 00000005]");
}

TEST(DebugTrace, DumpStopsAt8225Bytes) {
    const std::vector<std::uint8_t> chunk(9000, 0xAB);
    const std::string line =
        DebugTrace::FormatLine(TraceEvent::Receive, -1, chunk.data(), chunk.size(), 0, 0, false);
    const std::string prefix = "[R:9000 00000000 00000000] ";
    ASSERT_EQ(line.rfind(prefix, 0), 0u);
    EXPECT_EQ(line.size() - prefix.size(), 8225u * 3);
    const std::vector<std::uint8_t> exact(8225, 0x01);
    EXPECT_EQ(
        DebugTrace::FormatLine(TraceEvent::Receive, -1, exact.data(), 8225, 0, 0, false).size() -
            std::string("[R:8225 00000000 00000000] ").size(),
        8225u * 3);
}

TEST(DebugTrace, FileHandling) {
    const std::string path = TempPath("trace");
    {
        std::ofstream old(test::Native(path));
        old << "old content\n";
    }
    DebugTrace trace;
    const std::uint8_t bytes[] = {0x01, 0x02};
    trace.TraceLine(TraceEvent::Write, -1, bytes, 2, 0);  // off: nothing touched
    EXPECT_EQ(ReadAll(path), "old content\n");

    trace.Start(path);  // empties the chosen file; on Windows a line notes the code pages
    const std::string note = TextSettingsNote();
    const std::string head = note.empty() ? "" : "[I] " + note + "\r\n";
    EXPECT_EQ(ReadAll(path), head);
    trace.TraceLine(TraceEvent::Write, -1, bytes, 2, 0);
    trace.SetWriteData(true);
    trace.TraceLine(TraceEvent::Write, -1, bytes, 2, 0);
    trace.TraceLine(TraceEvent::Receive, -1, bytes, 1, 0);
    const std::string whole = ReadAll(path);
    ASSERT_EQ(whole.rfind(head, 0), 0u);
    const std::string content = whole.substr(head.size());
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < content.size()) {
        const std::size_t end = content.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
        lines.push_back(content.substr(pos, end - pos));
        pos = end + 2;
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].back(), ']');
    EXPECT_EQ(lines[1].substr(lines[1].size() - 8), "] 01 02 ");
    EXPECT_EQ(lines[2].rfind("[R:001 ", 0), 0u);
    EXPECT_EQ(lines[2].substr(lines[2].size() - 5), "] 01 ");

    trace.Stop();
    trace.TraceLine(TraceEvent::Write, -1, bytes, 2, 0);
    EXPECT_EQ(ReadAll(path), whole);
    RemoveFile(path);

    // A trace file that cannot be opened loses the line, nothing else.
    DebugTrace unwritable;
    unwritable.Start("/nonexistent-folder/Debug.TXT");
    unwritable.TraceLine(TraceEvent::Write, -1, bytes, 2, 0);
    EXPECT_TRUE(unwritable.enabled());
}

}  // namespace
}  // namespace zembra
