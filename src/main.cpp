#include "app_data.h"
#include "app_list.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

// Hands one line of the record to standard output's buffer, with no format
// to parse for every app.
void put_line(std::string_view text)
{
    (void)std::fwrite(text.data(), 1, text.size(), stdout);
    (void)std::putc('\n', stdout);
}

// Prints one row record: status icon, app icon, name, name, status and
// description, a line each.
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

    // The record "%s\n%s\n%s\n%s\n%s\n".
    put_line(status_icon);
    put_line(app_icon);
    put_line(app);
    put_line(app);
    put_line(status_and_desc);
}

// Returns whether the rows can carry the directory text; reports why not.
bool usable_directory(std::string_view directory)
{
    // A newline in a path cell would shift every later row of the dialog.
    if (directory.find('\n') != std::string_view::npos) {
        report({"ERROR: \"DIRECTORY\" environment variable contains a newline!\n"});
        return false;
    }
    if (directory.size() > kMaxDirectoryLength) {
        char digits[kDigitsSize];
        report({"ERROR: \"DIRECTORY\" environment variable is longer than ",
                decimal(kMaxDirectoryLength, digits), " bytes!\n"});
        return false;
    }
    return true;
}

// Returns the exit status the output allows: a write error on standard
// output, now or earlier in the run, is a failure.
int finish_output()
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && std::ferror(stdout) == 0)
        return 0;
    report({"ERROR: main(): can't write standard output: ",
            error != 0 ? std::strerror(error) : "write error", "\n"});
    return 1;
}

} // namespace

int main()
{
    const char *apps = std::getenv("APPS");
    if (apps == nullptr) {
        report({"ERROR: \"APPS\" environment variable isn't set!\n"});
        return 1;
    }
    const char *directory_variable = std::getenv("DIRECTORY");
    if (directory_variable == nullptr) {
        report({"ERROR: \"DIRECTORY\" environment variable isn't set!\n"});
        return 1;
    }
    const std::string_view directory = trim_directory(directory_variable);
    if (!usable_directory(directory))
        return 1;

    std::string_view rest = apps;
    for (std::string_view app = next_app(rest); !app.empty(); app = next_app(rest))
        print_all(app, directory);
    return finish_output();
}
