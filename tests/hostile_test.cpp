// End-to-end runs against data directories and environments that other
// programs or users got wrong. Whatever they hold, the run must finish, print
// five lines per app while it goes on, and report on standard error what it
// could not read.
#include "harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace
{

const Files kFull = Files{{"icons/installed.png", "png"}} + app("full", "installed", "Complete");
const std::string kFullRow = record(kInstalled, icon("full"), "full", "(installed) Complete");

TEST(Hostile, EveryRunFinishesAndReportsWhatItCouldNotRead)
{
    // Several blocks of rows stand in the pipe when the thief's text is read.
    std::string thief_list;
    std::string thief_out;
    for (int i = 0; i < 200; ++i) {
        thief_list += "full\n";
        thief_out += kFullRow;
    }
    const Files thief = {{"apps/thief/description", "/dev/stdout", Kind::Symlink},
                         {"apps/thief/icon-24.png", "png"}};
    const Files locked = {{"icons/installed.png", "png"},
                          {"data/status/locked status", "installed\n", Kind::File, 0},
                          {"apps/locked status/description", "Status unreadable\n"},
                          {"data/status/locked", "installed\n"},
                          {"apps/locked/description", "Locked\n", Kind::File, 0},
                          {"apps/locked/icon-24.png", "png", Kind::File, 0}};
    const Files loops = {{"data/status/a", "a", Kind::Symlink},
                         {"apps/a/description", "description", Kind::Symlink},
                         {"apps/a/icon-24.png", "icon-24.png", Kind::Symlink}};
    const Files dangling = {{"data/status/a", "nowhere", Kind::Symlink},
                            {"apps/a/description", "nowhere", Kind::Symlink},
                            {"apps/a/icon-24.png", "nowhere", Kind::Symlink}};
    const Files zero = {{"data/status/a", "/dev/zero", Kind::Symlink},
                        {"apps/a/description", "/dev/zero", Kind::Symlink}};
    const Files binary = {{"data/status/a", std::string("\x01\xfe\x7f\0tail\n", 9)},
                          {"apps/a/description", std::string("Before\0after\n", 13)}};
    Files odd = {{"icons/installed.png", "png"}};
    std::string odd_list;
    std::string odd_out;
    // Used unescaped, "../x" climbs out of data/status and apps.
    for (const std::string name : {"with space", "tab\there", "dq\"name", "sq'name", "back\\slash",
                                   "%s%n%x", "cr\rinside", "trailing cr\r", "../x"}) {
        odd = odd + app(name, "installed", "Odd %s%n");
        odd_list += name + "\n";
        odd_out += record(kInstalled, icon(name), name, "(installed) Odd %s%n");
    }
    // One byte more and the kernel refuses to start the program.
    std::string longest;
    for (int i = 100000; longest.size() < 128 * 1024 - sizeof "APPS="; ++i)
        longest += "app-" + std::to_string(i) + "\n";
    longest.resize(128 * 1024 - sizeof "APPS=");
    std::string longest_out;
    std::string longest_err;
    for (std::size_t start = 0, end; start < longest.size(); start = end + 1) {
        end = std::min(longest.find('\n', start), longest.size());
        const std::string name = longest.substr(start, end - start);
        longest_out += record("$D/missing/icons/none.png", "", name, "");
        longest_err += no_icon(name) + no_description(name);
    }
    const std::string huge_name(100 * 1024, 'n');
    // Root reads everything, so as root the program runs as nobody.
    RunOptions as_nobody;
    as_nobody.as_nobody = geteuid() == 0;
    RunOptions no_stdin;
    no_stdin.stdin_closed = true;
    const std::string a_err = no_icon("a") + no_description("a");
    check_cases({
        // Read, standard output would give back the program's own rows.
        Case("description linked to standard output", kFull + thief, apps(thief_list + "thief"),
             {Stdout::Pipe}, thief_out + record(kNone, icon("thief"), "thief", "(uninstalled) "),
             ""),
        Case("symlink loops", loops, apps("a"), {}, record(kNone, "", "a", ""), a_err),
        Case("dangling symlinks", dangling, apps("a"), {}, record(kNone, "", "a", ""), a_err),
        Case("unreadable files", locked, apps("locked status\nlocked"), as_nobody,
             record(kNone, "", "locked status", "(uninstalled) Status unreadable") +
                 record(kInstalled, "", "locked", ""),
             no_icon("locked status") + no_icon("locked") + no_description("locked")),
        Case("/dev/zero behind symlinks", zero, apps("a"), {}, record(kNone, "", "a", "() "),
             no_icon("a")),
        Case("binary status and description", binary, apps("a"), {},
             record(kNone, "", "a", "(\x01\xfe\x7f) Before"), no_icon("a")),
        Case("odd names", odd, apps(odd_list), {}, odd_out, ""),
        Case("longest APPS", {}, {"DIRECTORY=$D/missing", "APPS=" + longest}, {}, longest_out,
             longest_err),
        Case("100 KiB name", {}, apps(huge_name), {}, record(kNone, "", huge_name, ""),
             no_icon(huge_name) + no_description(huge_name)),
        // The first open then returns 0, a descriptor like any other.
        Case("standard input closed", kFull, apps("full"), no_stdin, kFullRow, ""),
    });
}

bool asleep(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string number, name, state;
    return stat >> number >> name >> state && state == "S";
}

// Only a regular file is ever opened: a FIFO or a device would block, hand
// over another reader's bytes or never end. Either FIFO, opened, would let
// its writer go.
TEST(Hostile, SpecialFilesArePresentButNeverOpened)
{
    const Files special = {{"data/status/fifos", "", Kind::Fifo},
                           {"apps/fifos/description", "", Kind::Fifo},
                           {"apps/fifos/icon-24.png", "png"},
                           {"apps/socket/icon-24.png", "", Kind::Socket},
                           {"apps/urandom/description", "/dev/urandom", Kind::Symlink}};
    const Case c(
        "special files", kFull + special, apps("fifos\nsocket\nurandom\nfull"),
        traced({"-s", "4096", "-e", "trace=openat"}),
        record(kNone, icon("fifos"), "fifos", "() ") + record(kNone, icon("socket"), "socket", "") +
            record(kNone, "", "urandom", "(uninstalled) ") + kFullRow,
        no_description("socket") + no_icon("urandom"), 0,
        R"(openat\(AT_FDCWD, "$D/apps/full/description")",
        R"re("$D/(data/status/fifos|apps/fifos/description|apps/socket/|apps/urandom/))re");
    const DataDir data;
    data.make(c.files);
    // Writers blocked in opening the FIFOs as long as nobody opens them to
    // read. Orphaned, they would hold the test's output open: they die with
    // the test.
    std::vector<std::pair<pid_t, std::string>> writers;
    for (const char *fifo : {"data/status/fifos", "apps/fifos/description"}) {
        writers.emplace_back(fork(), data.path(fifo));
        if (writers.back().first == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            (void)open(writers.back().second.c_str(), O_WRONLY);
            _exit(0);
        }
        for (int tries = 0; tries < 5000 && !asleep(writers.back().first); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    check_case(c, data);
    for (const auto &[pid, fifo] : writers) {
        EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << fifo << ": writer let go";
        const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        waitpid(pid, nullptr, 0);
        close(reader);
    }
}

} // namespace
