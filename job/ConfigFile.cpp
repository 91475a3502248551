#include "job/ConfigFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/Helpers.h"

namespace zembra {

namespace {

// ---- keys ----------------------------------------------------------------------------

enum class Key {
    PopUp,
    Model,
    Code,
    Change,
    Font1,  // ... Font6 follow
    Font6 = Font1 + 5,
    Address1,  // ... Address6 follow
    Address6 = Address1 + 5,
    UsbProtocol,
    SerialProtocol,
    PacketWait,
    NormalWait,
    CmdGap,
    EraseWait,
    ShowInvalidFcs,
    MultiEraseExcess,
    BinSize64K,
    Font0Address,
    AutoHexPrefix,
    Count
};

// Keys in UTF-8, in the order of the Key enumeration.
const char* const kKeyTexts[] = {
    "[로드시띄우는창]",
    "[모델명]",
    "[코드]",
    "[Change]",
    "[폰트1]",
    "[폰트2]",
    "[폰트3]",
    "[폰트4]",
    "[폰트5]",
    "[폰트6]",
    "[폰트1주소]",
    "[폰트2주소]",
    "[폰트3주소]",
    "[폰트4주소]",
    "[폰트5주소]",
    "[폰트6주소]",
    "[USB다운로드규약]",
    "[Serial다운로드규약]",
    "[패킷CMD응답대기시간ms]",
    "[일반CMD응답대기시간ms]",
    "[CMD사이의대기시간ms]",
    "[삭제요청대기시간sec]",
    "[NAK_INVALID_FCS표시하기]",
    "[멀티시삭제시간의초과sec]",
    "[BinSize64K검사하기]",
    "[Font0주소다운로드허용]",
    "[주소에0x자동으로붙이기]",
};
static_assert(sizeof kKeyTexts / sizeof kKeyTexts[0] == static_cast<std::size_t>(Key::Count));

// The keys after the protocols, in the file's order: a time field's text (a number on disk)
// or a flag each.
struct SettingKey {
    Key key;
    TimeText time;
    bool DownloadSettings::*flag;
};
const SettingKey kSettingKeys[] = {
    {Key::PacketWait, &DownloadSettings::packetResponseWaitMs, nullptr},
    {Key::NormalWait, &DownloadSettings::normalResponseWaitMs, nullptr},
    {Key::CmdGap, &DownloadSettings::cmdGapMs, nullptr},
    {Key::EraseWait, &DownloadSettings::eraseWaitSec, nullptr},
    {Key::ShowInvalidFcs, nullptr, &DownloadSettings::showInvalidFcsNak},
    {Key::MultiEraseExcess, &DownloadSettings::multiEraseExcessSec, nullptr},
    {Key::BinSize64K, nullptr, &DownloadSettings::checkBinSize64K},
    {Key::Font0Address, nullptr, &DownloadSettings::allowFont0Address},
    {Key::AutoHexPrefix, nullptr, &DownloadSettings::autoHexPrefix},
};

const char kCommentLine[] = "// 이 파일은 Zembra 환경 파일 입니다.";
const char kPopUpLine[] = "[로드시띄우는창]  여기가 내용 [로드시띄우는창] 내용을 수정하세요";

// The keys as the bytes on disk (CP949), converted once.
const std::vector<std::string>& DiskKeys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> k;
        for (const char* text : kKeyTexts) k.push_back(Utf8ToCp949(text));
        return k;
    }();
    return keys;
}

const std::string& KeyText(Key key) {
    return DiskKeys()[static_cast<std::size_t>(key)];
}

// Words longer than this cannot be a key or "//"; only their first bytes are kept.
constexpr std::size_t kMaxWord = 64;

// ---- reading -------------------------------------------------------------------------

// A buffered byte stream over an open file.
class ByteStream {
  public:
    explicit ByteStream(std::FILE* file) : file_(file), buffer_(64 * 1024) {}

    // Next byte without consuming it; -1 at the end of the file (or on a read error).
    int Peek() {
        if (pos_ == len_ && !Fill()) return -1;
        return static_cast<unsigned char>(buffer_[pos_]);
    }
    int Get() {
        int c = Peek();
        if (c >= 0) ++pos_;
        return c;
    }

  private:
    bool Fill() {
        if (done_) return false;
        const std::size_t n = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        if (n == 0) {
            done_ = true;
            return false;
        }
        pos_ = 0;
        len_ = n;
        return true;
    }

    std::FILE* file_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0, len_ = 0;
    bool done_ = false;
};

bool IsSeparator(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads the next word; false at the end of the file. Leaves the separator after the word
// unread. `overlong` is set for a word longer than kMaxWord (its kept prefix is no key).
bool NextWord(ByteStream& in, std::string& word, bool& overlong) {
    word.clear();
    overlong = false;
    int c;
    while ((c = in.Peek()) >= 0 && IsSeparator(c)) in.Get();
    if (c < 0) return false;
    while ((c = in.Peek()) >= 0 && !IsSeparator(c)) {
        in.Get();
        if (word.size() < kMaxWord)
            word += static_cast<char>(c);
        else
            overlong = true;
    }
    return true;
}

// Skips the rest of the line, its LF included.
void SkipLine(ByteStream& in) {
    int c;
    while ((c = in.Get()) >= 0 && c != '\n') {
    }
}

// The characters up to CR, LF or the end of the file (not consumed), at most
// CONFIG_MAX_VALUE; the rest of a longer stretch is skipped.
std::string LineRest(ByteStream& in) {
    std::string rest;
    int c;
    while ((c = in.Peek()) >= 0 && c != '\r' && c != '\n') {
        in.Get();
        if (rest.size() < CONFIG_MAX_VALUE) rest += static_cast<char>(c);
    }
    return rest;
}

// Text value: the rest of the line without its first blank (0x20), wherever it stands.
std::string TextValue(ByteStream& in) {
    std::string rest = LineRest(in);
    std::size_t blank = rest.find(' ');
    if (blank != std::string::npos) rest.erase(blank, 1);
    return rest;
}

// Number value: a signed decimal integer after optional leading blanks, up to the first
// non-digit; 0 without one. Values beyond 32 bits are held at the 32-bit limits.
long long NumberValue(ByteStream& in) {
    std::string rest = LineRest(in);
    std::size_t i = 0;
    while (i < rest.size() &&
           (rest[i] == ' ' || rest[i] == '\t' || rest[i] == '\v' || rest[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) negative = rest[i++] == '-';
    long long value = 0;
    for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
        value = value * 10 + (rest[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    value = negative ? -value : value;
    if (value > INT_MAX) value = INT_MAX;
    return value;
}

bool IsBlankText(const std::string& text) {
    for (unsigned char c : text)
        if (c > ' ') return false;
    return true;
}

// The number of a protocol choice in the file: 2 normal, 1 press/PPV, 0 otherwise; and back:
// 2 normal, 1 press/PPV, any other value auto.
int ProtocolChoiceNumber(ProtocolChoice choice) {
    switch (choice) {
        case ProtocolChoice::Normal:
            return 2;
        case ProtocolChoice::Press:
            return 1;
        default:
            return 0;
    }
}

ProtocolChoice ProtocolChoiceFromNumber(long long number) {
    if (number == 2) return ProtocolChoice::Normal;
    if (number == 1) return ProtocolChoice::Press;
    return ProtocolChoice::Auto;
}

// Applies one key; `in` stands right after the key word.
void ApplyKey(Key key, ByteStream& in, DownloadJob& job, DownloadSettings& settings,
              ConfigReadResult& result) {
    for (const SettingKey& setting : kSettingKeys) {
        if (setting.key != key) continue;
        const long long value = NumberValue(in);
        if (setting.flag)
            settings.*setting.flag = value != 0;
        else if (value != 0)  // a time of 0 keeps the field's text
            settings.*setting.time = std::to_string(value);
        return;
    }
    int k = static_cast<int>(key);
    if (key == Key::PopUp) {
        std::string value = Cp949ToUtf8(TextValue(in));
        result.popUpKeySeen = true;
        if (!IsBlankText(value)) result.showPopUp = true;
        result.popUpText = std::move(value);
    } else if (key == Key::Model) {
        job.modelName = Cp949ToUtf8(TextValue(in));
    } else if (key == Key::Code) {
        job[ImageSlot::Code].expectedName = Cp949ToUtf8(TextValue(in));
    } else if (key == Key::Change) {
        job.change = NumberValue(in) != 0;
    } else if (k >= static_cast<int>(Key::Font1) && k <= static_cast<int>(Key::Font6)) {
        job[FontSlot(k - static_cast<int>(Key::Font1) + 1)].expectedName =
            Cp949ToUtf8(TextValue(in));
    } else if (k >= static_cast<int>(Key::Address1) && k <= static_cast<int>(Key::Address6)) {
        job[FontSlot(k - static_cast<int>(Key::Address1) + 1)].addressText =
            Cp949ToUtf8(TextValue(in));
    } else if (key == Key::UsbProtocol) {
        settings.usbProtocol = ProtocolChoiceFromNumber(NumberValue(in));
    } else if (key == Key::SerialProtocol) {
        settings.serialProtocol = ProtocolChoiceFromNumber(NumberValue(in));
    }
}

std::optional<Key> FindKey(const std::string& word) {
    const std::vector<std::string>& keys = DiskKeys();
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (keys[i] == word) return static_cast<Key>(i);
    return std::nullopt;
}

// Opens a regular file for reading without blocking on special files; nullptr with the
// reason in error.
std::FILE* OpenRegularForReading(const std::string& path, std::int64_t& size, std::string& error) {
    std::FILE* file = OpenRegularFile(path);
    FileVersion version;
    if (file != nullptr && FileVersionOf(file, version)) {
        size = version.size;
        return file;
    }
    if (file != nullptr) std::fclose(file);
    std::error_code ec;
    if (errno != EINVAL)
        error = std::strerror(errno);
    else
        error =
            std::filesystem::is_directory(path, ec) ? std::strerror(EISDIR) : "not a regular file";
    return nullptr;
}

// ---- writing -------------------------------------------------------------------------

void Line(std::string& out, const std::string& utf8) {
    out += Utf8ToCp949(utf8);
    out += "\r\n";
}

void KeyLine(std::string& out, Key key, const std::string& valueUtf8) {
    out += KeyText(key);
    out += ' ';
    out += Utf8ToCp949(valueUtf8);
    out += "\r\n";
}

// The save refused because an image's file name has a character CP949 cannot hold (slot
// caption, file name).
constexpr char kNameNotCp949[] =
    "%s 파일 이름(%s)에 환경 파일(CP949)에 저장할 수 없는 문자가 있습니다. 파일 이름을 "
    "바꾼 뒤 다시 저장하세요";

// The first slot whose file name CP949 cannot hold: written with "?" it would no longer
// name the file it was saved for.
std::optional<int> SlotNameOutsideCp949(const DownloadJob& job) {
    for (int slot = 0; slot < ImageSlot::Count; ++slot)
        if (!FitsCp949(FileNameOnly(job[slot].path))) return slot;
    return std::nullopt;
}

// The exact bytes the writer puts on disk (CP949, CR LF), or nothing after a conversion error.
std::optional<std::string> ConfigFileBytes(const DownloadJob& job, const DownloadSettings& settings,
                                           ConfigFileKind kind, ConversionError& conversionError) {
    // Every number first: nothing is produced when one of them is not an integer.
    for (const SettingKey& setting : kSettingKeys) {
        if (setting.time && !StrictDecimal(settings.*setting.time)) {
            conversionError = TimeTextError(setting.time, settings, false);
            return std::nullopt;
        }
    }
    auto flag = [](bool on) { return std::string(on ? "1" : "0"); };

    std::string out;
    Line(out, kCommentLine);
    if (kind == ConfigFileKind::Full) {
        Line(out, kPopUpLine);
        KeyLine(out, Key::Model, job.modelName);
        KeyLine(out, Key::Code, FileNameOnly(job[ImageSlot::Code].path));
        KeyLine(out, Key::Change, flag(job.change));
        for (int n = 1; n <= 6; ++n)
            KeyLine(out, static_cast<Key>(static_cast<int>(Key::Font1) + n - 1),
                    FileNameOnly(job[FontSlot(n)].path));
        for (int n = 1; n <= 6; ++n) {
            const std::string& text = job[FontSlot(n)].addressText;
            KeyLine(out, static_cast<Key>(static_cast<int>(Key::Address1) + n - 1),
                    text.empty() ? "" : FormatText("0x%X", ParseNumber(text)));
        }
    }
    out += "\r\n";
    KeyLine(out, Key::UsbProtocol, std::to_string(ProtocolChoiceNumber(settings.usbProtocol)));
    KeyLine(out, Key::SerialProtocol,
            std::to_string(ProtocolChoiceNumber(settings.serialProtocol)));
    for (const SettingKey& setting : kSettingKeys)
        KeyLine(out, setting.key,
                setting.time ? std::to_string(*StrictDecimal(settings.*setting.time))
                             : flag(settings.*setting.flag));
    return out;
}

}  // namespace

ConfigReadResult ReadConfigFile(const std::string& path, ConfigSource source, DownloadJob& job,
                                DownloadSettings& settings) {
    ConfigReadResult result;
    std::string error;
    std::FILE* file = OpenRegularForReading(path, result.size, error);
    if (file == nullptr) {
        result.log = {
            FormatText("환경파일을 읽을 수 없습니다:%s (%s)", path.c_str(), error.c_str()), 255};
        return result;
    }
    result.opened = true;
    result.log = {FormatText("환경파일읽기:%s 크기:0x%llX,%lld 바이트", path.c_str(),
                             static_cast<unsigned long long>(result.size),
                             static_cast<long long>(result.size))};
    if (source == ConfigSource::Dialog) {
        job.configPath = path;
        for (int n = 1; n <= 6; ++n) job[FontSlot(n)].addressText.clear();
        job.configLoaded = true;
    }
    ByteStream in(file);
    std::string word;
    bool overlong;
    while (NextWord(in, word, overlong)) {
        if (overlong) continue;
        if (word == "//") {
            SkipLine(in);
            continue;
        }
        if (std::optional<Key> key = FindKey(word)) ApplyKey(*key, in, job, settings, result);
    }
    std::fclose(file);
    return result;
}

void ReleaseConfig(DownloadJob& job) {
    job.configPath.clear();
    job.configLoaded = false;
    for (ImageSlot& slot : job.slots) slot.expectedName = ANY_FILE;
    job.modelName.clear();
}

ConfigWriteResult WriteConfigFile(const std::string& path, const DownloadJob& job,
                                  const DownloadSettings& settings, ConfigFileKind kind) {
    ConfigWriteResult result;
    ConversionError conversion;
    std::optional<std::string> bytes = ConfigFileBytes(job, settings, kind, conversion);
    if (!bytes) {
        result.conversionError = std::move(conversion);
        return result;
    }
    if (path.empty()) {
        result.ioError = "empty file name";
        return result;
    }

    if (const std::optional<int> slot = SlotNameOutsideCp949(job);
        slot && kind == ConfigFileKind::Full) {
        result.refusal =
            FormatText(kNameNotCp949, SlotCaption(*slot), FileNameOnly(job[*slot].path).c_str());
        return result;
    }

    // Replace the file a symbolic link points to, not the link itself, durably.
    result.ioError = ReplaceFileDurably(path, *bytes);
    result.ok = result.ioError.empty();
    return result;
}

std::string AutoConfigPathFor(const std::string& programPath) {
    std::string name = FileNameOnly(programPath);
    std::string base = programPath;
    if (name.size() > 4 && name[name.size() - 4] == '.') base.resize(base.size() - 4);
    return base + "cfg.txt";
}

std::string autoConfigPath() {
    return AutoConfigPathFor(ProgramPath());
}

bool CanOpenForReading(const std::string& path) {
    std::int64_t size;
    std::string error;
    std::FILE* file = OpenRegularForReading(path, size, error);
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

}  // namespace zembra
