// The app list walk and the directory trimming over arbitrary bytes: the
// walk hands out, in order, exactly the maximal runs of bytes other than the
// newline, as views into the list, and trimming drops one final "/" at most.
#include "app_list.h"
#include "fuzz_util.h"

#include <cstdint>
#include <string_view>

namespace
{

void check_trim(std::string_view text)
{
    const std::string_view trimmed = trim_directory(text);
    const bool slash = !text.empty() && text.back() == '/';
    require(trimmed.data() == text.data());
    require(trimmed.size() == text.size() - (slash ? 1 : 0));
}

// Returns the end of the run of bytes equal (or, with equal false, unequal)
// to the newline that starts at from.
std::size_t skip(std::string_view list, std::size_t from, bool equal)
{
    while (from < list.size() && (list[from] == '\n') == equal)
        ++from;
    return from;
}

void check_walk(std::string_view list)
{
    std::string_view rest = list;
    std::size_t end = 0;
    std::size_t names = 0;
    for (std::string_view app = next_app(rest); !app.empty(); app = next_app(rest)) {
        const std::size_t start = skip(list, end, true);
        end = skip(list, start, false);
        require(++names <= list.size()); // each name uses up a byte at least
        require(app.data() == list.data() + start && app.size() == end - start);
        require(rest.size() == list.size() - end);
    }
    require(skip(list, end, true) == list.size()); // no name left behind
    require(rest.empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    check_trim(text);
    check_walk(text);
    return 0;
}
