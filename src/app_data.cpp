#include "app_data.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace
{

constexpr std::size_t kStatusPathSize = 250;
constexpr std::size_t kLineSize = 4096;
constexpr std::size_t kDataPathSize = 4096;
constexpr std::size_t kDescriptionSize = 4096;

// A FIFO swapped in for a regular file after its stat, or a file under a
// lease, must not stop the run: O_NONBLOCK opens the one at once and fails
// the other at once, which is reported as any failed open.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Tries in all for a request that the system interrupts.
constexpr int kTries = 5;

// Returns what call returns, tried again while it fails with EINTR: some
// file systems (FUSE) say it when the process was stopped, traced or frozen
// in the request, and a second try succeeds. Bounded, so one that always
// says it cannot hold the run.
template <typename Call> auto retry_interrupted(Call call)
{
    auto result = call();
    for (int tried = 1; result < 0 && errno == EINTR && tried < kTries; ++tried)
        result = call();
    return result;
}

// Writes the pieces one after another into out, cut at its end to fit size
// bytes with the zero byte, as snprintf would cut them.
void join_cut(char *out, std::uint64_t size, std::initializer_list<std::string_view> pieces)
{
    // Every field is at most 4096 bytes, so its size fits any size_t.
    const auto capacity = static_cast<std::size_t>(size);
    std::size_t used = 0;
    for (const std::string_view piece : pieces) {
        const std::size_t room = capacity - 1 - used;
        const std::size_t count = std::min(piece.size(), room);
        std::memcpy(out + used, piece.data(), count);
        used += count;
    }
    out[used] = '\0';
}

// Returns whether the pieces, a path template filled in, fit path whole, and
// only then writes them; a cut path could name another file, so callers
// treat a false result as an absent file.
bool build_path(char *path, std::uint64_t size, std::initializer_list<std::string_view> pieces)
{
    std::size_t length = 0;
    for (const std::string_view piece : pieces)
        length += piece.size();
    if (length >= size)
        return false;
    join_cut(path, size, pieces);
    return true;
}

bool copy_whole(char *out, std::uint64_t size, const char *text)
{
    const std::size_t length = std::strlen(text);
    if (length >= size)
        return false;
    std::memcpy(out, text, length + 1);
    return true;
}

bool starts_paragraph_separator(const char *text)
{
    return text[0] == '\xE2' && text[1] == '\x80' && text[2] == '\xA9';
}

// Returns the length of the first line, newline kept, read into buffer by
// position from the start until the line ends, the buffer is full or the
// file ends (some file systems hand a file over in short reads); -1 when a
// read fails.
ssize_t read_line(int fd, char *buffer, std::size_t size)
{
    std::size_t used = 0;
    while (used < size - 1) {
        const ssize_t got = retry_interrupted(
            [&] { return pread(fd, buffer + used, size - 1 - used, static_cast<off_t>(used)); });
        if (got <= 0)
            return got < 0 ? -1 : static_cast<ssize_t>(used);
        const void *newline = std::memchr(buffer + used, '\n', static_cast<std::size_t>(got));
        used += static_cast<std::size_t>(got);
        if (newline != nullptr)
            return static_cast<const char *>(newline) - buffer + 1;
    }
    return static_cast<ssize_t>(used);
}

// Every text is read the same way: cleared, so a read that yields nothing
// leaves it empty, then its first line without the line end.
void read_first_line(const char *path, char *text, std::uint64_t size)
{
    str_zero(text);
    getLine(path, text, size);
    cut_line_end(text);
}

// The two status lookups differ only in their default word and their name.
void read_status(std::string_view directory, std::string_view app, char *out, std::uint64_t size,
                 std::string_view default_word, const char *function)
{
    char path[kStatusPathSize];
    if (!build_path(path, sizeof path, {directory, "/data/status/", app}) ||
        fileExists(path) != 0) {
        join_cut(out, size, {default_word});
        return;
    }
    char line[kLineSize];
    read_first_line(path, line, sizeof line);
    if (!copy_whole(out, size, line)) {
        (void)std::fprintf(
            stderr, "ERROR: %s(): app \"%.*s\" has a status longer than %llu bytes!\n", function,
            static_cast<int>(app.size()), app.data(), static_cast<unsigned long long>(size - 1));
        join_cut(out, size, {default_word});
    }
}

} // namespace

int fileExists(const char *path)
{
    // Asked, not opened: opening a device or a FIFO is not read-only. With
    // the real ids first, which every sandbox answers; where they may not
    // read, with the process's own rights, as an open would use them: a
    // capability, a set-ID install. Only faccessat2 answers AT_EACCESS, and
    // where a sandbox refuses it, the first answer stands.
    const auto as_user = [path] { return access(path, R_OK); };
    const auto as_process = [path] { return faccessat(AT_FDCWD, path, R_OK, AT_EACCESS); };
    if (retry_interrupted(as_user) == 0)
        return 0;
    return errno == EACCES && retry_interrupted(as_process) == 0 ? 0 : 1;
}

void getLine(const char *path, char *buffer, std::uint64_t size)
{
    // The prefix names fopen, as this message always has: users and hosts
    // match on the text, not on the call behind it.
    constexpr const char *kPrefix = "getLine(): fopen()";
    struct stat info;
    if (retry_interrupted([&] { return stat(path, &info); }) != 0) {
        std::perror(kPrefix);
        return;
    }
    // Only a regular file holds a text; anything else is read as empty.
    if (!S_ISREG(info.st_mode))
        return;
    const int fd = retry_interrupted([path] { return open(path, kOpenFlags); });
    if (fd < 0) {
        std::perror(kPrefix);
        return;
    }
    // Every caller's buffer is at most 4096 bytes, so its size fits any size_t.
    const ssize_t length = read_line(fd, buffer, static_cast<std::size_t>(size));
    if (length < 0) {
        std::perror(kPrefix);
        // What came before the failure is not the line: a status cut short
        // would name another icon.
        str_zero(buffer);
    } else if (length > 0) {
        buffer[length] = '\0';
    }
    (void)close(fd);
}

std::size_t line_length(const char *text)
{
    constexpr const char *kLineEndStarts = "\n\r\xE2";
    std::size_t length = std::strcspn(text, kLineEndStarts);
    while (text[length] == '\xE2' && !starts_paragraph_separator(text + length))
        length += 1 + std::strcspn(text + length + 1, kLineEndStarts);
    return length;
}

void cut_line_end(char *text)
{
    text[line_length(text)] = '\0';
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
    if (build_path(path, sizeof path, {directory, "/icons/", status, ".png"}) &&
        fileExists(path) == 0 && copy_whole(out, size, path))
        return;
    // The fallback is not probed; a field too small for it stays empty.
    (void)build_path(out, size, {directory, kFallbackIconTail});
}

void get_app_icon(std::string_view directory, std::string_view app, char *out, std::uint64_t size)
{
    char path[kDataPathSize];
    if (!build_path(path, sizeof path, {directory, "/apps/", app, "/icon-24.png"}) ||
        fileExists(path) != 0 || !copy_whole(out, size, path))
        (void)std::fprintf(stderr, "ERROR: get_app_icon(): app \"%.*s\" doesn't have a icon-24!\n",
                           static_cast<int>(app.size()), app.data());
}

void get_app_status_and_desc(std::string_view directory, std::string_view app, char *out,
                             std::uint64_t size)
{
    char path[kDataPathSize];
    if (!build_path(path, sizeof path, {directory, "/apps/", app, "/description"}) ||
        fileExists(path) != 0) {
        (void)std::fprintf(stderr,
                           "ERROR: get_app_status_and_desc(): app \"%.*s\" doesn't have a "
                           "description!\n",
                           static_cast<int>(app.size()), app.data());
        return;
    }
    char description[kDescriptionSize];
    read_first_line(path, description, std::min<std::uint64_t>(size, sizeof description));

    char status[kStatusTextSize];
    str_zero(status);
    get_app_status(directory, app, status, sizeof status);
    join_cut(out, size, {"(", status, ") ", description});
}
