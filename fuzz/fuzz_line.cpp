// The line reader and its cut over arbitrary file contents. The first two
// bytes pick the buffer size, 1 to 4096; the sizes at the edges of the
// first line are checked for every input too. The reader must write nothing
// past the buffer and leave exactly the first line, cut at the buffer and at
// a zero byte; the cut must end it at its first newline, carriage return or
// U+2029, and keep everything before.
#include "app_data.h"
#include "fuzz_util.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace
{

constexpr std::size_t kMaxSize = 4096;

// What getLine must leave in a buffer of size bytes, up to its zero byte.
std::string expected_line(std::string_view contents, std::size_t size)
{
    std::string_view text = contents.substr(0, size - 1);
    const std::size_t newline = text.find('\n');
    if (newline != std::string_view::npos)
        text = text.substr(0, newline + 1);
    return std::string(text.substr(0, text.find('\0')));
}

// The text before its first newline, carriage return or U+2029.
std::string expected_cut(const std::string &text)
{
    std::size_t end = text.size();
    for (const char *line_end : {"\n", "\r", "\xE2\x80\xA9"})
        end = std::min(end, text.find(line_end));
    return text.substr(0, end);
}

void check_size(const std::string &path, std::string_view contents, std::size_t size)
{
    // Exactly size bytes, so AddressSanitizer sees any byte written past them.
    const std::unique_ptr<char[]> buffer(new char[size]);
    std::memset(buffer.get(), 'Z', size);
    str_zero(buffer.get());
    getLine(path.c_str(), buffer.get(), size);
    require(std::memchr(buffer.get(), '\0', size) != nullptr);
    const std::string line = expected_line(contents, size);
    require(line == buffer.get());
    cut_line_end(buffer.get());
    const std::string_view cut = buffer.get();
    require(expected_cut(line) == cut);
    require(cut.find_first_of("\n\r") == std::string_view::npos &&
            cut.find("\xE2\x80\xA9") == std::string_view::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return -1;
    const std::size_t chosen = two_bytes(data) % kMaxSize + 1;
    const std::string_view contents(reinterpret_cast<const char *>(data + 2), size - 2);
    const std::string path = scratch_dir() + "/line";
    write_file(path, data + 2, size - 2);

    check_size(path, contents, chosen);
    const std::size_t newline = contents.find('\n');
    const std::size_t edge = newline == std::string_view::npos ? contents.size() : newline + 1;
    for (std::size_t near = edge > 1 ? edge - 1 : 1; near <= edge + 2 && near <= kMaxSize; ++near)
        check_size(path, contents, near);
    return 0;
}
