// End-to-end runs against data directories and environments that other
// programs or users got wrong. Whatever they hold, the run must finish, print
// five lines per app while it goes on, and report on standard error what it
// could not read.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

namespace
{

// The kernel's cap on one environment string, its zero byte included.
constexpr std::size_t kMaxEnvString = 128 * 1024;

std::string write_error(const std::string &reason)
{
    return "ERROR: main(): can't write standard output: " + reason + "\n";
}

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

std::string apps_of(const std::vector<std::string> &env)
{
    for (const auto &entry : env)
        if (entry.rfind("APPS=", 0) == 0)
            return entry.substr(5);
    return "";
}

std::size_t line_count(const std::string &text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

struct HostileCase {
    std::string name;
    std::vector<std::string> env;
    RunOptions options;
    std::string out;
    std::string err;
    int status; // -1: ends by signal
    int signal;
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
    data.file("data/status/fifo description", "installed\n");
    data.fifo("apps/fifo description/description");
    data.fifo("data/status/fifo status");
    data.file("apps/fifo status/description", "Status is a FIFO\n");
    data.app("long status", std::string(30, 's'), "Long", false);
    data.symlink("data/status/loop", "loop");
    data.symlink("apps/loop/description", "description");
    data.symlink("apps/loop/icon-24.png", "icon-24.png");
    data.symlink("data/status/dangling", "nowhere");
    data.symlink("apps/dangling/description", "nowhere");
    data.symlink("apps/dangling/icon-24.png", "nowhere");
    data.dir("data/status/dirs");
    data.dir("apps/dirs/description");
    data.dir("apps/dirs/icon-24.png");
    data.file("data/status/locked", "installed\n", 0);
    data.file("apps/locked/description", "Locked\n", 0);
    data.file("apps/locked/icon-24.png", "png", 0);
    data.file("data/status/huge", "installed\n");
    data.file("apps/huge/description", std::string(10 << 20, 'x'));
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

    const RunOptions capture;
    const RunOptions nobody = {Stdout::Capture, running_as_root()};
    const std::vector<HostileCase> cases = {
        {"FIFO description", env("fifo description"), capture,
         record(installed, "", "fifo description", "(installed) "), no_icon("fifo description"), 0,
         0},
        {"FIFO status", env("fifo status"), capture,
         record(none, "", "fifo status", "() Status is a FIFO"), no_icon("fifo status"), 0, 0},
        {"symlink loops", env("loop"), capture, record(none, "", "loop", ""),
         no_icon("loop") + no_description("loop"), 0, 0},
        {"dangling symlinks", env("dangling"), capture, record(none, "", "dangling", ""),
         no_icon("dangling") + no_description("dangling"), 0, 0},
        {"directories for files", env("dirs"), capture, record(none, icon("dirs"), "dirs", "() "),
         "", 0, 0},
        {"unreadable files", env("locked"), nobody, record(none, "", "locked", ""),
         no_icon("locked") + no_description("locked"), 0, 0},
        {"10 MiB first line", env("huge"), capture,
         record(installed, "", "huge", "(installed) " + std::string(4083, 'x')), no_icon("huge"), 0,
         0},
        {"/dev/zero behind symlinks", env("zero"), capture, record(none, "", "zero", "() "),
         no_icon("zero"), 0, 0},
        {"binary status and description", env("binary"), capture,
         record(none, "", "binary", "(\x01\xfe\x7f) Before"), no_icon("binary"), 0, 0},
        {"odd names", env(odd_list), capture, odd_out, "", 0, 0},
        {"100 KiB name", env(huge_name), capture, record(none, "", huge_name, ""),
         no_icon(huge_name) + no_description(huge_name), 0, 0},
        {"longest APPS",
         {"DIRECTORY=" + missing, "APPS=" + longest},
         capture,
         longest_out,
         longest_err,
         0,
         0},
        // One byte more and the kernel refuses to start the program.
        {"APPS over the kernel's cap",
         {"DIRECTORY=" + d, "APPS=" + longest + "x"},
         capture,
         "",
         "",
         127,
         0},
        {"DIRECTORY with a newline",
         {"DIRECTORY=" + d + "/\n", "APPS=full"},
         capture,
         "",
         kDirectoryHasLineEnd,
         1,
         0},
        {"stdout is /dev/full",
         env("full"),
         {Stdout::DevFull},
         "",
         write_error("No space left on device"),
         1,
         0},
        {"stdout closed",
         env("full"),
         {Stdout::Closed},
         "",
         write_error("Bad file descriptor"),
         1,
         0},
        {"reader quits after one line",
         env(many_full),
         {Stdout::FirstLine},
         installed + "\n",
         "",
         -1,
         SIGPIPE},
        // The first open then returns 0, a descriptor like any other.
        {"standard input closed",
         env("full"),
         {Stdout::Capture, false, 30, false, true},
         record(installed, icon("full"), "full", "(installed) Complete"),
         "",
         0,
         0},
        // Standard error may take a message a few bytes at a time (a
        // non-blocking pipe with little room): each must still come whole.
        {"messages written a few bytes a call",
         {"DIRECTORY=" + d, "APPS=long status\nloop\nfull", "LD_PRELOAD=" APPLIST_PRELOAD},
         capture,
         record(none, "", "long status", "(uninstalled) Long") + record(none, "", "loop", "") +
             record(installed, icon("full"), "full", "(installed) Complete"),
         long_status("get_app_status_with_none", "long status") + no_icon("long status") +
             long_status("get_app_status", "long status") + no_icon("loop") +
             no_description("loop"),
         0,
         0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome run = run_applist(c.env, c.options);
        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.signal, c.signal);
        EXPECT_EQ(run.status, c.status);
        if (c.status == 0) {
            EXPECT_EQ(line_count(run.out), 5 * names_of(apps_of(c.env)).size());
        }
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
}

} // namespace
