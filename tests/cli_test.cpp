// End-to-end: the real program, started with only the variables a case
// sets, against the files the case makes. Output, messages and exit status
// are compared exactly.
#include "harness.h"

#include <csignal>

namespace
{

const Files kInstalledIcon = {{"icons/installed.png", "png"}};
// The names are x86-64's, and under qemu-user strace sees the emulator's
// calls: elsewhere they go uncounted.
#if defined(__x86_64__)
const std::map<std::string, long> kCompleteAppCalls = {
    {"access", 5}, {"newfstatat", 4}, {"openat", 3}, {"pread64", 3}, {"close", 3}, {"write", 1}};
#else
const std::map<std::string, long> kCompleteAppCalls;
#endif

std::vector<Case> checks_both_variables_before_any_output()
{
    const std::string apps_unset = "ERROR: \"APPS\" environment variable isn't set!\n";
    const std::string odd = "/nonexistent/f\f u\xE2\x80\xA8 p\xE2\x80";
    // The longest directory text: the fallback icon path fills its 299 bytes.
    const std::string longest = "/nonexistent/" + std::string(271, 'd');
    const std::string x_err = no_icon("x") + no_description("x");
    const std::string root_x = record("/icons/none.png", "", "x", "");
    return {
        Case("both missing", err(apps_unset), status(1)),
        Case("apps missing", env({"DIRECTORY=/tmp"}), err(apps_unset), status(1)),
        Case("directory missing", env({"APPS=a"}),
             err("ERROR: \"DIRECTORY\" environment variable isn't set!\n"), status(1)),
        Case("empty list", env({"DIRECTORY=/nonexistent", "APPS="})),
        Case("newlines only", env({"DIRECTORY=/nonexistent", "APPS=\n\n\n"})),
        // The line ends themselves are the line reader's rows.
        Case("trailing carriage return", env({"DIRECTORY=/srv/\r", "APPS=a"}),
             err("ERROR: \"DIRECTORY\" environment variable contains a line end "
                 "(newline, carriage return or U+2029)!\n"),
             status(1)),
        Case("form feed, U+2028 and a partial E2 80 are no line ends",
             env({"DIRECTORY=" + odd, "APPS=x"}), out(record(odd + "/icons/none.png", "", "x", "")),
             err(x_err)),
        Case("directory too long", env({"DIRECTORY=" + longest + "d", "APPS=a"}),
             err("ERROR: \"DIRECTORY\" environment variable is longer than 284 bytes!\n"),
             status(1)),
        Case("284 bytes and the slash that goes", env({"DIRECTORY=" + longest + "/", "APPS=x"}),
             out(record(longest + "/icons/none.png", "", "x", "")), err(x_err)),
        // The directory text loses one trailing slash.
        Case("one slash goes", files(app("a", "installed", "A")), env({"DIRECTORY=$D/", "APPS=a"}),
             out(record(kNone, icon("a"), "a", "(installed) A"))),
        Case("of two, one stays", files(app("a", "installed", "A")),
             env({"DIRECTORY=$D//", "APPS=a"}),
             out(record("$D//icons/none.png", "$D//apps/a/icon-24.png", "a", "(installed) A"))),
        Case("the root", env({"DIRECTORY=/", "APPS=x"}), out(root_x), err(x_err)),
        Case("the empty text", env({"DIRECTORY=", "APPS=x"}), out(root_x), err(x_err)),
    };
}
TABLE(E2e, Environment, checks_both_variables_before_any_output());

std::vector<Case> each_cell_from_the_data_directory()
{
    const std::string s30(30, 's');
    const std::string too_long = "\" has a status longer than 29 bytes!\n";
    const Files full = kInstalledIcon + app("a", "installed", "A full app");
    const std::string full_row = record(kInstalled, icon("a"), "a", "(installed) A full app");
    const Files empty_status = {
        {"icons/.png", "png"}, {"data/status/a", ""}, {"apps/a/description", "Empty status\n"}};
    Files touched = full, private_full = full;
    for (std::size_t i = 0; i < full.size(); ++i) {
        touched[i].atime = 2208988800; // 2040: a 32-bit time_t's stat fails on it
        private_full[i].mode = 0600;
    }
    const Files dirs = {{"data/status/a", "", Kind::Dir},
                        {"apps/a/description", "", Kind::Dir},
                        {"apps/a/icon-24.png", "", Kind::Dir}};
    return {
        Case("full", files(full), apps("a"), out(full_row)),
        // Five probes; a look, an open, a read and a close for the status,
        // twice, and the description; stdio's look at stdout; one write.
        Case("a complete app's system calls", files(full), apps("a"), out(full_row),
             calls_over_empty_list(kCompleteAppCalls)),
        // Some sandboxes refuse the newer call for presence outright.
        Case("presence where faccessat2 is refused", files(full), apps("a"),
             strace({"-e", "inject=faccessat2:error=EPERM"}), out(full_row)),
        Case("files touched after 2038", files(touched), apps("a"), out(full_row)),
        // access asks with the real ids, and drops the capability with them.
        Case("read through a capability", files(private_full), apps("a"), out(full_row),
             as_nobody({"--clear-groups", "--inh-caps=+dac_read_search",
                        "--ambient-caps=+dac_read_search"})),
        Case("no icon", files(kInstalledIcon + app("a", "installed", "No icon", false)), apps("a"),
             out(record(kInstalled, "", "a", "(installed) No icon")), err(no_icon("a"))),
        Case("no description", files(kInstalledIcon + Files{{"data/status/a", "installed\n"}}),
             apps("a"), out(record(kInstalled, "", "a", "")),
             err(no_icon("a") + no_description("a"))),
        Case("no status", files(Files{{"apps/a/description", "Never installed\n"}}), apps("a"),
             out(record(kNone, "", "a", "(uninstalled) Never installed")), err(no_icon("a"))),
        Case("crlf", files(kInstalledIcon + app("a", "installed\r", "Windows line ends\r")),
             apps("a"), out(record(kInstalled, icon("a"), "a", "(installed) Windows line ends"))),
        Case("empty status", files(empty_status), apps("a"),
             out(record("$D/icons/.png", "", "a", "() Empty status")), err(no_icon("a"))),
        Case("empty description", files(kInstalledIcon + app("a", "installed", "")), apps("a"),
             out(record(kInstalled, icon("a"), "a", "(installed) "))),
        Case("status of 30 bytes",
             files(Files{{"icons/" + s30 + ".png", "png"}} + app("a", s30, "Over")), apps("a"),
             out(record(kNone, icon("a"), "a", "(uninstalled) Over")),
             err("ERROR: get_app_status_with_none(): app \"a" + too_long +
                 "ERROR: get_app_status(): app \"a" + too_long)),
        Case("status cut at its line end before its length counts",
             files(kInstalledIcon + app("a", "installed\r" + s30, "Cut")), apps("a"),
             out(record(kInstalled, icon("a"), "a", "(installed) Cut"))),
        Case("markup and formats printed verbatim",
             files(kInstalledIcon + app("a", "installed", "Tom & Jerry <b>bold</b> %s %n")),
             apps("a"),
             out(record(kInstalled, icon("a"), "a", "(installed) Tom & Jerry <b>bold</b> %s %n"))),
        // Present, and read as empty.
        Case("directories for files", files(dirs), apps("a"),
             out(record(kNone, icon("a"), "a", "() "))),
    };
}
TABLE(E2e, Rows, each_cell_from_the_data_directory());

std::vector<Case> walks_names_in_order()
{
    const Files ab = kInstalledIcon + app("a", "installed", "A") + app("b", "installed", "B");
    const std::string a = record(kInstalled, icon("a"), "a", "(installed) A");
    const std::string b = record(kInstalled, icon("b"), "b", "(installed) B");
    const Files empty = {{"data/status/empty", ""}, {"apps/empty/description", ""}};
    return {
        Case("empty line and final newline", files(ab), apps("a\n\nb\n"), out(a + b)),
        Case("leading newlines", files(ab), apps("\n\nb"), out(b)),
        Case("same name twice", files(ab), apps("a\na"), out(a + a)),
        Case("crlf list keeps the carriage return",
             files(ab + Files{{"data/status/a\r", "installed\n"}}), apps("a\r\nb"),
             out(record(kInstalled, "", "a\r", "") + b),
             err(no_icon("a\r") + no_description("a\r"))),
        Case("no cell carries over to the next row", files(ab + empty), apps("a\nempty\nx"),
             out(a + record(kNone, "", "empty", "() ") + record(kNone, "", "x", "")),
             err(no_icon("empty") + no_icon("x") + no_description("x"))),
    };
}
TABLE(E2e, List, walks_names_in_order());

// stdio holds standard output in a block of 4096 bytes: the first write, and
// its failure, comes in the row that takes the output past it. That row is
// the last one looked up, and nothing is written after the message.
std::vector<Case> a_failed_write_stops_the_walk()
{
    const std::string name = nested_name(3000); // and a text of 4095: a row over a block
    const Files a = app("a", "installed", "A");
    return {
        // Not one byte of the row follows the hole, nor a lookup of "b",
        // which would report its missing files.
        Case("a row cut by a failed write", files(app(name, "installed", std::string(4095, 'd'))),
             apps(name + "\nb"), stdout_to(Stdout::DevFull), strace({"-e", "trace=write,access"}),
             err(write_failed("No space left on device")), status(1),
             trace_has(R"(write\(1, [^\n]*= -1 ENOSPC)"),
             trace_lacks(R"(= -1 ENOSPC[\s\S]*(write\(1|access\())")),
        // With SIGPIPE at its default, the write ends the program: no message.
        Case("reader gone", files(a), apps("a"), stdout_to(Stdout::NoReader),
             status(128 + SIGPIPE)),
        // Some file systems report a failed write only when the file is closed.
        Case("the close fails", files(a), apps("a"), fail_call({"close", R"(^close\(1<)", "EIO"}),
             out(record(kNone, icon("a"), "a", "(installed) A")),
             err(write_failed("Input/output error")), status(1)),
    };
}
TABLE(E2e, Output, a_failed_write_stops_the_walk());

} // namespace
