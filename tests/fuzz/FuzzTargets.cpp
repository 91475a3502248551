#include "tests/fuzz/FuzzTargets.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "job/ConfigFile.h"
#include "job/ImageChecks.h"
#include "platform/Helpers.h"
#include "protocol/ResponseReceiver.h"
#include "records/RecordTime.h"
#include "sim/PhoneSession.h"

namespace zembra::fuzz {

namespace {

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "fuzz property broken: %s\n", what.c_str());
    std::abort();
}

void Check(bool ok, const std::string& what) {
    if (!ok) Broken(what);
}

// The folder of the files a target writes; removed with everything in it when the program
// ends, so that neither the replay test nor a fuzz run leaves anything behind.
const std::string* g_workFolder = nullptr;

void RemoveWorkFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(*g_workFolder, ignored);
}

const std::string& WorkFolder() {
    if (!g_workFolder) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/zembra-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) Broken("no temporary folder");
        g_workFolder = new std::string(pattern);
        std::atexit(RemoveWorkFolder);
    }
    return *g_workFolder;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Check(file != nullptr, "cannot write " + path);
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
}

// Text values keep at most CONFIG_MAX_VALUE characters of a line, the separating blank
// included; longer ones are not expected back whole.
bool ShortEnough(const std::string& utf8) {
    return Utf8ToCp949(utf8).size() + 1 < CONFIG_MAX_VALUE;
}

}  // namespace

void ConfigRoundTrip(const std::uint8_t* data, std::size_t size) {
    const std::string in = WorkFolder() + "/in.txt";
    const std::string out = WorkFolder() + "/out.txt";
    WriteFile(in, data, size);
    DownloadJob first;
    DownloadSettings firstSettings;
    if (!ReadConfigFile(in, ConfigSource::Dialog, first, firstSettings).opened)
        Broken("a regular file was not read");

    // Saved as the window would, with the prescribed files selected.
    DownloadJob selected = first;
    for (int slot = 0; slot < ImageSlot::Count; ++slot) {
        const std::string& name = first[slot].expectedName;
        selected[slot].path = name == ANY_FILE ? std::string() : name;
    }
    const ConfigWriteResult saved =
        WriteConfigFile(out, selected, firstSettings, ConfigFileKind::Full);
    if (!saved.ok) {
        Check(!saved.conversionError, "read settings that cannot be saved");
        Check(saved.ioError.empty(), "save failed: " + saved.ioError);
        bool unencodable = false;
        for (int slot = 0; slot < ImageSlot::Count; ++slot)
            if (!FitsCp949(FileNameOnly(selected[slot].path))) unencodable = true;
        Check(unencodable && !saved.refusal.empty(), "save refused without a reason");
        return;
    }

    DownloadJob second;
    DownloadSettings secondSettings;
    Check(ReadConfigFile(out, ConfigSource::Dialog, second, secondSettings).opened,
          "the saved file was not read");
    Check(secondSettings == firstSettings, "settings changed on the way through the file");
    Check(second.change == first.change, "Change flag changed");
    if (FitsCp949(first.modelName) && ShortEnough(first.modelName))
        Check(second.modelName == first.modelName,
              "model '" + first.modelName + "' came back as '" + second.modelName + "'");
    for (int slot = 0; slot < ImageSlot::Count; ++slot) {
        const std::string expected = FileNameOnly(selected[slot].path);
        if (ShortEnough(expected))
            Check(second[slot].expectedName == expected,
                  FormatText("slot %d name '%s' came back as '%s'", slot, expected.c_str(),
                             second[slot].expectedName.c_str()));
        if (slot == ImageSlot::Code) continue;
        const std::string& a = first[slot].addressText;
        const std::string& b = second[slot].addressText;
        Check(a.empty() == b.empty() && ParseNumber(a) == ParseNumber(b),
              FormatText("slot %d address '%s' came back as '%s'", slot, a.c_str(), b.c_str()));
    }
}

namespace {

struct PhoneOutcome {
    SimCounters counters;
    std::size_t records = 0;
    std::string answers;
    std::vector<std::uint8_t> flash;
};

PhoneOutcome Feed(const SimPhoneConfig& config, const std::uint8_t* data, std::size_t size,
                  std::size_t piece) {
    PhoneSession session(config);
    PhoneOutcome outcome;
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t end = std::min(size, offset + piece);
        while (offset < end) {
            SimAnswer answer;
            const std::size_t used = session.Feed(data + offset, end - offset, &answer);
            Check(used > 0 && used <= end - offset, "Feed consumed nothing or too much");
            offset += used;
            if (!answer.unit) continue;
            outcome.answers.append(answer.bytes.begin(), answer.bytes.end());
            outcome.answers += '|';
        }
    }
    outcome.counters = session.Counters();
    outcome.records = session.Record().size();
    outcome.flash = session.Flash().Read(0, 0x4000);
    session.LineClosed();
    return outcome;
}

}  // namespace

void PhoneReceive(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return;
    SimPhoneConfig config;
    config.link = (data[0] & 1) ? SimLink::Uart : SimLink::Usb;
    config.compression = (data[0] & 2) ? SimCompression::Refused : SimCompression::Supported;
    config.checkLineRate = false;  // no line here to ask
    config.flashSize = 1u << 20;
    config.recordLimit = 4096;
    const std::size_t piece = 1 + (data[1] % 64);
    const PhoneOutcome whole = Feed(config, data + 2, size - 2, size);
    const PhoneOutcome pieces = Feed(config, data + 2, size - 2, piece);
    Check(whole.counters.bytesReceived == size - 2, "bytes received miscounted");
    Check(whole.counters.units == pieces.counters.units &&
              whole.counters.errors == pieces.counters.errors &&
              whole.counters.acks == pieces.counters.acks &&
              whole.counters.naks == pieces.counters.naks &&
              whole.counters.bytesWritten == pieces.counters.bytesWritten &&
              whole.records == pieces.records && whole.answers == pieces.answers &&
              whole.flash == pieces.flash,
          "the phone read the same bytes differently when they came in pieces");
}

namespace {

// The cutting rules, written out plainly: a frame opens at 0x7E and closes at the next 0x7E;
// bytes before an opening flag are dropped; a flag right after the opening one opens the frame
// anew; the rest of a chunk after a closing flag is dropped; a frame that outgrows the
// accumulator is dropped whole.
struct CutterModel {
    std::vector<std::uint8_t> open;  // the frame being assembled, opening flag first
    std::uint64_t discarded = 0;

    // The frames completed by one chunk (at most one), without their opening flag.
    std::vector<std::vector<std::uint8_t>> Feed(const std::uint8_t* data, std::size_t count) {
        std::vector<std::vector<std::uint8_t>> frames;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t b = data[i];
            if (b != 0x7E) {
                if (open.empty()) {
                    ++discarded;
                } else if (open.size() + 1 >= RX_ACCUMULATOR_CAPACITY) {
                    discarded += open.size() + 1;
                    open.clear();
                } else {
                    open.push_back(b);
                }
                continue;
            }
            if (open.size() <= 1) {
                discarded += open.size();
                open.assign(1, b);
                continue;
            }
            open.push_back(b);
            frames.emplace_back(open.begin() + 1, open.end());
            open.clear();
            discarded += count - i - 1;
            break;
        }
        return frames;
    }
};

}  // namespace

void ResponseCutting(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return;
    ResponseReceiver receiver;
    CutterModel model;
    std::uint32_t seed = data[0];
    std::size_t offset = 1;
    const auto never = [] { return false; };
    while (offset < size) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t piece = std::min<std::size_t>(size - offset, 1 + (seed >> 16) % 37);
        const auto expected = model.Feed(data + offset, piece);
        const ResponseReceiver::FeedResult fed = receiver.Feed(data + offset, piece);
        offset += piece;
        Check(fed.completed == !expected.empty(), "a frame completed in one and not the other");
        if (!fed.completed) continue;
        Check(receiver.Wait(1, never) == WaitResult::Arrived,
              "a completed frame was not handed over");
        const std::vector<std::uint8_t>& got = receiver.Response();
        Check(got == expected.front(), "the frame differs from the cutting rules'");
        Check(got.size() >= 2 && got.back() == 0x7E, "an empty or unclosed answer");
        for (std::size_t i = 0; i + 1 < got.size(); ++i)
            Check(got[i] != 0x7E, "a flag inside an answer");
    }
    Check(receiver.discardedBytes() == model.discarded, "discarded bytes miscounted");
}

void RecordTimeBounds(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto since = RecordTimeBound(text, TimeBound::Since);
    const auto until = RecordTimeBound(text, TimeBound::Until);
    Check(since.has_value() == until.has_value(), "the two ends accept different texts");
    if (!since) return;
    const auto storedForm = [](const std::string& t) {
        return t == "-" || t == "~" ||
               (t.size() == 24 && t[4] == '-' && t[7] == '-' && t[10] == 'T' && t[13] == ':' &&
                t[16] == ':' && t[19] == '.' && t[23] == 'Z');
    };
    Check(storedForm(*since) && storedForm(*until), "not a stored instant: " + *since);
    Check(*since < *until || (*since == *until && (*since == "-" || *since == "~")),
          "the period ends before it begins: " + text);
    if (*since != "-" && *since != "~")
        Check(RecordTimeBound(*since, TimeBound::Since) == since,
              "a start read again moved: " + *since);
}

void FontAddressText(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (CheckAddressText(text) != AddressTextProblem::None) return;
    std::string number = text;
    while (!number.empty() && (number.back() == ' ' || number.back() == '\t')) number.pop_back();
    const bool hex =
        number.size() > 2 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X');
    const std::string digits = hex ? number.substr(2) : number;
    Check(!digits.empty() && digits.find_first_not_of(hex ? "0123456789abcdefABCDEF"
                                                          : "0123456789") == std::string::npos,
          "taken as a number: " + text);
    errno = 0;
    char* end = nullptr;
    const unsigned long long expected = std::strtoull(digits.c_str(), &end, hex ? 16 : 10);
    Check(*end == '\0' && (errno == 0 || expected == ~0ull), "the C library stops early: " + text);
    Check(ParseWideNumber(text) == expected, "read as another number: " + text);
    Check(CheckAddressText(text + "z") == AddressTextProblem::NotANumber &&
              CheckAddressText(text + ".5") == AddressTextProblem::NotANumber,
          "trailing characters taken: " + text);
}

}  // namespace zembra::fuzz
