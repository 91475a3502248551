// Every file of the committed fuzz corpora, replayed through the fuzz targets' bodies: an
// input that once broke a property stays in the corpus and keeps the fault fixed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "tests/fuzz/FuzzTargets.h"

namespace zembra::fuzz {
namespace {

int Replay(const std::string& corpus,
           const std::function<void(const std::uint8_t*, std::size_t)>& target) {
    int files = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(ZEMBRA_FUZZ_CORPUS) + "/" + corpus)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        target(bytes.data(), bytes.size());
        ++files;
    }
    return files;
}

TEST(FuzzCorpus, ConfigRoundTrip) {
    EXPECT_GT(Replay("config", ConfigRoundTrip), 0);
}

TEST(FuzzCorpus, PhoneReceive) {
    EXPECT_GT(Replay("phone", PhoneReceive), 0);
}

TEST(FuzzCorpus, ResponseCutting) {
    EXPECT_GT(Replay("cutter", ResponseCutting), 0);
}

TEST(FuzzCorpus, RecordTimeBounds) {
    EXPECT_GT(Replay("dates", RecordTimeBounds), 0);
}

TEST(FuzzCorpus, FontAddressText) {
    EXPECT_GT(Replay("address", FontAddressText), 0);
}

}  // namespace
}  // namespace zembra::fuzz
