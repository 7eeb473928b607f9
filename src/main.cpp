#include "app_data.h"
#include "app_list.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

// Hands one line of the record to standard output's buffer. Plain writes:
// printf parsed the record's format again for every app.
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
    status_icon[0] = '\0';
    app_icon[0] = '\0';
    status_and_desc[0] = '\0';

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

// Returns the error message for a directory text the rows cannot carry, or
// nullptr when it is fine.
const char *directory_problem(std::string_view directory)
{
    // A newline in a path cell would shift every later row of the dialog.
    if (directory.find('\n') != std::string_view::npos)
        return "ERROR: \"DIRECTORY\" environment variable contains a newline!\n";
    if (directory.size() > kMaxDirectoryLength)
        return "ERROR: \"DIRECTORY\" environment variable is longer than 284 bytes!\n";
    return nullptr;
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
    (void)std::fprintf(stderr, "ERROR: main(): can't write standard output: %s\n",
                       error != 0 ? std::strerror(error) : "write error");
    return 1;
}

} // namespace

int main()
{
    const char *apps = std::getenv("APPS");
    if (apps == nullptr) {
        (void)std::fputs("ERROR: \"APPS\" environment variable isn't set!\n", stderr);
        return 1;
    }
    const char *directory_variable = std::getenv("DIRECTORY");
    if (directory_variable == nullptr) {
        (void)std::fputs("ERROR: \"DIRECTORY\" environment variable isn't set!\n", stderr);
        return 1;
    }
    const std::string_view directory = trim_directory(directory_variable);
    const char *problem = directory_problem(directory);
    if (problem != nullptr) {
        (void)std::fputs(problem, stderr);
        return 1;
    }

    std::string_view rest = apps;
    for (std::string_view app = next_app(rest); !app.empty(); app = next_app(rest))
        print_all(app, directory);
    return finish_output();
}
