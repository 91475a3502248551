#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace zembra {

// The high-resolution steady clock in milliseconds, as a floating value. Elapsed times are
// whole milliseconds of the difference of two readings.
double NowMs();

// The system's text of an error number (errno), from any thread.
std::string ErrorNumberText(int errorNumber);

// The calendar time (UTC) of a time_t, whichever thread asks.
std::tm UtcCalendarTime(std::time_t seconds);

// True when the file system has an entry of that path (a dangling link counts).
bool FileExists(const std::string& path);

// Size in bytes of the regular file at path opened for binary reading; 0 when it cannot be
// opened or is not a regular file (a directory, a device).
std::int64_t FileSizeOf(const std::string& path);

// Opens a regular file for binary reading without ever blocking (a FIFO or a device in its
// place is refused, errno EINVAL); nullptr with errno set when it cannot be opened.
std::FILE* OpenRegularFile(const std::string& path);

// What tells one state of a file from another: its identity on the file system (device and
// file number), its size and its last-write and change times. A file replaced by another
// (rename, delete and create) gets another identity; one written in place gets new times.
struct FileVersion {
    std::uint64_t device = 0;
    std::uint64_t fileNumber = 0;
    std::int64_t size = 0;
    std::int64_t writeTimeNs = 0;
    std::int64_t changeTimeNs = 0;
    bool operator==(const FileVersion&) const = default;
};

// A 64-bit position in an open file: where it is (-1 when it cannot be told), and a move
// to an offset from its start (false when it failed).
std::int64_t FilePosition(std::FILE* file);
bool SeekFile(std::FILE* file, std::int64_t offset);

// The version of an open file; false when it cannot be told.
bool FileVersionOf(std::FILE* file, FileVersion& version);
// The version of the file at path (links followed); false when there is none or it cannot
// be told. Nothing is opened on Linux, so a device or a FIFO is never touched.
bool FileVersionAt(const std::string& path, FileVersion& version);

// What is at a path, following symbolic links (a dangling link is Missing); nothing is
// opened, so a device or a FIFO is never touched.
enum class PathKind { Missing, Regular, Other };
PathKind PathKindOf(const std::string& path);

// True when both paths name one regular file (under any name: links, relative paths).
bool SameRegularFile(const std::string& a, const std::string& b);

// True when path is a regular file that this process can open for reading.
bool IsReadableRegularFile(const std::string& path);

// Replaces the file at path (the file a chain of symbolic links ends in) with bytes: a
// temporary file beside it is written, synced and renamed over it, with the old file's
// owner, group and mode (a new file: the process's usual mode), and the rename is synced.
// The reason when it could not be done (the old file then stays as it was), else empty.
std::string ReplaceFileDurably(const std::string& path, const std::string& bytes);

// True when this process may create and replace files in the folder.
bool FolderWritable(const std::string& folder);

// True when the stream is a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// Last-write time of the file in local time, "yy-mm-dd hh:nn:ss" (two-digit year, 24-hour
// clock); empty when the file has no entry.
std::string FileTimeText(const std::string& path);

// Full path of the running program (/proc/self/exe); empty when it cannot be found.
std::string ProgramPath();

// The part of path after its last "/" or "\"; the whole text when there is none.
std::string FileNameOnly(const std::string& path);
// The name of the file a path of this system names: after its last "/" (on Windows also
// "\"); on Linux a "\" is part of the name ("fw\v2.bin" is one file's name).
std::string LocalFileName(const std::string& path);
// The folder part of a path: before its last "/" or "\"; empty when there is none or it
// is the root.
std::string ParentFolder(const std::string& path);
// True when the path starts at a root: "/" or "\", or a drive ("C:\", "C:/").
bool IsAbsolutePath(const std::string& path);

// Empty text gives 0; a text beginning "0x" or "0X" is read as hexadecimal, any other text
// as a decimal number, in both cases up to the first character that is not a digit of the
// base. A value beyond 32 bits gives 0xFFFFFFFF.
std::uint32_t ParseNumber(const std::string& text);
// The same reading without the 32-bit limit (saturating at 2^64 - 1), for callers that must
// tell a value beyond 32 bits from 0xFFFFFFFF.
std::uint64_t ParseWideNumber(const std::string& text);

// printf-style formatting into a string. GCC is told the GNU format (mingw's own printf
// attribute would mean the Microsoft one); clang knows only printf, which is the same here.
#if defined(__clang__)
#define ZEMBRA_FORMAT_ATTRIBUTE(f, a) __attribute__((format(printf, f, a)))
#else
#define ZEMBRA_FORMAT_ATTRIBUTE(f, a) __attribute__((format(gnu_printf, f, a)))
#endif
std::string FormatText(const char* format, ...) ZEMBRA_FORMAT_ATTRIBUTE(1, 2);

// The text with A-Z lowered; every other byte (UTF-8 included) as it is.
std::string AsciiLower(std::string text);

// Each byte as "%02X " (two upper-case hexadecimal digits and a blank), at most the first
// HEX_DUMP_MAX bytes.
inline constexpr std::size_t HEX_DUMP_MAX = 8225;
std::string HexDump(const std::uint8_t* bytes, std::size_t count);

// CP949 (the Korean ANSI code page) <-> UTF-8 through glibc iconv. Neither ever fails:
// - Cp949ToUtf8: each byte that does not start a valid CP949 character becomes U+FFFD.
// - Utf8ToCp949: each character CP949 cannot represent, and each invalid UTF-8 byte,
//   becomes "?".
std::string Cp949ToUtf8(const std::string& cp949);
std::string Utf8ToCp949(const std::string& utf8);
// True when Utf8ToCp949 keeps every character of the text (nothing becomes "?").
bool FitsCp949(const std::string& utf8);

}  // namespace zembra
