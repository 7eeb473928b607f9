#ifndef APPLIST_APP_DATA_H
#define APPLIST_APP_DATA_H

#include <cstddef>
#include <cstdint>
#include <string_view>

// Capacities of the row's fields, in bytes with the terminating zero byte.
constexpr std::size_t kStatusIconSize = 300;
constexpr std::size_t kAppIconSize = 4096;
constexpr std::size_t kStatusAndDescSize = 4096;

// The status icon cell falls back to the directory text and this tail,
// printed without a probe of its own; the driver refuses a directory text
// too long for it.
constexpr std::string_view kFallbackIconTail = "/icons/none.png";
constexpr std::size_t kMaxDirectoryLength = kStatusIconSize - 1 - kFallbackIconTail.size();

// The cell builders write their cell into the caller's zero-terminated
// field `out` of `size` bytes; `size` is at least 1 here and wherever it is
// passed below. get_status_icon writes the fallback icon when it finds no
// better one, and nothing into a field too small for that; it reports only a
// status too long or a file it could not read. The other two leave `out`
// untouched when the app lacks the file, and report it.
void get_status_icon(std::string_view directory, std::string_view app, char *out,
                     std::uint64_t size);
void get_app_icon(std::string_view directory, std::string_view app, char *out, std::uint64_t size);
void get_app_status_and_desc(std::string_view directory, std::string_view app, char *out,
                             std::uint64_t size);

// The pieces underneath, declared here so the tests and fuzzers can call them.
constexpr std::size_t kStatusTextSize = 30;

void get_app_status(std::string_view directory, std::string_view app, char *out,
                    std::uint64_t size);
void get_app_status_with_none(std::string_view directory, std::string_view app, char *out,
                              std::uint64_t size);

// Returns 0 when this process may read the file, with the user's rights or
// its own, 1 when it may not: read it as an exit status, not as a yes/no
// answer. It asks the kernel and opens nothing.
int fileExists(const char *path);

// Reads the first line of a regular file, newline kept, into buffer: at most
// size - 1 bytes from the start of the file, zero-terminated. Anything else
// (a directory, a FIFO, a device) is not opened and yields nothing, as does
// an empty file: the buffer is left as it was. A file that cannot be looked
// at or opened is reported through perror and leaves the buffer too; a read
// that fails is reported the same way and leaves the buffer empty.
void getLine(const char *path, char *buffer, std::uint64_t size);

// Returns the length of the first line of text: the bytes before its first
// line end, or all of them. A line end is where a list dialog reading lines
// ends a cell: a newline, a carriage return or U+2029 (the bytes E2 80 A9).
std::size_t line_length(const char *text);

// Ends the text at its first line end, dropping the line end and all after.
void cut_line_end(char *text);

// Makes buffer the empty text.
void str_zero(char *buffer);

#endif
