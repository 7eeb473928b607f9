// In-process: the line reader, whose contract is sharper than the output.
#include "app_data.h"
#include "harness.h"

#include <dlfcn.h>
#include <sys/types.h>

#include <filesystem>

namespace
{

namespace fs = std::filesystem;

// While set, every pread hands over at most this many bytes, as some file systems do.
std::size_t g_read_cap = 0;
std::size_t g_cut_reads = 0;

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
std::vector<Row> reads_the_first_line_without_its_line_end()
{
    const std::string a4095(4095, 'a');
    const std::string other_bytes = "f\fu\xE2\x80\xA8"
                                    "e\xE2\x80-\xE2\xA9\xE2";
    std::vector<Row> rows = {
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
    // In reads of 2 bytes, one short of the field's 4095 at its end, the
    // line must come out the same.
    for (std::size_t i = 0, whole = rows.size(); i < whole; ++i)
        rows.push_back(
            {rows[i].name + " in short reads", rows[i].files,
             [fill = rows[i].fill](const std::string &root, char *field, std::size_t size) {
                 g_read_cap = 2;
                 fill(root, field, size);
                 g_read_cap = 0;
                 EXPECT_TRUE(g_cut_reads > 0 || !fs::is_regular_file(root + "/line"))
                     << "pread not taken over";
             },
             rows[i].out, rows[i].err});
    return rows;
}
TABLE(Unit, LineReader, reads_the_first_line_without_its_line_end());

} // namespace

// Takes the place of libc's pread for the code linked into this program,
// which 64-bit offsets make pread64 on every build.
extern "C" ssize_t pread64(int fd, void *buffer, size_t count, off64_t offset)
{
    using Pread = ssize_t (*)(int, void *, size_t, off64_t);
    static const auto real = reinterpret_cast<Pread>(dlsym(RTLD_NEXT, "pread64"));
    EXPECT_NE(count, 0U) << "a full buffer ends the reading, not a read of nothing";
    if (g_read_cap != 0 && count > g_read_cap) {
        count = g_read_cap;
        ++g_cut_reads;
    }
    return real(fd, buffer, count, offset);
}
