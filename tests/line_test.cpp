// In-process: the line reader, whose contract is sharper than the output.
#include "app_data.h"
#include "harness.h"

#include <dlfcn.h>
#include <sys/types.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

// While set, every pread hands over at most this many bytes, as some file
// systems do; the reads it cut, and those that ask for nothing, are counted.
std::size_t g_read_cap = 0;
std::size_t g_cut_reads = 0;
std::size_t g_empty_reads = 0;

// The file "line" as getLine leaves it: its newline kept.
void raw_line(const std::string &root, char *field, std::size_t size)
{
    getLine((root + "/line").c_str(), field, size);
}

// The file "line" as every lookup reads it.
void first_line(const std::string &root, char *field, std::size_t size)
{
    raw_line(root, field, size);
    cut_line_end(field);
}

Files line(const std::string &content)
{
    return {{"line", content}};
}

// Only a file that cannot be looked at or opened is reported.
TEST(LineReader, ReadsTheFirstLineWithoutItsLineEnd)
{
    const std::string a4095(4095, 'a');
    const std::string other_bytes = "f\fu\xE2\x80\xA8"
                                    "e\xE2\x80-\xE2\xA9\xE2";
    const std::vector<Row> rows = {
        {"newline", line("installed\n"), first_line, "installed"},
        {"no final newline keeps the last character", line("installed"), first_line, "installed"},
        {"crlf loses both", line("installed\r\n"), first_line, "installed"},
        {"cr ends the line", line("hi\rmore\n"), first_line, "hi"},
        {"paragraph separator ends the line", line("para\xE2\x80\xA9sep\n"), first_line, "para"},
        {"paragraph separator first", line("\xE2\x80\xA9sep"), first_line, ""},
        {"form feed, U+2028 and partial separators stay", line(other_bytes), first_line,
         other_bytes},
        {"empty line", line("\n"), first_line, ""},
        {"empty crlf line", line("\r\n"), first_line, ""},
        {"only the first line", line("first\nsecond\n"), first_line, "first"},
        {"zero byte ends the text", line(std::string("ab\0cd\n", 6)), first_line, "ab"},
        {"4095 bytes then newline", line(a4095 + "\n"), first_line, a4095},
        {"newline as the 4095th byte", line(std::string(4094, 'b') + "\nrest"), first_line,
         std::string(4094, 'b')},
        // getLine itself keeps the newline, and nothing after it.
        {"newline kept", line("abcdef\ngh"), raw_line, "abcdef\n"},
        {"long line cut at the field's end", line(std::string(10000, 'a')), raw_line, a4095},
        // Nothing read: the field stays as it was.
        {"empty file", line(""), first_line, "kept"},
        {"fifo", {{"line", "", Kind::Fifo}}, first_line, "kept"},
        {"directory", {{"line", "", Kind::Dir}}, first_line, "kept"},
        {"missing", {}, first_line, "kept", read_failed("No such file or directory")},
    };
    // Whole reads, then reads of 2 bytes, one short of the field's 4095 at
    // its end: the line must come out the same.
    for (const std::size_t cap : {std::size_t{0}, std::size_t{2}}) {
        SCOPED_TRACE("reads cut to " + std::to_string(cap) + " bytes (0: not cut)");
        g_read_cap = cap;
        g_cut_reads = 0;
        check_rows(rows);
        EXPECT_EQ(g_cut_reads > 0, cap != 0) << "pread not taken over";
    }
    EXPECT_EQ(g_empty_reads, 0U) << "a full buffer ends the reading, not a read of nothing";
    g_read_cap = 0;
}

} // namespace

template <typename Offset>
ssize_t cut_read(void *real, int fd, void *buffer, size_t count, Offset offset)
{
    g_empty_reads += count == 0 ? 1 : 0;
    if (g_read_cap != 0 && count > g_read_cap) {
        count = g_read_cap;
        ++g_cut_reads;
    }
    using Read = ssize_t (*)(int, void *, size_t, Offset);
    return reinterpret_cast<Read>(real)(fd, buffer, count, offset);
}

// Take the place of libc's pread, by both its names, for the code linked into
// this program: built with 64-bit offsets, it calls pread64.
extern "C" ssize_t pread64(int fd, void *buffer, size_t count, off64_t offset)
{
    static void *const real = dlsym(RTLD_NEXT, "pread64");
    return cut_read(real, fd, buffer, count, offset);
}
extern "C" ssize_t pread_of_long(int fd, void *buffer, size_t count, long offset) __asm__("pread");
extern "C" ssize_t pread_of_long(int fd, void *buffer, size_t count, long offset)
{
    static void *const real = dlsym(RTLD_NEXT, "pread");
    return cut_read(real, fd, buffer, count, offset);
}
