// End-to-end: the real program, started with only the variables a case
// sets, against the files the case makes. Output, messages and exit status
// are compared exactly.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

namespace
{

const Files kInstalledIcon = {{"icons/installed.png", "png"}};

TEST(Environment, ChecksBothVariablesBeforeAnyOutput)
{
    const std::string apps_unset = "ERROR: \"APPS\" environment variable isn't set!\n";
    const std::string directory_unset = "ERROR: \"DIRECTORY\" environment variable isn't set!\n";
    const std::string line_end = "ERROR: \"DIRECTORY\" environment variable contains a line end "
                                 "(newline, carriage return or U+2029)!\n";
    const std::string odd = "/nonexistent/f\f u\xE2\x80\xA8 p\xE2\x80";
    const std::string x_err = no_icon("x") + no_description("x");
    const std::string root_x = record("/icons/none.png", "", "x", "");
    check_cases({
        Case("both missing", {}, {}, {}, "", apps_unset, 1),
        Case("apps missing", {}, {"DIRECTORY=/tmp"}, {}, "", apps_unset, 1),
        Case("directory missing", {}, {"APPS=a"}, {}, "", directory_unset, 1),
        Case("empty list", {}, {"DIRECTORY=/nonexistent", "APPS="}, {}, "", ""),
        Case("newlines only", {}, {"DIRECTORY=/nonexistent", "APPS=\n\n\n"}, {}, "", ""),
        Case("newline in directory", {}, {"DIRECTORY=/srv\n/data", "APPS=a"}, {}, "", line_end, 1),
        Case("carriage return", {}, {"DIRECTORY=/srv\r/data", "APPS=a"}, {}, "", line_end, 1),
        Case("trailing carriage return", {}, {"DIRECTORY=/srv/\r", "APPS=a"}, {}, "", line_end, 1),
        Case("U+2029", {}, {"DIRECTORY=/srv\xE2\x80\xA9/data", "APPS=a"}, {}, "", line_end, 1),
        Case("form feed, U+2028 and a partial E2 80 are no line ends", {},
             {"DIRECTORY=" + odd, "APPS=x"}, {}, record(odd + "/icons/none.png", "", "x", ""),
             x_err),
        Case("directory too long", {}, {"DIRECTORY=/" + std::string(284, 'd'), "APPS=a"}, {}, "",
             "ERROR: \"DIRECTORY\" environment variable is longer than 284 bytes!\n", 1),
        Case("missing directory, every row", {}, {"DIRECTORY=/nonexistent/d", "APPS=x\ny"}, {},
             record("/nonexistent/d/icons/none.png", "", "x", "") +
                 record("/nonexistent/d/icons/none.png", "", "y", ""),
             x_err + no_icon("y") + no_description("y")),
        // The directory text loses one trailing slash.
        Case("one slash goes", app("a", "installed", "A"), {"DIRECTORY=$D/", "APPS=a"}, {},
             record(kNone, icon("a"), "a", "(installed) A"), ""),
        Case("of two, one stays", app("a", "installed", "A"), {"DIRECTORY=$D//", "APPS=a"}, {},
             record("$D//icons/none.png", "$D//apps/a/icon-24.png", "a", "(installed) A"), ""),
        Case("the root", {}, {"DIRECTORY=/", "APPS=x"}, {}, root_x, x_err),
        Case("the empty text", {}, {"DIRECTORY=", "APPS=x"}, {}, root_x, x_err),
    });
}

TEST(Rows, EachCellFromTheDataDirectory)
{
    const std::string s30(30, 's');
    const Files empty_status = {
        {"icons/.png", "png"}, {"data/status/a", ""}, {"apps/a/description", "Empty status\n"}};
    const Files dirs = {{"data/status/a", "", Kind::Dir},
                        {"apps/a/description", "", Kind::Dir},
                        {"apps/a/icon-24.png", "", Kind::Dir}};
    check_cases({
        Case("full", kInstalledIcon + app("a", "installed", "A full app"), apps("a"), {},
             record(kInstalled, icon("a"), "a", "(installed) A full app"), ""),
        Case("no icon", kInstalledIcon + app("a", "installed", "No icon", false), apps("a"), {},
             record(kInstalled, "", "a", "(installed) No icon"), no_icon("a")),
        Case("no description", kInstalledIcon + Files{{"data/status/a", "installed\n"}}, apps("a"),
             {}, record(kInstalled, "", "a", ""), no_icon("a") + no_description("a")),
        Case("no status", {{"apps/a/description", "Never installed\n"}}, apps("a"), {},
             record(kNone, "", "a", "(uninstalled) Never installed"), no_icon("a")),
        Case("status without an icon", app("a", "updating", "Updates"), apps("a"), {},
             record(kNone, icon("a"), "a", "(updating) Updates"), ""),
        Case("crlf", kInstalledIcon + app("a", "installed\r", "Windows line ends\r"), apps("a"), {},
             record(kInstalled, icon("a"), "a", "(installed) Windows line ends"), ""),
        Case("empty status", empty_status, apps("a"), {},
             record("$D/icons/.png", "", "a", "() Empty status"), no_icon("a")),
        Case("empty description", kInstalledIcon + app("a", "installed", ""), apps("a"), {},
             record(kInstalled, icon("a"), "a", "(installed) "), ""),
        Case("status of 30 bytes", Files{{"icons/" + s30 + ".png", "png"}} + app("a", s30, "Over"),
             apps("a"), {}, record(kNone, icon("a"), "a", "(uninstalled) Over"),
             long_status("get_app_status_with_none", "a") + long_status("get_app_status", "a")),
        Case("status cut at its line end before its length counts",
             kInstalledIcon + app("a", "installed\r" + s30, "Cut"), apps("a"), {},
             record(kInstalled, icon("a"), "a", "(installed) Cut"), ""),
        Case("markup and formats printed verbatim",
             kInstalledIcon + app("a", "installed", "Tom & Jerry <b>bold</b> %s %n"), apps("a"), {},
             record(kInstalled, icon("a"), "a", "(installed) Tom & Jerry <b>bold</b> %s %n"), ""),
        // Present, and read as empty.
        Case("directories for files", dirs, apps("a"), {}, record(kNone, icon("a"), "a", "() "),
             ""),
    });
}

// A directory text of 284 bytes, given with its trailing "/", leaves no room
// in the status icon's 299 bytes for icons/installed.png, only for the
// fallback; the other paths' edges are pinned in the unit tests.
TEST(Rows, StatusIconPathOverItsFieldCountsAsAbsent)
{
    const DataDir data;
    const std::string deep = nested_name(283 - data.root.size());
    const Case c("status icon path over 299 bytes",
                 {{deep + "/icons/installed.png", "png"}, {deep + "/data/status/a", "installed\n"}},
                 {"DIRECTORY=$D/" + deep + "/", "APPS=a"}, {},
                 record("$D/" + deep + "/icons/none.png", "", "a", ""),
                 no_icon("a") + no_description("a"));
    ASSERT_EQ(data.root.size() + 1 + deep.size(), 284U);
    data.make(c.files);
    check_case(c, data);
}

TEST(List, WalksNamesInOrder)
{
    const Files ab = kInstalledIcon + app("a", "installed", "A") + app("b", "installed", "B");
    const std::string a = record(kInstalled, icon("a"), "a", "(installed) A");
    const std::string b = record(kInstalled, icon("b"), "b", "(installed) B");
    const Files empty = {{"data/status/empty", ""}, {"apps/empty/description", ""}};
    check_cases({
        Case("empty line and final newline", ab, apps("a\n\nb\n"), {}, a + b, ""),
        Case("leading newlines", ab, apps("\n\nb"), {}, b, ""),
        Case("same name twice", ab, apps("a\na"), {}, a + a, ""),
        Case("crlf list keeps the carriage return", ab + Files{{"data/status/a\r", "installed\n"}},
             apps("a\r\nb"), {}, record(kInstalled, "", "a\r", "") + b,
             no_icon("a\r") + no_description("a\r")),
        Case("no cell carries over to the next row", ab + empty, apps("a\nempty\nx"), {},
             a + record(kNone, "", "empty", "() ") + record(kNone, "", "x", ""),
             no_icon("empty") + no_icon("x") + no_description("x")),
    });
}

// stdio holds standard output in a block (4096 bytes, or 8192 when
// descriptor 1 is closed and it cannot ask), so the first write, and its
// failure, comes in the row that takes the output past the block. That row
// is the last one looked up, and nothing is written after the message.
TEST(Output, AFailedWriteStopsTheWalk)
{
    // Names of one length and no data directory: each row, and each row's
    // messages, have one length, known here.
    std::string list;
    std::string all_messages;
    for (int i = 1000; i < 4000; ++i) {
        list += std::to_string(i) + "\n";
        all_messages += no_icon(std::to_string(i)) + no_description(std::to_string(i));
    }
    const std::size_t row = record("/nonexistent/icons/none.png", "", "1000", "").size();
    const std::size_t row_messages = all_messages.size() / 3000;
    // The messages of the rows that end within the first block, and the next.
    const auto messages = [&](std::size_t block) {
        return all_messages.substr(0, (block / row + 1) * row_messages);
    };
    const auto walk = [](const std::string &names) {
        return std::vector<std::string>{"DIRECTORY=/nonexistent", "APPS=" + names};
    };
    // A row longer than a block: a long nested name, twice, and a long text.
    const std::string name = nested_name(3000);
    const std::string enospc = write_failed("No space left on device");
    const std::string eagain = write_failed("Resource temporarily unavailable");
    const std::string ebadf = write_failed("Bad file descriptor");
    std::string full_list;
    for (int i = 0; i < 3000; ++i)
        full_list += "a\n";
    const Files a = app("a", "installed", "A");
    check_cases({
        Case("one row, full device: the last flush fails", {}, walk("1000"), {Stdout::DevFull}, "",
             messages(0) + enospc, 1),
        Case("full device", {}, walk(list), {Stdout::DevFull}, "", messages(4096) + enospc, 1),
        Case("closed", {}, walk(list), {Stdout::Closed}, "", messages(8192) + ebadf, 1),
        // Nothing to write, but the close fails.
        Case("closed, empty list", {}, walk(""), {Stdout::Closed}, "", ebadf, 1),
        Case("non-blocking pipe, full", {}, walk(list), {Stdout::FullPipe}, "!",
             messages(4096) + eagain, 1),
        // Nothing of the row follows the hole: one write reaches descriptor 1.
        Case("a row cut by a failed write", app(name, "installed", std::string(4095, 'd')),
             apps(name), traced({"-e", "trace=write"}, Stdout::FullPipe), "!", eagain, 1,
             R"(write\(1, [^\n]*= -1 EAGAIN)", R"(write\(1, [^\n]*= -1 [\s\S]*write\(1,)"),
        // The reader takes one block, then goes: the next write or the one
        // after cannot but fail.
        Case("reader gone, SIGPIPE ignored", a, apps(full_list), {Stdout::FirstLine, true},
             kNone + "\n", write_failed("Broken pipe"), 1),
        Case("reader gone", a, apps(full_list), {Stdout::FirstLine}, kNone + "\n", "",
             128 + SIGPIPE),
    });
}

// Some file systems report a failed write only when the file is closed.
TEST(Output, AFailedCloseIsAFailedWrite)
{
    const Files a = app("a", "installed", "A");
    const std::string row = record(kNone, icon("a"), "a", "(installed) A");
    // A dry run finds which close is that of descriptor 1.
    const DataDir data;
    data.make(a);
    const Outcome dry =
        check_case(Case("closes", {}, apps("a"), traced({"-e", "trace=close"}), row, ""), data);
    const std::size_t at = dry.trace.find("close(1) ");
    ASSERT_NE(at, std::string::npos) << "standard output is never closed:\n" << dry.trace;
    // The trace holds only closes, a line each.
    const auto closes = std::count(dry.trace.begin(), dry.trace.begin() + at, '\n') + 1;
    const std::string inject = "inject=close:error=EIO:when=" + std::to_string(closes);
    check_cases({Case("the close fails", a, apps("a"), traced({"-e", inject}), row,
                      write_failed("Input/output error"), 1)});
}

} // namespace
