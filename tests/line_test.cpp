// In-process tests of the pieces whose own contract is sharper than the
// output: the line reader with its cut, and the status lookups' fields.
#include "app_data.h"
#include "harness.h"

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

// While set, every pread hands over at most this many bytes, as some file
// systems do. The counts are of all reads and of those cut.
std::size_t g_read_cap = 0;
std::size_t g_reads = 0;
std::size_t g_cut_reads = 0;

} // namespace

// Takes the place of libc's pread for the code linked into this program.
extern "C" ssize_t pread(int fd, void *buffer, size_t count, off_t offset)
{
    using Pread = ssize_t (*)(int, void *, size_t, off_t);
    static const auto real = reinterpret_cast<Pread>(dlsym(RTLD_NEXT, "pread"));
    ++g_reads;
    if (g_read_cap != 0 && count > g_read_cap) {
        count = g_read_cap;
        ++g_cut_reads;
    }
    return real(fd, buffer, count, offset);
}

namespace
{

// Reads the first line the way every lookup does, but into a buffer that
// holds "kept", so that a read that yields nothing shows.
std::string first_line(const std::string &path)
{
    std::vector<char> buffer(4096, 'X');
    std::strcpy(buffer.data(), "kept");
    getLine(path.c_str(), buffer.data(), buffer.size());
    cut_line_end(buffer.data());
    return buffer.data();
}

// Only a file that cannot be looked at is reported.
TEST(LineReader, ReadsTheFirstLineWithoutItsLineEnd)
{
    const std::string a4095(4095, 'a');
    const std::string other_bytes = "f\fu\xE2\x80\xA8"
                                    "e\xE2\x80-\xE2\xA9\xE2";
    const struct {
        const char *name;
        Files files;
        std::string expected;
        std::string err;
    } cases[] = {
        {"newline", {{"line", "installed\n"}}, "installed"},
        {"no final newline keeps the last character", {{"line", "installed"}}, "installed"},
        {"crlf loses both", {{"line", "installed\r\n"}}, "installed"},
        {"crcrlf", {{"line", "hi\r\r\n"}}, "hi"},
        {"cr ends the line", {{"line", "hi\rmore\n"}}, "hi"},
        {"classic mac line ends", {{"line", "one\rtwo\rthree\r"}}, "one"},
        {"paragraph separator ends the line", {{"line", "para\xE2\x80\xA9sep\n"}}, "para"},
        {"paragraph separator first", {{"line", "\xE2\x80\xA9sep"}}, ""},
        {"form feed, U+2028 and partial separators stay", {{"line", other_bytes}}, other_bytes},
        {"empty line", {{"line", "\n"}}, ""},
        {"empty crlf line", {{"line", "\r\n"}}, ""},
        {"only the first line", {{"line", "first\nsecond\n"}}, "first"},
        {"zero byte ends the text", {{"line", std::string("ab\0cd\n", 6)}}, "ab"},
        {"4095 bytes then newline", {{"line", a4095 + "\n"}}, a4095},
        {"long line cut at capacity", {{"line", std::string(10000, 'a')}}, a4095},
        {"newline as the 4095th byte",
         {{"line", std::string(4094, 'b') + "\nrest"}},
         std::string(4094, 'b')},
        // Nothing read: the buffer stays as it was.
        {"empty file", {{"line", ""}}, "kept"},
        {"fifo", {{"line", "", Kind::Fifo}}, "kept"},
        {"directory", {{"line", "", Kind::Dir}}, "kept"},
        {"missing", {}, "kept", "getLine(): fopen(): No such file or directory\n"},
    };
    // Whole reads, then reads of 3 bytes: the line must come out the same.
    for (const std::size_t cap : {std::size_t{0}, std::size_t{3}}) {
        g_read_cap = cap;
        g_cut_reads = 0;
        for (const auto &c : cases) {
            const DataDir data;
            data.make(c.files);
            testing::internal::CaptureStderr();
            EXPECT_EQ(first_line(data.path("line")), c.expected) << c.name << ", cap " << cap;
            EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.name;
        }
        EXPECT_EQ(g_cut_reads > 0, cap != 0) << "pread not taken over";
    }
    g_read_cap = 0;
}

// Each read is a system call, counted in the design's cost per app: a line
// handed over whole, or enough of one to fill the buffer, takes one; only a
// file without a line end takes a second, to find its end.
TEST(LineReader, OneReadForWhatComesWhole)
{
    const struct {
        const char *name;
        std::string content;
        std::size_t reads;
    } cases[] = {
        {"a line", "installed\nmore", 1},
        {"a full buffer", std::string(5000, 'a'), 1},
        {"no line end", "installed", 2},
    };
    for (const auto &c : cases) {
        const DataDir data;
        data.make({{"line", c.content}});
        g_reads = 0;
        first_line(data.path("line"));
        EXPECT_EQ(g_reads, c.reads) << c.name;
    }
}

// A file that is there but cannot be opened, here for want of a free
// descriptor, is reported and leaves the buffer as it was.
TEST(LineReader, ReportsAFileThatCannotBeOpened)
{
    const DataDir data;
    data.make({{"line", "installed\n"}});
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    testing::internal::CaptureStderr();
    const int lowest_free = dup(0);
    close(lowest_free);
    const rlimit none_free = {static_cast<rlim_t>(lowest_free), saved.rlim_max};
    setrlimit(RLIMIT_NOFILE, &none_free);
    const std::string text = first_line(data.path("line"));
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "getLine(): fopen(): Too many open files\n");
    EXPECT_EQ(text, "kept");
}

// The first line, its newline kept and nothing after it, cut to the buffer.
TEST(LineReader, NeverWritesPastTheCapacity)
{
    const DataDir data;
    const std::string line = "abcdef\n";
    data.make({{"line", line + "gh"}});
    for (std::uint64_t size = 1; size <= 11; ++size) {
        std::vector<char> buffer(size + 8, 'X');
        str_zero(buffer.data());
        getLine(data.path("line").c_str(), buffer.data(), size);
        EXPECT_EQ(std::string(buffer.data()), line.substr(0, size - 1)) << size;
        for (std::size_t i = size; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 'X') << "byte " << i << " written with size " << size;
    }
}

// A status is copied whole or not at all, and the default word cut to the
// field, never written past it. The status path holds 249 bytes: a longer
// one is not probed at all, though a file bears its name and, cut to the
// field, the name just read, as the lookups run back to back.
TEST(PathFit, StatusesStayInTheirField)
{
    const DataDir data;
    const std::string fits(249 - (data.root.size() + std::strlen("/data/status/")), 'n');
    const std::string over = fits + "o";
    data.make({{"data/status/29", std::string(29, 's') + "\n"},
               {"data/status/" + fits, "installed\n"},
               {"data/status/" + over, "installed\n"}});
    const struct {
        std::string app;
        std::uint64_t size;
        std::string expected;
    } cases[] = {
        {"29", 30, std::string(29, 's')},
        {"missing", 5, "unin"},
        {fits, 30, "installed"},
        {over, 30, "uninstalled"},
    };
    for (const auto &c : cases) {
        char out[40];
        std::memset(out, 'X', sizeof out);
        get_app_status(data.root, c.app, out, c.size);
        EXPECT_EQ(std::string(out), c.expected) << c.app.size() << " bytes";
        EXPECT_EQ(out[c.size], 'X') << c.app.size() << " bytes: written past the field";
    }
}

// The fallback icon is printed whole or not at all.
TEST(PathFit, StatusIconFallbackNeedsRoomForTheWholePath)
{
    const DataDir data;
    const std::string fallback = data.root + "/icons/none.png";
    char out[512];

    str_zero(out);
    get_status_icon(data.root, "app", out, fallback.size() + 1);
    EXPECT_EQ(std::string(out), fallback);

    std::memset(out, 'X', sizeof out);
    str_zero(out);
    get_status_icon(data.root, "app", out, fallback.size());
    EXPECT_STREQ(out, "");
    EXPECT_EQ(out[1], 'X');
}

} // namespace
