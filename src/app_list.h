#ifndef APPLIST_APP_LIST_H
#define APPLIST_APP_LIST_H

#include <string_view>

// Inline and apart from app_data.h: main walks the list with these, and the
// list fuzzer checks them without the file code.

// Returns the directory text: DIRECTORY with at most one trailing "/" removed,
// so the path templates' own "/" separates it from the rest.
inline std::string_view trim_directory(std::string_view directory)
{
    if (!directory.empty() && directory.back() == '/')
        directory.remove_suffix(1);
    return directory;
}

// Returns the next app name of the list and moves rest past it, or an empty
// view once the list is exhausted. Only the newline separates, and a run of
// newlines separates like one, so no name is ever empty.
inline std::string_view next_app(std::string_view &rest)
{
    const std::size_t start = rest.find_first_not_of('\n');
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const std::string_view app = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(app.size());
    return app;
}

#endif
