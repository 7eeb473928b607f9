#include "app_data.h"
#include "app_list.h"

#include <stdio_ext.h>

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

    put_line(status_icon);
    put_line(app_icon);
    put_line(app);
    put_line(app);
    put_line(status_and_desc);
}

// Returns whether the rows can carry the directory text of the variable;
// reports why not.
bool usable_directory(const char *variable)
{
    // A line end in a path cell would shift every later cell of the dialog.
    if (variable[line_length(variable)] != '\0') {
        (void)std::fprintf(stderr, "ERROR: \"DIRECTORY\" environment variable contains a line end "
                                   "(newline, carriage return or U+2029)!\n");
        return false;
    }
    if (trim_directory(variable).size() > kMaxDirectoryLength) {
        (void)std::fprintf(stderr,
                           "ERROR: \"DIRECTORY\" environment variable is longer than %zu bytes!\n",
                           kMaxDirectoryLength);
        return false;
    }
    return true;
}

// Returns the exit status the output allows. A write that failed stopped
// the walk, with errno still telling why; the message goes out, and what
// stdio still holds is dropped, or exit would write it after the message.
int finish_output()
{
    if (std::ferror(stdout) == 0 && std::fflush(stdout) == 0)
        return 0;
    (void)std::fprintf(stderr, "ERROR: main(): can't write standard output: %s\n",
                       std::strerror(errno));
    __fpurge(stdout);
    return 1;
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
    if (!usable_directory(directory_variable))
        return 1;
    const std::string_view directory = trim_directory(directory_variable);

    std::string_view rest = apps;
    for (std::string_view app = next_app(rest); !app.empty(); app = next_app(rest)) {
        print_all(app, directory);
        // Rows that cannot reach the reader are work for nobody.
        if (std::ferror(stdout) != 0)
            break;
    }
    return finish_output();
}
