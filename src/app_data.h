#ifndef APPLIST_APP_DATA_H
#define APPLIST_APP_DATA_H

#include <cstdint>
#include <string_view>

// Capacities of the row's fields, in bytes with the terminating zero byte.
constexpr std::uint64_t kStatusIconSize = 300;
constexpr std::uint64_t kAppIconSize = 4096;
constexpr std::uint64_t kStatusAndDescSize = 4096;

// Longest directory text whose fallback status icon path ("/icons/none.png"
// appended) still fits the status icon field.
constexpr std::uint64_t kMaxDirectoryLength = kStatusIconSize - 16;

// The cell builders. Each writes its cell into the caller's zero-terminated
// field `out` of `size` bytes, or leaves it untouched when the app lacks the
// file, and reports that on standard error.
void get_status_icon(std::string_view directory, std::string_view app, char *out,
                     std::uint64_t size);
void get_app_icon(std::string_view directory, std::string_view app, char *out, std::uint64_t size);
void get_app_status_and_desc(std::string_view directory, std::string_view app, char *out,
                             std::uint64_t size);

// The pieces underneath, declared for the tests and fuzzers.
constexpr std::uint64_t kStatusTextSize = 30;

void get_app_status(std::string_view directory, std::string_view app, char *out,
                    std::uint64_t size);
void get_app_status_with_none(std::string_view directory, std::string_view app, char *out,
                              std::uint64_t size);

// Returns 0 when the file opens for reading, 1 when it does not: read it as
// an exit status, not as a yes/no answer.
int fileExists(const char *path);

// Reads the first line of the file, newline kept, into buffer (at most
// size - 1 bytes, zero-terminated). On an open failure it reports through
// perror and leaves the buffer as it was; so does a read that yields nothing.
void getLine(const char *path, char *buffer, std::uint64_t size);

// Removes the line end that getLine keeps: a final newline, together with a
// carriage return directly before it, and nothing else.
void cut_line_end(char *text);

void str_zero(char *buffer);

#endif
