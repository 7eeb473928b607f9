// End-to-end runs against data directories and environments that other
// programs or users got wrong. Whatever they hold, the run must finish, print
// five lines per app while it goes on, and report on standard error what it
// could not read.
#include "harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

namespace
{

// The kernel's cap on one environment string, its zero byte included.
constexpr std::size_t kMaxEnvString = 128 * 1024;

// Names "app-100000", "app-100001", ... one per line, cut to exactly length bytes.
std::string name_list(std::size_t length)
{
    std::string list;
    for (int i = 100000; list.size() < length; ++i)
        list += "app-" + std::to_string(i) + "\n";
    list.resize(length);
    return list;
}

std::vector<std::string> names_of(const std::string &list)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find('\n', start), list.size());
        if (end > start)
            names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

// Makes a FIFO whose writer, the returned descriptor, has queued text. The
// descriptor reads as well, so the test can take the text back.
int queued_fifo(const DataDir &data, const std::string &path, const std::string &text)
{
    data.fifo(path);
    const int fd = open(data.path(path).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    return fd;
}

std::string take_queued(int fd)
{
    char text[64];
    const ssize_t got = read(fd, text, sizeof text);
    close(fd);
    return got > 0 ? std::string(text, static_cast<std::size_t>(got)) : "";
}

struct HostileCase {
    std::string name;
    std::vector<std::string> env;
    RunOptions options;
    std::string out;
    std::string err;
    int status;
};

TEST(Hostile, EveryRunFinishesAndReportsWhatItCouldNotRead)
{
    DataDir data;
    const std::string d = data.root;
    data.file("icons/none.png", "png");
    data.file("icons/installed.png", "png");
    const std::string none = d + "/icons/none.png";
    const std::string installed = d + "/icons/installed.png";
    const auto icon = [&](const std::string &app) { return d + "/apps/" + app + "/icon-24.png"; };
    const auto env = [&](const std::string &apps) {
        return std::vector<std::string>{"DIRECTORY=" + d, "APPS=" + apps};
    };

    data.app("full", "installed", "Complete");
    // A text is read by position: a FIFO gives nothing and keeps what it holds.
    const int status_fifo = queued_fifo(data, "data/status/fifos", "installed\nbroken\n");
    const int description_fifo = queued_fifo(data, "apps/fifos/description", "Queued\n");
    data.file("apps/fifos/icon-24.png", "png");
    // Read, standard output would give back the program's own rows.
    data.symlink("apps/thief/description", "/dev/stdout");
    data.file("apps/thief/icon-24.png", "png");
    data.symlink("data/status/loop", "loop");
    data.symlink("apps/loop/description", "description");
    data.symlink("apps/loop/icon-24.png", "icon-24.png");
    data.symlink("data/status/dangling", "nowhere");
    data.symlink("apps/dangling/description", "nowhere");
    data.symlink("apps/dangling/icon-24.png", "nowhere");
    data.dir("data/status/dirs");
    data.dir("apps/dirs/description");
    data.dir("apps/dirs/icon-24.png");
    data.file("data/status/locked status", "installed\n", 0);
    data.file("apps/locked status/description", "Status unreadable\n");
    data.file("data/status/locked", "installed\n");
    data.file("apps/locked/description", "Locked\n", 0);
    data.file("apps/locked/icon-24.png", "png", 0);
    data.symlink("data/status/zero", "/dev/zero");
    data.symlink("apps/zero/description", "/dev/zero");
    data.file("data/status/binary", std::string("\x01\xfe\x7f\0tail\n", 9));
    data.file("apps/binary/description", std::string("Before\0after\n", 13));

    const std::vector<std::string> odd = {"with space", "tab\there",     "dq\"name",
                                          "sq'name",    "back\\slash",   "%s%n%x",
                                          "cr\rinside", "trailing cr\r", "../x"};
    std::string odd_list;
    std::string odd_out;
    for (const auto &app : odd) {
        odd_list += app + "\n";
        odd_out += record(installed, icon(app), app, "(installed) Odd %s%n");
        if (app != "../x")
            data.app(app, "installed", "Odd %s%n");
    }
    // Names are substituted unescaped: "../x" climbs out of data/status and apps.
    data.file("data/x", "installed\n");
    data.file("x/description", "Odd %s%n\n");
    data.file("x/icon-24.png", "png");

    const std::string huge_name(100 * 1024, 'n');
    const std::string missing = d + "/missing";
    const std::string longest = name_list(kMaxEnvString - sizeof "APPS=");
    std::string longest_out;
    std::string longest_err;
    for (const auto &app : names_of(longest)) {
        longest_out += record(missing + "/icons/none.png", "", app, "");
        longest_err += no_icon(app) + no_description(app);
    }
    std::string many_full;
    for (int i = 0; i < 3000; ++i)
        many_full += "full\n";
    // Several blocks of rows stand in the pipe when the thief's text is read.
    std::string thief_list;
    std::string thief_out;
    for (int i = 0; i < 200; ++i) {
        thief_list += "full\n";
        thief_out += record(installed, icon("full"), "full", "(installed) Complete");
    }
    thief_list += "thief";
    thief_out += record(none, icon("thief"), "thief", "(uninstalled) ");

    const RunOptions capture;
    const std::vector<HostileCase> cases = {
        {"FIFOs with a line queued", env("fifos"), capture,
         record(none, icon("fifos"), "fifos", "() "), "", 0},
        {"description linked to standard output", env(thief_list), stdout_to(Stdout::Pipe),
         thief_out, "", 0},
        {"symlink loops", env("loop"), capture, record(none, "", "loop", ""),
         no_icon("loop") + no_description("loop"), 0},
        {"dangling symlinks", env("dangling"), capture, record(none, "", "dangling", ""),
         no_icon("dangling") + no_description("dangling"), 0},
        {"directories for files", env("dirs"), capture, record(none, icon("dirs"), "dirs", "() "),
         "", 0},
        // Root reads everything, so as root the program runs as nobody.
        {"unreadable files", env("locked status\nlocked"), as_nobody_if_root(),
         record(none, "", "locked status", "(uninstalled) Status unreadable") +
             record(installed, "", "locked", ""),
         no_icon("locked status") + no_icon("locked") + no_description("locked"), 0},
        {"/dev/zero behind symlinks", env("zero"), capture, record(none, "", "zero", "() "),
         no_icon("zero"), 0},
        {"binary status and description", env("binary"), capture,
         record(none, "", "binary", "(\x01\xfe\x7f) Before"), no_icon("binary"), 0},
        {"odd names", env(odd_list), capture, odd_out, "", 0},
        {"100 KiB name", env(huge_name), capture, record(none, "", huge_name, ""),
         no_icon(huge_name) + no_description(huge_name), 0},
        // One byte more and the kernel refuses to start the program.
        {"longest APPS",
         {"DIRECTORY=" + missing, "APPS=" + longest},
         capture,
         longest_out,
         longest_err,
         0},
        {"reader quits after one line", env(many_full), stdout_to(Stdout::FirstLine),
         installed + "\n", "", 128 + SIGPIPE},
        // The first open then returns 0, a descriptor like any other.
        {"standard input closed", env("full"), stdin_closed(),
         record(installed, icon("full"), "full", "(installed) Complete"), "", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        expect_run(run_applist(c.env, c.options), c.out, c.err, c.status);
    }
    EXPECT_EQ(take_queued(status_fifo), "installed\nbroken\n");
    EXPECT_EQ(take_queued(description_fifo), "Queued\n");
}

} // namespace
