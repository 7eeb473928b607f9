#include "app_data.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace
{

// Returns the directory text: DIRECTORY with at most one trailing "/" removed,
// so the path templates' own "/" separates it from the rest.
std::string_view trim_directory(std::string_view directory)
{
    if (!directory.empty() && directory.back() == '/')
        directory.remove_suffix(1);
    return directory;
}

// Returns the next app name of the list and moves rest past it, or an empty
// view once the list is exhausted. Only the newline separates, and a run of
// newlines separates like one, so no name is ever empty.
std::string_view next_app(std::string_view &rest)
{
    const std::size_t start = rest.find_first_not_of('\n');
    if (start == std::string_view::npos)
        return {};
    rest.remove_prefix(start);
    const std::string_view app = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(app.size());
    return app;
}

// Prints one row record: status icon, app icon, name, name, status and
// description, a line each. One printf, because it stops at the first write
// that fails: no later cell of the row can follow a hole in the output.
void print_all(std::string_view app, std::string_view directory)
{
    char status_icon[kStatusIconSize];
    char app_icon[kAppIconSize];
    char status_and_desc[kStatusAndDescSize];
    str_zero(status_icon);
    str_zero(app_icon);
    str_zero(status_and_desc);

    get_status_icon(directory, app, status_icon, sizeof status_icon);
    get_app_icon(directory, app, app_icon, sizeof app_icon);
    get_app_status_and_desc(directory, app, status_and_desc, sizeof status_and_desc);

    // The kernel caps an environment string at 128 KiB, so the name fits an int.
    const int length = static_cast<int>(app.size());
    (void)std::printf("%s\n%s\n%.*s\n%.*s\n%s\n", status_icon, app_icon, length, app.data(), length,
                      app.data(), status_and_desc);
}

// Returns whether the rows can carry the directory text; reports why not.
bool usable_directory(std::string_view directory)
{
    // A line end in a path cell would shift every later cell of the dialog.
    // The text is the variable's own, whose zero byte ends the search.
    if (line_length(directory.data()) < directory.size()) {
        (void)std::fprintf(stderr, "ERROR: \"DIRECTORY\" environment variable contains a line end "
                                   "(newline, carriage return or U+2029)!\n");
        return false;
    }
    if (directory.size() > kMaxDirectoryLength) {
        (void)std::fprintf(stderr,
                           "ERROR: \"DIRECTORY\" environment variable is longer than %zu bytes!\n",
                           kMaxDirectoryLength);
        return false;
    }
    return true;
}

} // namespace

int main()
{
    const char *apps = std::getenv("APPS");
    if (apps == nullptr) {
        (void)std::fprintf(stderr, "ERROR: \"APPS\" environment variable isn't set!\n");
        return 1;
    }
    const char *directory_variable = std::getenv("DIRECTORY");
    if (directory_variable == nullptr) {
        (void)std::fprintf(stderr, "ERROR: \"DIRECTORY\" environment variable isn't set!\n");
        return 1;
    }
    const std::string_view directory = trim_directory(directory_variable);
    if (!usable_directory(directory))
        return 1;

    std::string_view rest = apps;
    for (std::string_view app = next_app(rest); !app.empty(); app = next_app(rest)) {
        print_all(app, directory);
        // Rows that cannot reach the reader are work for nobody.
        if (std::ferror(stdout) != 0)
            break;
    }
    // Some file systems report a failed write only when the file is closed.
    if (std::ferror(stdout) != 0 || std::fclose(stdout) != 0) {
        (void)std::fprintf(stderr, "ERROR: main(): can't write standard output: %s\n",
                           std::strerror(errno));
        return 1;
    }
    return 0;
}
