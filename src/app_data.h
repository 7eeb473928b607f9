#ifndef APPLIST_APP_DATA_H
#define APPLIST_APP_DATA_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

// Capacities of the row's fields, in bytes with the terminating zero byte.
constexpr std::size_t kStatusIconSize = 300;
constexpr std::size_t kAppIconSize = 4096;
constexpr std::size_t kStatusAndDescSize = 4096;

// The status icon cell falls back to the directory text and this tail,
// printed unprobed; the driver refuses a directory text too long for it.
constexpr std::string_view kFallbackIconTail = "/icons/none.png";
constexpr std::size_t kMaxDirectoryLength = kStatusIconSize - 1 - kFallbackIconTail.size();

// The cell builders. Each writes its cell into the caller's zero-terminated
// field `out` of `size` bytes, or leaves it untouched when the app lacks the
// file, and reports that on standard error.
void get_status_icon(std::string_view directory, std::string_view app, char *out,
                     std::uint64_t size);
void get_app_icon(std::string_view directory, std::string_view app, char *out, std::uint64_t size);
void get_app_status_and_desc(std::string_view directory, std::string_view app, char *out,
                             std::uint64_t size);

// Writes the pieces as one message on standard error, in a single write.
// Every message of the program goes out this way but the one of perror.
void report(std::initializer_list<std::string_view> pieces);

// Room for the decimal digits of any std::uint64_t.
constexpr std::size_t kDigitsSize = 20;

// Returns the decimal digits of number, written at the end of digits.
std::string_view decimal(std::uint64_t number, char (&digits)[kDigitsSize]);

// The pieces underneath, declared for the tests and fuzzers.
constexpr std::size_t kStatusTextSize = 30;

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

// Ends the text at its first line end, which is where a list dialog reading
// lines would end the cell: a newline, a carriage return or U+2029 (the
// bytes E2 80 A9). The line end and all after it are dropped.
void cut_line_end(char *text);

void str_zero(char *buffer);

#endif
