#include "records/RecordExport.h"

#include <cinttypes>
#include <string_view>
#include <type_traits>

#include "job/ImageSlot.h"
#include "platform/Helpers.h"

namespace zembra {

namespace {

const char* const kColumns[] = {
    "id",           "start_utc",    "end_utc",   "station",    "front_end",    "port",
    "slot",         "link",         "protocol",  "mode_code",  "version_word", "outcome",
    "outcome_code", "outcome_text", "succeeded", "bytes_sent", "naks",         "retransmissions",
    "duration_ms",  "run_uid",      "location",  "images"};

// A field in quotes, its quotes doubled; prefix goes first inside the quotes.
std::string QuotedField(const std::string& text, const char* prefix = "") {
    std::string out = std::string("\"") + prefix;
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string CsvField(const std::string& text) {
    return text.find_first_of(",\"\r\n") == std::string::npos ? text : QuotedField(text);
}

// A text cell: one that a spreadsheet would take for a formula (=, +, -, @, a tab or a
// carriage return first: a host or file name "=HYPERLINK(...)") gets a leading "'" and
// quotes, so that it is shown as the text it is.
std::string CsvTextField(const std::string& text) {
    if (text.empty() || std::string_view("=+-@\t\r").find(text[0]) == std::string_view::npos)
        return CsvField(text);
    return QuotedField(text, "'");
}

// A file name in the images field: its separators and the escape itself as %XX.
std::string ImageNameInField(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == '%' || c == ':' || c == ';')
            out += FormatText("%%%02X", static_cast<unsigned char>(c));
        else
            out += c;
    }
    return out;
}

// "0x%08X" of an address (more digits beyond 32 bits).
std::string AddressText(std::uint64_t address) {
    return FormatText("0x%08" PRIX64, address);
}

std::string ImagesField(const DownloadRecord& r) {
    std::string out;
    for (const RecordImage& image : r.images) {
        if (!out.empty()) out += ';';
        out +=
            FormatText("%d:%s:%lld:%s:%s-%s:%d", image.slot,
                       ImageNameInField(image.fileName).c_str(), static_cast<long long>(image.size),
                       image.sha256.c_str(), AddressText(image.flashStart).c_str(),
                       AddressText(image.flashEnd).c_str(), image.written ? 1 : 0);
    }
    return out;
}

// Length of the valid UTF-8 sequence at text[i], 0 when it is not one.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80           ? 1
                         : (c >> 5) == 0x6  ? 2
                         : (c >> 4) == 0xE  ? 3
                         : (c >> 3) == 0x1E ? 4
                                            : 0;
    if (length == 0 || i + length > text.size()) return 0;
    if (length == 2 && c < 0xC2) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    return length;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = Utf8Length(text, i);
        if (length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += FormatText("\\u%04x", c);
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out + "\"";
}

std::string Duration(std::int64_t ms) {
    return FormatText("%lld.%03llds", static_cast<long long>(ms / 1000),
                      static_cast<long long>(ms % 1000));
}

}  // namespace

std::string RecordsCsv(const std::vector<DownloadRecord>& records) {
    std::string out;
    for (const char* column : kColumns) {
        if (!out.empty()) out += ',';
        out += column;
    }
    out += "\r\n";
    for (const DownloadRecord& r : records) {
        out += std::to_string(r.id);
        ForEachRecordField(r, [&](const auto& field) {
            using Field = std::decay_t<decltype(field)>;
            out += ',';
            if constexpr (std::is_same_v<Field, std::string>)
                out += CsvTextField(field);
            else if (static_cast<const void*>(&field) == &r.modeCode)
                out += FormatText("0x%03X", static_cast<unsigned>(r.modeCode));
            else
                out += std::to_string(field);
        });
        out += "," + CsvField(ImagesField(r)) + "\r\n";
    }
    return out;
}

std::string RecordJsonLine(const DownloadRecord& r) {
    std::string out = "{\"id\":" + std::to_string(r.id);
    std::size_t column = 1;
    ForEachRecordField(r, [&](const auto& field) {
        using Field = std::decay_t<decltype(field)>;
        out += FormatText(",\"%s\":", kColumns[column++]);
        if constexpr (std::is_same_v<Field, std::string>)
            out += JsonString(field);
        else if constexpr (std::is_same_v<Field, bool>)
            out += field ? "true" : "false";
        else
            out += std::to_string(field);
    });
    out += ",\"images\":[";
    for (const RecordImage& image : r.images) {
        if (&image != &r.images.front()) out += ',';
        out += FormatText(
            "{\"slot\":%d,\"file_name\":%s,\"size\":%lld,\"sha256\":%s,\"flash_start\":%llu,"
            "\"flash_end\":%llu,\"written\":%s}",
            image.slot, JsonString(image.fileName).c_str(), static_cast<long long>(image.size),
            JsonString(image.sha256).c_str(), static_cast<unsigned long long>(image.flashStart),
            static_cast<unsigned long long>(image.flashEnd), image.written ? "true" : "false");
    }
    return out + "]}\n";
}

std::string RecordsTable(const std::vector<DownloadRecord>& records) {
    std::string out =
        FormatText("%6s  %-24s  %-16s %-4s %-10s %-8s %-16s %s %s\n", "id", "start (UTC)", "port",
                   "link", "protocol", "result", "outcome", "duration", "images");
    for (const DownloadRecord& r : records) {
        std::string images;
        for (const RecordImage& image : r.images)
            images += FormatText(" %s%s", SlotCaption(image.slot), image.written ? "" : "(x)");
        const std::string port = r.slot > 0 ? FormatText("%s #%d", r.port.c_str(), r.slot) : r.port;
        out += FormatText("%6lld  %s  %-16s %-4s %-10s %-8s %-16s %s %s\n",
                          static_cast<long long>(r.id), r.startUtc.c_str(), port.c_str(),
                          r.link.c_str(), r.protocol.c_str(), r.succeeded ? "OK" : "FAILED",
                          r.outcome.c_str(), Duration(r.durationMs).c_str(), images.c_str());
    }
    return out;
}

}  // namespace zembra
