#include "app_data.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace
{

constexpr std::uint64_t kStatusPathSize = 250;
constexpr std::uint64_t kLineSize = 4096;
constexpr std::uint64_t kDataPathSize = 4096;
constexpr std::uint64_t kDescriptionSize = 4096;
constexpr std::uint64_t kMessageSize = 4096 + 128;
constexpr std::uint64_t kFallbackTailLength = sizeof "/icons/none.png" - 1;

// O_NONBLOCK: a FIFO at a probed path must not stop the run; it opens at
// once and reads as empty.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Returns a precision for "%.*s"; no text handed in comes near INT_MAX.
int precision(std::string_view text)
{
    return text.size() < INT_MAX ? static_cast<int>(text.size()) : INT_MAX;
}

// Writes the pieces one after another into out, cut at its end to fit size
// bytes with the zero byte, as snprintf would cut them. Plain copies: with
// std::snprintf the row formats took three quarters of the run's
// instructions.
void join_cut(char *out, std::uint64_t size, std::initializer_list<std::string_view> pieces)
{
    if (size == 0)
        return;
    std::uint64_t used = 0;
    for (const std::string_view piece : pieces) {
        const std::uint64_t room = size - 1 - used;
        const std::uint64_t count = piece.size() < room ? piece.size() : room;
        std::memcpy(out + used, piece.data(), static_cast<std::size_t>(count));
        used += count;
    }
    out[used] = '\0';
}

// Returns whether directory/middle/name/tail, the path template
// "%s<middle>%s<tail>", fit path whole, and only then writes it; a cut path
// could name another file, so callers treat a false result as an absent file.
bool build_path(char *path, std::uint64_t size, std::string_view directory, std::string_view middle,
                std::string_view name, std::string_view tail)
{
    const std::uint64_t length = directory.size() + middle.size() + name.size() + tail.size();
    if (length >= size)
        return false;
    join_cut(path, size, {directory, middle, name, tail});
    return true;
}

// Writes the message head, app name and tail as one line on standard error,
// in one write as fprintf would, but without printf's machinery, which kept
// about 150 KiB more of libc resident (median peak at 10,000 apps). A name
// too long for the line goes out in pieces.
void report(std::string_view head, std::string_view app, std::string_view tail)
{
    char line[kMessageSize];
    if (head.size() + app.size() + tail.size() < sizeof line) {
        join_cut(line, sizeof line, {head, app, tail});
        (void)std::fputs(line, stderr);
        return;
    }
    for (const std::string_view piece : {head, app, tail})
        (void)std::fwrite(piece.data(), 1, piece.size(), stderr);
}

// Copies text into out only when it fits whole; returns whether it did.
bool copy_whole(char *out, std::uint64_t size, const char *text)
{
    const std::size_t length = std::strlen(text);
    if (length >= size)
        return false;
    std::memcpy(out, text, length + 1);
    return true;
}

// The two status lookups differ only in their default word and their name.
void read_status(std::string_view directory, std::string_view app, char *out, std::uint64_t size,
                 const char *default_word, const char *function)
{
    char path[kStatusPathSize];
    if (!build_path(path, sizeof path, directory, "/data/status/", app, "") ||
        fileExists(path) != 0) {
        join_cut(out, size, {default_word});
        return;
    }
    char line[kLineSize];
    str_zero(line);
    getLine(path, line, sizeof line);
    cut_line_end(line);
    if (!copy_whole(out, size, line)) {
        (void)std::fprintf(
            stderr, "ERROR: %s(): app \"%.*s\" has a status longer than %llu bytes!\n", function,
            precision(app), app.data(), static_cast<unsigned long long>(size == 0 ? 0 : size - 1));
        join_cut(out, size, {default_word});
    }
}

} // namespace

int fileExists(const char *path)
{
    const int fd = open(path, kOpenFlags);
    if (fd < 0)
        return 1;
    (void)close(fd);
    return 0;
}

void getLine(const char *path, char *buffer, std::uint64_t size)
{
    const int fd = open(path, kOpenFlags);
    if (fd < 0) {
        std::perror("getLine(): fopen()");
        return;
    }
    // One read: a regular file gives all it has up to the count, and a FIFO
    // or device gives what it has now, so nothing can keep the run waiting.
    if (size > 1) {
        const std::uint64_t count = size - 1 < SSIZE_MAX ? size - 1 : SSIZE_MAX;
        const ssize_t got = read(fd, buffer, static_cast<std::size_t>(count));
        if (got > 0) {
            const std::size_t length = static_cast<std::size_t>(got);
            const void *newline = std::memchr(buffer, '\n', length);
            buffer[newline != nullptr ? static_cast<const char *>(newline) - buffer + 1 : got] =
                '\0';
        }
    }
    (void)close(fd);
}

void cut_line_end(char *text)
{
    std::size_t length = std::strlen(text);
    if (length == 0 || text[length - 1] != '\n')
        return;
    text[--length] = '\0';
    if (length > 0 && text[length - 1] == '\r')
        text[length - 1] = '\0';
}

void str_zero(char *buffer)
{
    buffer[0] = '\0';
}

void get_app_status(std::string_view directory, std::string_view app, char *out, std::uint64_t size)
{
    read_status(directory, app, out, size, "uninstalled", "get_app_status");
}

void get_app_status_with_none(std::string_view directory, std::string_view app, char *out,
                              std::uint64_t size)
{
    read_status(directory, app, out, size, "none", "get_app_status_with_none");
}

void get_status_icon(std::string_view directory, std::string_view app, char *out,
                     std::uint64_t size)
{
    char status[kStatusTextSize];
    str_zero(status);
    get_app_status_with_none(directory, app, status, sizeof status);

    char path[kStatusIconSize];
    if (build_path(path, sizeof path, directory, "/icons/", status, ".png") &&
        fileExists(path) == 0 && copy_whole(out, size, path))
        return;
    // The fallback is printed unprobed. The driver refuses a directory too
    // long for it, so this check fails only for a caller's smaller field.
    if (directory.size() + kFallbackTailLength >= size) {
        (void)std::fprintf(stderr, "ERROR: get_status_icon(): directory too long for \"%.*s\"!\n",
                           precision(app), app.data());
        return;
    }
    (void)build_path(out, size, directory, "/icons/none.png", "", "");
}

void get_app_icon(std::string_view directory, std::string_view app, char *out, std::uint64_t size)
{
    char path[kDataPathSize];
    if (!build_path(path, sizeof path, directory, "/apps/", app, "/icon-24.png") ||
        fileExists(path) != 0 || !copy_whole(out, size, path))
        report("ERROR: get_app_icon(): app \"", app, "\" doesn't have a icon-24!\n");
}

void get_app_status_and_desc(std::string_view directory, std::string_view app, char *out,
                             std::uint64_t size)
{
    char path[kDataPathSize];
    if (!build_path(path, sizeof path, directory, "/apps/", app, "/description") ||
        fileExists(path) != 0) {
        report("ERROR: get_app_status_and_desc(): app \"", app, "\" doesn't have a description!\n");
        return;
    }
    char description[kDescriptionSize];
    str_zero(description);
    getLine(path, description, size < sizeof description ? size : sizeof description);
    cut_line_end(description);

    char status[kStatusTextSize];
    str_zero(status);
    get_app_status(directory, app, status, sizeof status);
    // "(%s) %s", cut at its end when it does not fit.
    join_cut(out, size, {"(", status, ") ", description});
}
