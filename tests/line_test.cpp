// In-process tests of the pieces whose own contract is sharper than the
// output: the line reader with its cut, and the status lookups' fields.
#include "app_data.h"
#include "harness.h"

#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

// While set, every pread hands over at most this many bytes, as some file
// systems do; g_cut_reads counts the reads it cut.
std::size_t g_read_cap = 0;
std::size_t g_cut_reads = 0;

} // namespace

// Takes the place of libc's pread for the code linked into this program.
extern "C" ssize_t pread(int fd, void *buffer, size_t count, off_t offset)
{
    using Pread = ssize_t (*)(int, void *, size_t, off_t);
    static const auto real = reinterpret_cast<Pread>(dlsym(RTLD_NEXT, "pread"));
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

TEST(LineReader, NeverWritesPastTheCapacity)
{
    const DataDir data;
    data.make({{"line", "abcdef\n"}});
    for (std::uint64_t size = 1; size <= 9; ++size) {
        std::vector<char> buffer(size + 8, 'X');
        str_zero(buffer.data());
        getLine(data.path("line").c_str(), buffer.data(), size);
        const std::string text = buffer.data();
        EXPECT_EQ(text, std::string("abcdef\n").substr(0, size - 1)) << size;
        for (std::size_t i = size; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 'X') << "byte " << i << " written with size " << size;
    }
}

// The status path holds 249 bytes: a longer one is not probed at all, though
// a file bears its name and, cut to the field, the name just read. Back to
// back, so the second lookup's fields start as the first left them.
TEST(PathFit, StatusPathAtTheEdgeOfItsField)
{
    const DataDir data;
    const std::string fits(249 - (data.root.size() + std::strlen("/data/status/")), 'n');
    const std::string over = fits + "o";
    data.make({{"data/status/" + fits, "installed\n"}, {"data/status/" + over, "installed\n"}});
    char first[kStatusTextSize];
    char second[kStatusTextSize];
    get_app_status(data.root, fits, first, sizeof first);
    get_app_status(data.root, over, second, sizeof second);
    EXPECT_STREQ(first, "installed");
    EXPECT_STREQ(second, "uninstalled");
}

// The default word and the fallback icon are cut to, or kept out of, a
// field too small for them, never written past it.
TEST(PathFit, DefaultsStayInTheirField)
{
    const DataDir data;
    const std::string fallback = data.root + "/icons/none.png";
    char out[512];

    std::memset(out, 'X', sizeof out);
    get_app_status(data.root, "missing", out, 5);
    EXPECT_STREQ(out, "unin");
    EXPECT_EQ(out[5], 'X');

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
