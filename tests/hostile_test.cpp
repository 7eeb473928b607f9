// End-to-end runs against data directories and environments that other
// programs or users got wrong: whatever they hold, the run finishes, prints
// five lines per app and reports on standard error what it could not read.
#include "harness.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace
{

const Files kFull = Files{{"icons/installed.png", "png"}} + app("full", "installed", "Complete");
const std::string kFullRow = record(kInstalled, icon("full"), "full", "(installed) Complete");

// A writer blocked in opening the FIFO for as long as nobody opens it to read.
Helper fifo_writer(const std::string &fifo)
{
    return [fifo](const std::string &root) { (void)open((root + "/" + fifo).c_str(), O_WRONLY); };
}

// Holds a write lease on the file, as a file server may, until killed.
Helper lease_holder(const std::string &file)
{
    return [file](const std::string &root) {
        signal(SIGIO, SIG_IGN); // the break an open starts signals the holder
        const int fd = open((root + "/" + file).c_str(), O_RDONLY);
        if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0)
            pause(); // until killed: no signal is caught
        perror("F_SETLEASE");
    };
}

std::vector<Case> every_run_finishes_and_reports_what_it_could_not_read()
{
    // Several blocks of rows stand in the pipe when the thief's text is read.
    std::string thief_list, thief_out;
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
    const Files links = {{"data/status/loop", "loop", Kind::Symlink},
                         {"apps/loop/description", "description", Kind::Symlink},
                         {"apps/loop/icon-24.png", "icon-24.png", Kind::Symlink},
                         {"data/status/gone", "nowhere", Kind::Symlink},
                         {"apps/gone/description", "nowhere", Kind::Symlink},
                         {"apps/gone/icon-24.png", "nowhere", Kind::Symlink}};
    const Files zero = {{"data/status/a", "/dev/zero", Kind::Symlink},
                        {"apps/a/description", "/dev/zero", Kind::Symlink}};
    const Files binary = {{"data/status/a", std::string("\x01\xfe\x7f\0tail\n", 9)},
                          {"apps/a/description", std::string("Before\0after\n", 13)}};
    Files odd = {{"icons/installed.png", "png"}};
    std::string odd_list, odd_out;
    // Used unescaped, "../x" climbs out of data/status and apps.
    for (const std::string name : {"with space", "tab\there", "dq\"name", "sq'name", "back\\slash",
                                   "%s%n%x", "cr\rinside", "trailing cr\r", "../x"}) {
        odd = odd + app(name, "installed", "Odd %s%n");
        odd_list += name + "\n";
        odd_out += record(kInstalled, icon(name), name, "(installed) Odd %s%n");
    }
    const std::string huge_name(100 * 1024, 'n');
    // Either FIFO, opened, would let its writer go.
    const Files special = {{"data/status/fifos", "", Kind::Fifo},
                           {"apps/fifos/description", "", Kind::Fifo},
                           {"apps/fifos/icon-24.png", "png"},
                           {"apps/socket/icon-24.png", "", Kind::Socket},
                           {"apps/urandom/description", "/dev/urandom", Kind::Symlink}};
    // A status without its newline, made last, takes two reads, the second at its end.
    const Files unsure = Files{{"icons/installed.png", "png"}} + app("a", "", "A desc") +
                         Files{{"data/status/a", "installed"}};
    return {
        // Read, standard output would give back the program's own rows.
        Case("description linked to standard output", files(kFull + thief),
             apps(thief_list + "thief"), stdout_to(Stdout::Pipe),
             out(thief_out + record(kNone, icon("thief"), "thief", "(uninstalled) "))),
        Case("symlink loops and dangling symlinks", files(links), apps("loop\ngone"),
             out(record(kNone, "", "loop", "") + record(kNone, "", "gone", "")),
             err(no_icon("loop") + no_description("loop") + no_icon("gone") +
                 no_description("gone"))),
        // Root's groups go too, or nobody would read what they may.
        Case("unreadable files", files(locked), apps("locked status\nlocked"),
             as_nobody({"--clear-groups"}),
             out(record(kNone, "", "locked status", "(uninstalled) Status unreadable") +
                 record(kInstalled, "", "locked", "")),
             err(no_icon("locked status") + no_icon("locked") + no_description("locked"))),
        Case("/dev/zero behind symlinks", files(zero), apps("a"),
             out(record(kNone, "", "a", "() ")), err(no_icon("a"))),
        Case("binary status and description", files(binary), apps("a"),
             out(record(kNone, "", "a", "(\x01\xfe\x7f) Before")), err(no_icon("a"))),
        Case("odd names", files(odd), apps(odd_list), out(odd_out)),
        Case("100 KiB name", apps(huge_name), out(record(kNone, "", huge_name, "")),
             err(no_icon(huge_name) + no_description(huge_name))),
        // The first open then returns 0, a descriptor like any other.
        Case("standard input closed", files(kFull), apps("full"), stdin_closed(true),
             out(kFullRow)),
        // Only a regular file is ever opened: a FIFO or a device would
        // block, hand over another reader's bytes or never end.
        Case(
            "special files", files(kFull + special), apps("fifos\nsocket\nurandom\nfull"),
            helpers({fifo_writer("data/status/fifos"), fifo_writer("apps/fifos/description")}),
            strace({"-s", "4096", "-e", "trace=openat"}),
            out(record(kNone, icon("fifos"), "fifos", "() ") +
                record(kNone, icon("socket"), "socket", "") +
                record(kNone, "", "urandom", "(uninstalled) ") + kFullRow),
            err(no_description("socket") + no_icon("urandom")),
            trace_has(R"(openat\(AT_FDCWD, "$D/apps/full/description")"),
            trace_lacks(
                R"re("$D/(data/status/fifos|apps/fifos/description|apps/socket/|apps/urandom/))re")),
        // Reported at once, where a blocking open would wait out the lease
        // break, 45 s by default.
        Case("description under a write lease", files(kFull), apps("full"),
             helpers({lease_holder("apps/full/description")}),
             out(record(kInstalled, icon("full"), "full", "(installed) ")),
             err(read_failed("Resource temporarily unavailable"))),
        // A failed read keeps nothing of what came before it: a status cut
        // short would name another icon. The second lookup reads it whole.
        Case("status read fails at its end", files(unsure), apps("a"),
             fail_call({"pread64", R"(^pread64\(\d+<$D/data/status/a>.*, 9\) = 0)", "EIO"}),
             out(record(kNone, icon("a"), "a", "(installed) A desc")),
             err(read_failed("Input/output error"))),
        // Nothing here catches a signal, yet FUSE says EINTR when a stop, a tracer
        // or a freeze interrupts a request. Tried again, and only until answered.
        Case("description probe interrupted", files(kFull), apps("full"), out(kFullRow),
             fail_call({"access", R"(^access\("$D/apps/full/description")", "EINTR"}),
             trace_lacks(R"((access\("$D/apps/full/description"[\s\S]*){3})")),
        // stat is statx where time_t was once 32 bits, as under qemu-user.
        Case("description look interrupted", files(kFull), apps("full"), out(kFullRow),
             fail_call({"newfstatat|statx", R"(^\w+\(AT_FDCWD[^,]*, "$D/apps/full/description")",
                        "EINTR"})),
        Case("description open interrupted", files(kFull), apps("full"), out(kFullRow),
             fail_call(
                 {"openat", R"(^openat\(AT_FDCWD[^,]*, "$D/apps/full/description")", "EINTR"})),
        Case("description read interrupted", files(kFull), apps("full"), out(kFullRow),
             fail_call({"pread64", R"(^pread64\(\d+<$D/apps/full/description>)", "EINTR"})),
        // Five tries in all; the status's second read, after them, fails too.
        Case("every read interrupted from the description's on", files(kFull), apps("full"),
             fail_call({"pread64", R"(^pread64\(\d+<$D/apps/full/description>)", "EINTR", "+"}),
             strace({"-y"}), trace_has(R"((pread64\(\d+<$D/apps/full/description>[\s\S]*){5})"),
             trace_lacks(R"((pread64\(\d+<$D/apps/full/description>[\s\S]*){6})"),
             out(record(kInstalled, icon("full"), "full", "() ")),
             err(read_failed("Interrupted system call") + read_failed("Interrupted system call"))),
    };
}
TABLE(E2e, Hostile, every_run_finishes_and_reports_what_it_could_not_read());

} // namespace
