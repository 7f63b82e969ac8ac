#pragma once
// Decisions behind the data folder, the log and error texts, free of any
// platform call: the glue passes in environment values, clock readings and
// system messages.
#include <cstdint>
#include <string>
#include <string_view>

// Longest OSTREL_DATA_DIR value taken: it is read into a buffer of this many
// characters (terminator included), so longer values count as unset rather
// than being cut to a different folder.
constexpr size_t kDataDirEnvBuffer = 260;

// The data folder from the environment override (empty when unset) and the
// roaming application-data folder (empty when it could not be resolved).
std::wstring ChooseDataFolder(std::wstring_view envValue, std::wstring_view roamingAppData);

// The file name of a path: what follows the last backslash or slash.
std::wstring_view PathFileName(std::wstring_view path);

// The default captures folder below the Videos folder; empty when Videos is unknown.
std::wstring CapturesFolderBelow(std::wstring_view videosFolder);

// True for "X:\..." and UNC "\\server\share..." paths.
bool IsFullyQualifiedPath(std::wstring_view path);

// A folder as typed or stored, in the form every file name is joined to:
// blanks around it dropped (Windows would create "C:\caps" for "C:\caps "
// and then find no such folder inside a path), and no trailing separator
// except on a drive root ("D:\").
std::wstring TidyFolderPath(std::wstring_view path);

// folder + "\" + name; no second separator after a folder that ends in one ("D:\").
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

// "0x%08X": lower-case 0x, eight upper-case hexadecimal digits.
std::wstring HexCode(uint32_t code);

// The system's message without its trailing line breaks and blanks, then
// " (0x........)"; "error 0x........" when nothing of the message is left.
std::wstring ComposeErrorText(std::wstring_view systemMessage, uint32_t code);

// "%04d-%02d-%02d %02d-%02d-%02d" of a local time: the log's stamp and the
// one in capture file names.
std::wstring TimeStampText(int year, int month, int day, int hour, int minute, int second);

// Wide text as a UTF-8 file written in text mode holds it: every line feed
// becomes CR LF, preceded by the byte-order mark when asked.
std::string TextModeUtf8(std::wstring_view text, bool byteOrderMark);

// Longest log message in characters (a 1024-character buffer with its terminator).
constexpr size_t kLogMessageMax = 1023;

// One log line as written to the file: UTF-8, stamp, two spaces, message, CR LF,
// preceded by the UTF-8 byte-order mark when the file is new or empty.
std::string LogFileBytes(std::wstring_view stamp, std::wstring_view message, bool fileIsEmpty);
