#include "job/ImageChecks.h"

#include "job/ImageLayout.h"
#include "platform/Helpers.h"

namespace zembra {

namespace {

bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr char kSizeMessageCode[] = "파일 크기는 0x10000의 배수가 되어야 합니다.";
constexpr char kSizeMessageFont[] = "파일 크기는 0x10000의 배수가 되어야 합니다. 환경에서 조정가능";
constexpr char kVersionMessage[] =
    "파일 버전 정보는 0 또는 0xFFFF 값을 가질수 없습니다. 코드 파일을 잘못 선택 하였습니다.";
constexpr char kBootMessage[] =
    "부트 위치 정보는 0 또는 0xFFFFFFFF 값을 가질 수 없습니다.  코드 파일을 잘못 선택 하였습니다.";

std::string CannotReadText(const std::string& path) {
    return FormatText("파일을 읽을 수 없습니다:%s", path.c_str());
}

// True when size is a multiple of 64 KiB (always when the check is off).
bool BinSizeOk(std::int64_t size, bool checkBinSize64K) {
    return !checkBinSize64K || size % 0x10000 == 0;
}

}  // namespace

CodeTrailer ReadCodeTrailer(const std::string& path) {
    CodeTrailer trailer;
    // Never blocks on a FIFO or a device in the file's place.
    std::FILE* file = OpenRegularFile(path);
    if (file == nullptr) return trailer;
    FileVersion size;
    const bool sized = FileVersionOf(file, size);
    const bool tooShort = sized && size.size < 20;
    const bool ok = sized && !tooShort &&
                    ReadImageTrailer(file, size.size, trailer.version, trailer.bootLocation);
    std::fclose(file);
    if (tooShort) trailer.status = CodeTrailer::Status::TooShort;
    if (!ok) return trailer;
    if (trailer.version == 0 || trailer.version == 0xFFFF)
        trailer.status = CodeTrailer::Status::VersionInvalid;
    else if (trailer.bootLocation == 0 || trailer.bootLocation == 0xFFFFFFFFu)
        trailer.status = CodeTrailer::Status::BootInvalid;
    else
        trailer.status = CodeTrailer::Status::Ok;
    return trailer;
}

std::optional<std::string> AddressFromFileName(const std::string& path) {
    std::string lower = AsciiLower(path);
    std::size_t tag = lower.find("_0x");
    if (tag == std::string::npos) return std::nullopt;
    std::string address = "0x";
    for (std::size_t i = tag + 3; i < lower.size() && address.size() < 2 + 28; ++i) {
        if (!IsAsciiAlnum(lower[i])) break;
        address += lower[i];
    }
    return address;
}

std::string AddressOnExit(const std::string& text, bool autoHexPrefix) {
    if (!autoHexPrefix || text.empty()) return text;
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) return text;
    return "0x" + text;
}

AddressTextProblem CheckAddressText(const std::string& text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t i = 0, end = text.size();
    while (end > i && blank(text[end - 1])) --end;
    if (i == end) return AddressTextProblem::Empty;
    if (text[i] == '-') return AddressTextProblem::Negative;
    const bool hex = end - i >= 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X');
    if (hex) i += 2;
    if (i == end) return AddressTextProblem::NoDigits;
    for (; i < end; ++i) {
        const char c = text[i];
        const bool digit =
            (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!digit) return AddressTextProblem::NotANumber;
    }
    return AddressTextProblem::None;
}

bool ExpectedNameRule(const std::string& path, const std::string& expectedName) {
    if (path.empty() || expectedName == ANY_FILE) return true;
    if (expectedName.empty()) return false;
    // Letters compared without their case.
    return AsciiLower(path).find(AsciiLower(expectedName)) != std::string::npos;
}

SelectionResult SelectImageFile(int slot, const std::string& path, bool checkBinSize64K) {
    SelectionResult r;
    r.path = path;
    r.fileTime = FileTimeText(path);
    r.size = FileSizeOf(path);
    r.log.push_back(
        {FormatText("이름:%s 크기:0x%llX,%lld 바이트", path.c_str(),
                    static_cast<unsigned long long>(r.size), static_cast<long long>(r.size))});
    if (!BinSizeOk(r.size, checkBinSize64K)) {
        r.log.push_back({slot == ImageSlot::Code ? kSizeMessageCode : kSizeMessageFont});
        return r;
    }
    if (slot == ImageSlot::Code) {
        CodeTrailer trailer = ReadCodeTrailer(path);
        if (trailer.status == CodeTrailer::Status::Unreadable) {
            r.log.push_back({CannotReadText(path)});
            return r;
        }
        if (trailer.status == CodeTrailer::Status::TooShort) {
            r.log.push_back({kVersionMessage});
            return r;
        }
        r.version = trailer.version;
        r.log.push_back({FormatText("코드 파일 버전 정보:%d", trailer.version)});
        if (trailer.status == CodeTrailer::Status::VersionInvalid) {
            r.log.push_back({kVersionMessage});
            return r;
        }
        r.bootLocation = trailer.bootLocation;
        r.log.push_back({FormatText("코드 부트 위치 정보:0x%X", trailer.bootLocation)});
        if (trailer.status == CodeTrailer::Status::BootInvalid) {
            r.log.push_back({kBootMessage});
            return r;
        }
    } else {
        // A font has no trailer, so a path that cannot be read (gone, a directory, no
        // permission) would pass with size 0 and only fail at Start. Refuse it now.
        if (!IsReadableRegularFile(path)) {
            r.log.push_back({CannotReadText(path)});
            return r;
        }
        r.addressText = AddressFromFileName(path);
    }
    r.selected = true;
    return r;
}

void ApplySelection(ImageSlot& slot, const SelectionResult& result) {
    if (!result.selected) {
        ClearSlot(slot);
        return;
    }
    slot.selected = true;
    slot.path = result.path;
    slot.fileTime = result.fileTime;
    if (result.addressText) slot.addressText = *result.addressText;
}

}  // namespace zembra
