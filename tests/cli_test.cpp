// End-to-end: the real program, started with only the variables a case
// sets, against the files the case makes. Output, messages and exit status
// are compared exactly.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sstream>
#include <string>
#include <vector>

namespace
{

const std::string kNone = "$D/icons/none.png";
const std::string kInstalled = "$D/icons/installed.png";
const Files kInstalledIcon = {{"icons/installed.png", "png"}};

std::string icon(const std::string &app)
{
    return "$D/apps/" + app + "/icon-24.png";
}

TEST(Environment, ChecksBothVariablesBeforeAnyOutput)
{
    const std::string apps_unset = "ERROR: \"APPS\" environment variable isn't set!\n";
    const std::string directory_unset = "ERROR: \"DIRECTORY\" environment variable isn't set!\n";
    const std::string line_end = "ERROR: \"DIRECTORY\" environment variable contains a line end "
                                 "(newline, carriage return or U+2029)!\n";
    const std::string odd = "/nonexistent/f\f u\xE2\x80\xA8 p\xE2\x80";
    const Files a = app("a", "installed", "A");
    const std::string a_row = record(kNone, icon("a"), "a", "(installed) A");
    const std::string root_err = no_icon("x") + no_description("x");
    check_cases({
        {"both missing", {}, {}, {}, "", apps_unset, 1},
        {"apps missing", {}, {"DIRECTORY=/tmp"}, {}, "", apps_unset, 1},
        {"directory missing", {}, {"APPS=a"}, {}, "", directory_unset, 1},
        {"empty list", {}, {"DIRECTORY=/nonexistent", "APPS="}, {}, "", ""},
        {"newlines only", {}, {"DIRECTORY=/nonexistent", "APPS=\n\n\n"}, {}, "", ""},
        {"newline in directory", {}, {"DIRECTORY=/srv\n/data", "APPS=a"}, {}, "", line_end, 1},
        {"carriage return in directory", {}, {"DIRECTORY=/srv\r/data", "APPS=a"}, {}, "",
         line_end, 1},
        {"trailing carriage return", {}, {"DIRECTORY=/srv/data\r", "APPS=a"}, {}, "", line_end, 1},
        {"U+2029 in directory", {}, {"DIRECTORY=/srv\xE2\x80\xA9/data", "APPS=a"}, {}, "",
         line_end, 1},
        {"form feed, U+2028 and a partial E2 80 are no line ends", {}, {"DIRECTORY=" + odd, "APPS=a"},
         {}, record(odd + "/icons/none.png", "", "a", ""), no_icon("a") + no_description("a")},
        {"directory too long", {}, {"DIRECTORY=/" + std::string(284, 'd'), "APPS=a"}, {}, "",
         "ERROR: \"DIRECTORY\" environment variable is longer than 284 bytes!\n", 1},
        {"missing directory still gives every row", {}, {"DIRECTORY=/nonexistent/d", "APPS=x\ny"},
         {}, record("/nonexistent/d/icons/none.png", "", "x", "") +
                 record("/nonexistent/d/icons/none.png", "", "y", ""),
         root_err + no_icon("y") + no_description("y")},
        // The directory text loses one trailing slash.
        {"one slash goes", a, {"DIRECTORY=$D/", "APPS=a"}, {}, a_row, ""},
        {"of two, one stays", a, {"DIRECTORY=$D//", "APPS=a"}, {},
         record("$D//icons/none.png", "$D//apps/a/icon-24.png", "a", "(installed) A"), ""},
        {"the root", {}, {"DIRECTORY=/", "APPS=x"}, {}, record("/icons/none.png", "", "x", ""),
         root_err},
        {"the empty text", {}, {"DIRECTORY=", "APPS=x"}, {}, record("/icons/none.png", "", "x", ""),
         root_err},
    });
}

TEST(Rows, EachCellFromTheDataDirectory)
{
    const std::string s29(29, 's');
    const std::string s30(30, 's');
    check_cases({
        {"full", kInstalledIcon + app("full", "installed", "A full app"), apps("full"), {},
         record(kInstalled, icon("full"), "full", "(installed) A full app"), ""},
        {"name with a space", kInstalledIcon + app("Text Editor", "installed", "Edits text"),
         apps("Text Editor"), {},
         record(kInstalled, icon("Text Editor"), "Text Editor", "(installed) Edits text"), ""},
        {"no icon", kInstalledIcon + app("a", "installed", "Has no icon", false), apps("a"), {},
         record(kInstalled, "", "a", "(installed) Has no icon"), no_icon("a")},
        {"no description",
         kInstalledIcon + Files{{"data/status/a", "installed\n"}, {"apps/a/icon-24.png", "png"}},
         apps("a"), {}, record(kInstalled, icon("a"), "a", ""), no_description("a")},
        {"bare", {{"apps/a", "", Kind::Dir}}, apps("a"), {}, record(kNone, "", "a", ""),
         no_icon("a") + no_description("a")},
        {"no status", {{"apps/a/description", "Never installed\n"}, {"apps/a/icon-24.png", "png"}},
         apps("a"), {}, record(kNone, icon("a"), "a", "(uninstalled) Never installed"), ""},
        {"status without an icon", app("a", "updating", "Status without icon"), apps("a"), {},
         record(kNone, icon("a"), "a", "(updating) Status without icon"), ""},
        {"crlf", kInstalledIcon + app("a", "installed\r", "Windows line ends\r"), apps("a"), {},
         record(kInstalled, icon("a"), "a", "(installed) Windows line ends"), ""},
        {"paragraph separator", kInstalledIcon + app("a", "installed", "para\xE2\x80\xA9sep"),
         apps("a"), {}, record(kInstalled, icon("a"), "a", "(installed) para"), ""},
        {"no newline",
         kInstalledIcon + Files{{"data/status/a", "installed"},
                                {"apps/a/description", "No newline at end"},
                                {"apps/a/icon-24.png", "png"}},
         apps("a"), {}, record(kInstalled, icon("a"), "a", "(installed) No newline at end"), ""},
        {"empty status",
         {{"icons/.png", "png"}, {"data/status/a", ""}, {"apps/a/description", "Empty status\n"}},
         apps("a"), {}, record("$D/icons/.png", "", "a", "() Empty status"), no_icon("a")},
        {"empty description", kInstalledIcon + app("a", "installed", ""), apps("a"), {},
         record(kInstalled, icon("a"), "a", "(installed) "), ""},
        {"status of 29 bytes", Files{{"icons/" + s29 + ".png", "png"}} + app("a", s29, "Long"),
         apps("a"), {}, record("$D/icons/" + s29 + ".png", icon("a"), "a", "(" + s29 + ") Long"),
         ""},
        {"status of 30 bytes", Files{{"icons/" + s30 + ".png", "png"}} + app("a", s30, "Longer"),
         apps("a"), {}, record(kNone, icon("a"), "a", "(uninstalled) Longer"),
         long_status("get_app_status_with_none", "a") + long_status("get_app_status", "a")},
        {"status cut at its line end before its length counts",
         kInstalledIcon + app("a", "installed\r" + std::string(60, 's'), "Cut"), apps("a"), {},
         record(kInstalled, icon("a"), "a", "(installed) Cut"), ""},
        {"markup and formats printed verbatim",
         kInstalledIcon + app("a", "installed", "Tom & Jerry <b>bold</b> %s %n"), apps("a"), {},
         record(kInstalled, icon("a"), "a", "(installed) Tom & Jerry <b>bold</b> %s %n"), ""},
        // Present, and read as empty.
        {"directories for files",
         {{"data/status/a", "", Kind::Dir},
          {"apps/a/description", "", Kind::Dir},
          {"apps/a/icon-24.png", "", Kind::Dir}},
         apps("a"), {}, record(kNone, icon("a"), "a", "() "), ""},
    });
}

// A directory text of 284 bytes, given with its trailing "/", leaves no room
// in the status icon's 299 bytes for icons/installed.png, only for the
// fallback; the other paths' edges are pinned in the unit tests.
TEST(Rows, StatusIconPathOverItsFieldCountsAsAbsent)
{
    const DataDir data;
    const std::string deep = nested_name(283 - data.root.size());
    const Case c = {"status icon path over 299 bytes",
                    {{deep + "/icons/installed.png", "png"}, {deep + "/data/status/a", "installed\n"}},
                    {"DIRECTORY=$D/" + deep + "/", "APPS=a"}, {},
                    record("$D/" + deep + "/icons/none.png", "", "a", ""),
                    no_icon("a") + no_description("a")};
    ASSERT_EQ(data.root.size() + 1 + deep.size(), 284U);
    data.make(c.files);
    check_case(c, data);
}

TEST(List, WalksNamesInOrder)
{
    const Files ab = kInstalledIcon + app("a", "installed", "A") + app("b", "installed", "B");
    const std::string a = record(kInstalled, icon("a"), "a", "(installed) A");
    const std::string b = record(kInstalled, icon("b"), "b", "(installed) B");
    check_cases({
        {"empty line and final newline", ab, apps("a\n\nb\n"), {}, a + b, ""},
        {"leading newlines", ab, apps("\n\nb"), {}, b, ""},
        {"same name twice", ab, apps("a\na"), {}, a + a, ""},
        {"crlf list keeps the carriage return", ab + Files{{"data/status/a\r", "installed\n"}},
         apps("a\r\nb"), {}, record(kInstalled, "", "a\r", "") + b,
         no_icon("a\r") + no_description("a\r")},
        {"no cell carries over to the next row",
         ab + Files{{"data/status/empty", ""}, {"apps/empty/description", ""}}, apps("a\nempty\nx"),
         {}, a + record(kNone, "", "empty", "() ") + record(kNone, "", "x", ""),
         no_icon("empty") + no_icon("x") + no_description("x")},
    });
}

// stdio holds standard output in a block (4096 bytes, or 8192 when
// descriptor 1 is closed and it cannot ask), so the first write, and its
// failure, comes in the row that takes the output past the block. That row
// is the last one looked up, and nothing is written after the message.
TEST(Output, AFailedWriteStopsTheWalk)
{
    // No data directory, so the rows' lengths are known here.
    const std::string none = "/nonexistent/icons/none.png";
    std::string list;
    std::string all_messages;
    std::vector<std::size_t> ends;         // where each record ends in the output
    std::vector<std::size_t> message_ends; // where each row's messages end
    for (int i = 0; i < 3000; ++i) {
        const std::string app = "app" + std::to_string(i);
        list += app + "\n";
        ends.push_back((ends.empty() ? 0 : ends.back()) + record(none, "", app, "").size());
        all_messages += no_icon(app) + no_description(app);
        message_ends.push_back(all_messages.size());
    }
    // The messages of the rows that end within the first block, and the next.
    const auto walk = [](const std::string &names) {
        return std::vector<std::string>{"DIRECTORY=/nonexistent", "APPS=" + names};
    };
    const auto messages = [&](std::size_t block) {
        const auto row = std::upper_bound(ends.begin(), ends.end(), block) - ends.begin();
        return all_messages.substr(0, message_ends[static_cast<std::size_t>(row)]);
    };
    // A row longer than a block: a long nested name, twice, and a long text.
    const std::string name = nested_name(3000);
    const std::string enospc = write_failed("No space left on device");
    const std::string eagain = write_failed("Resource temporarily unavailable");
    const Files full = app("full", "installed", "Complete");
    std::string full_list;
    for (int i = 0; i < 3000; ++i)
        full_list += "full\n";
    check_cases({
        {"one row, full device: the last flush fails", {}, walk("app0"), {Stdout::DevFull},
         "", messages(0) + enospc, 1},
        {"full device", {}, walk(list), {Stdout::DevFull}, "", messages(4096) + enospc,
         1},
        {"closed", {}, walk(list), {Stdout::Closed}, "",
         messages(8192) + write_failed("Bad file descriptor"), 1},
        // Nothing to write, but the close fails.
        {"closed, empty list", {}, walk(""), {Stdout::Closed}, "",
         write_failed("Bad file descriptor"), 1},
        {"non-blocking pipe, full", {}, walk(list), {Stdout::FullPipe}, "!",
         messages(4096) + eagain, 1},
        // Nothing of the row follows the hole: one write reaches descriptor 1.
        {"a row cut by a failed write", app(name, "installed", std::string(4095, 'd')),
         apps(name), traced({"-e", "trace=write"}, Stdout::FullPipe), "!", eagain, 1,
         R"(write\(1, [^\n]*= -1 EAGAIN)", R"(write\(1, [^\n]*= -1 [\s\S]*write\(1,)"},
        // The reader takes one block, then goes: the next write or the one
        // after cannot but fail.
        {"reader gone, SIGPIPE ignored", full, apps(full_list),
         {Stdout::FirstLine, true}, kNone + "\n", write_failed("Broken pipe"), 1},
        {"reader gone", full, apps(full_list), {Stdout::FirstLine}, kNone + "\n", "",
         128 + SIGPIPE},
    });
}

// Some file systems report a failed write only when the file is closed.
TEST(Output, AFailedCloseIsAFailedWrite)
{
    const Files full = app("full", "installed", "Complete");
    const std::string row = record(kNone, icon("full"), "full", "(installed) Complete");
    // A dry run finds which close is that of descriptor 1.
    const DataDir data;
    data.make(full);
    const Outcome dry =
        check_case({"closes traced", {}, apps("full"), traced({"-e", "trace=close"}), row, ""}, data);
    std::istringstream lines(dry.trace);
    int closes = 0;
    bool found = false;
    for (std::string line; !found && std::getline(lines, line);)
        if (line.rfind("close(", 0) == 0) {
            ++closes;
            found = line.rfind("close(1)", 0) == 0;
        }
    ASSERT_TRUE(found) << "standard output is never closed:\n" << dry.trace;
    check_cases({{"the close fails", full, apps("full"),
                  traced({"-e", "inject=close:error=EIO:when=" + std::to_string(closes)}), row,
                  write_failed("Input/output error"), 1}});
}

} // namespace
