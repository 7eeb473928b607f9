// End-to-end: the real program, started with only the variables a case
// sets, against data directories made for the case. Output, messages and
// exit status are compared exactly.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace
{

Outcome run_apps(const std::string &directory, const std::string &apps,
                 const RunOptions &options = {})
{
    return run_applist({"DIRECTORY=" + directory, "APPS=" + apps}, options);
}

// A run on a list of apps that must end with status 0.
struct ListCase {
    std::string name;
    std::string directory;
    std::string apps;
    std::string out;
    std::string err;
};

void expect_lists(const std::vector<ListCase> &cases)
{
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        expect_run(run_apps(c.directory, c.apps), c.out, c.err, 0);
    }
}

const std::string kAppsUnset = "ERROR: \"APPS\" environment variable isn't set!\n";
const std::string kDirectoryUnset = "ERROR: \"DIRECTORY\" environment variable isn't set!\n";

TEST(Environment, ChecksBothVariablesBeforeAnyOutput)
{
    const std::string odd = "/nonexistent/f\f u\xE2\x80\xA8 p\xE2\x80";
    const struct {
        const char *name;
        std::vector<std::string> env;
        std::string out;
        std::string err;
        int status;
    } cases[] = {
        {"both missing", {}, "", kAppsUnset, 1},
        {"apps missing", {"DIRECTORY=/tmp"}, "", kAppsUnset, 1},
        {"directory missing", {"APPS=a"}, "", kDirectoryUnset, 1},
        {"empty list", {"DIRECTORY=/nonexistent", "APPS="}, "", "", 0},
        {"newlines only", {"DIRECTORY=/nonexistent", "APPS=\n\n\n"}, "", "", 0},
        {"newline in directory", {"DIRECTORY=/srv\n/data", "APPS=a"}, "", kDirectoryHasLineEnd, 1},
        {"carriage return in directory",
         {"DIRECTORY=/srv\r/data", "APPS=a"},
         "",
         kDirectoryHasLineEnd,
         1},
        {"trailing carriage return",
         {"DIRECTORY=/srv/data\r", "APPS=a"},
         "",
         kDirectoryHasLineEnd,
         1},
        {"U+2029 in directory",
         {"DIRECTORY=/srv\xE2\x80\xA9/data", "APPS=a"},
         "",
         kDirectoryHasLineEnd,
         1},
        {"form feed, U+2028 and a partial E2 80 are no line ends",
         {"DIRECTORY=" + odd, "APPS=a"},
         record(odd + "/icons/none.png", "", "a", ""),
         no_icon("a") + no_description("a"),
         0},
        {"directory too long",
         {"DIRECTORY=/" + std::string(284, 'd'), "APPS=a"},
         "",
         "ERROR: \"DIRECTORY\" environment variable is longer than 284 bytes!\n",
         1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        expect_run(run_applist(c.env), c.out, c.err, c.status);
    }
}

// An app for every shape a data directory gives, each run on its own.
TEST(Rows, EachCellFromTheDataDirectory)
{
    DataDir data;
    const std::string d = data.root;
    data.file("icons/installed.png", "png");
    data.file("icons/none.png", "png");
    data.file("icons/.png", "png");
    const std::string s29(29, 's');
    const std::string s30(30, 's');
    data.file("icons/" + s29 + ".png", "png");
    data.file("icons/" + s30 + ".png", "png");

    data.app("full", "installed", "A full app");
    data.app("Text Editor", "installed", "Edits text");
    data.app("no icon", "installed", "Has no icon", false);
    data.file("data/status/no description", "installed\n");
    data.file("apps/no description/icon-24.png", "png");
    data.dir("apps/bare");
    data.file("apps/no status/description", "Never installed\n");
    data.file("apps/no status/icon-24.png", "png");
    data.app("unknown status", "updating", "Status without icon");
    data.app("crlf", "installed\r", "Windows line ends\r");
    data.file("data/status/no newline", "installed");
    data.file("apps/no newline/description", "No newline at end");
    data.file("apps/no newline/icon-24.png", "png");
    data.file("data/status/empty status", "");
    data.file("apps/empty status/description", "Empty status\n");
    data.app("empty description", "installed", "");
    data.app("status 29", s29, "Long status");
    data.app("status 30", s30, "Too long status");
    data.app("cr inside", "installed\rjunk", "mid\rcr desc");
    data.app("classic mac", "installed", "one\rtwo\r");
    data.app("paragraph", "installed", "para\xE2\x80\xA9sep");
    data.app("paragraph first", "installed", "\xE2\x80\xA9sep");
    data.app("status cut early", "installed\r" + std::string(60, 's'), "Status cut at cr");
    data.app("two lines", "installed", "First\nSecond");
    data.app("markup", "installed", "Tom & Jerry <b>bold</b> %s %n");
    data.file("data/status/directory description", "installed\n");
    data.dir("apps/directory description/description");
    data.dir("data/status/directory status");
    data.file("apps/directory status/description", "Status is a directory\n");

    const std::string installed = d + "/icons/installed.png";
    const std::string none = d + "/icons/none.png";
    const auto icon = [&](const std::string &app) { return d + "/apps/" + app + "/icon-24.png"; };
    const struct {
        std::string app;
        std::string out;
        std::string err;
    } cases[] = {
        {"full", record(installed, icon("full"), "full", "(installed) A full app"), ""},
        {"Text Editor",
         record(installed, icon("Text Editor"), "Text Editor", "(installed) Edits text"), ""},
        {"no icon", record(installed, "", "no icon", "(installed) Has no icon"),
         no_icon("no icon")},
        {"no description", record(installed, icon("no description"), "no description", ""),
         no_description("no description")},
        {"bare", record(none, "", "bare", ""), no_icon("bare") + no_description("bare")},
        {"not there", record(none, "", "not there", ""),
         no_icon("not there") + no_description("not there")},
        {"no status", record(none, icon("no status"), "no status", "(uninstalled) Never installed"),
         ""},
        {"unknown status",
         record(none, icon("unknown status"), "unknown status", "(updating) Status without icon"),
         ""},
        {"crlf", record(installed, icon("crlf"), "crlf", "(installed) Windows line ends"), ""},
        {"no newline",
         record(installed, icon("no newline"), "no newline", "(installed) No newline at end"), ""},
        {"empty status", record(d + "/icons/.png", "", "empty status", "() Empty status"),
         no_icon("empty status")},
        {"empty description",
         record(installed, icon("empty description"), "empty description", "(installed) "), ""},
        {"status 29",
         record(d + "/icons/" + s29 + ".png", icon("status 29"), "status 29",
                "(" + s29 + ") Long status"),
         ""},
        {"status 30", record(none, icon("status 30"), "status 30", "(uninstalled) Too long status"),
         long_status("get_app_status_with_none", "status 30") +
             long_status("get_app_status", "status 30")},
        {"cr inside", record(installed, icon("cr inside"), "cr inside", "(installed) mid"), ""},
        {"classic mac", record(installed, icon("classic mac"), "classic mac", "(installed) one"),
         ""},
        {"paragraph", record(installed, icon("paragraph"), "paragraph", "(installed) para"), ""},
        {"paragraph first",
         record(installed, icon("paragraph first"), "paragraph first", "(installed) "), ""},
        {"status cut early",
         record(installed, icon("status cut early"), "status cut early",
                "(installed) Status cut at cr"),
         ""},
        {"two lines", record(installed, icon("two lines"), "two lines", "(installed) First"), ""},
        {"markup",
         record(installed, icon("markup"), "markup", "(installed) Tom & Jerry <b>bold</b> %s %n"),
         ""},
        {"directory description", record(installed, "", "directory description", "(installed) "),
         no_icon("directory description")},
        {"directory status",
         record(d + "/icons/.png", "", "directory status", "() Status is a directory"),
         no_icon("directory status")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.app);
        expect_run(run_apps(d, c.app), c.out, c.err, 0);
    }
}

// A path over its field is never probed; the status path's own edge is
// pinned in the unit tests.
TEST(Rows, PathsOverTheirFieldCountAsAbsent)
{
    DataDir data;
    const std::string none = data.root + "/icons/none.png";

    // A directory text of 284 bytes, given with its trailing "/", leaves no
    // room for icons/installed.png, only for the fallback.
    const std::size_t left = 283 - data.root.size();
    const std::string deep =
        data.root + "/" + std::string(left / 2, 'd') + "/" + std::string(left - left / 2 - 1, 'e');
    ASSERT_EQ(deep.size(), 284U);
    data.file(deep.substr(data.root.size() + 1) + "/icons/installed.png", "png");
    data.file(deep.substr(data.root.size() + 1) + "/data/status/a", "installed\n");

    const std::string huge(5000, 'h');
    expect_lists({
        {"status icon path over 299 bytes", deep + "/", "a",
         record(deep + "/icons/none.png", "", "a", ""), no_icon("a") + no_description("a")},
        {"a name of 5000 bytes", data.root, huge, record(none, "", huge, ""),
         no_icon(huge) + no_description(huge)},
    });
}

TEST(List, WalksNamesInOrder)
{
    DataDir data;
    data.app("a", "installed", "A");
    data.app("b", "installed", "B");
    data.file("data/status/a\r", "installed\n");
    data.file("data/status/empty", "");
    data.file("apps/empty/description", "");
    const std::string none = data.root + "/icons/none.png";
    const std::string a = record(none, data.path("apps/a/icon-24.png"), "a", "(installed) A");
    const std::string b = record(none, data.path("apps/b/icon-24.png"), "b", "(installed) B");
    const std::string a_cr = record(none, "", "a\r", "");
    const std::string d = data.root;
    expect_lists({
        {"empty line and final newline", d, "a\n\nb\n", a + b, ""},
        {"leading newlines", d, "\n\nb", b, ""},
        {"same name twice", d, "a\na", a + a, ""},
        {"crlf list keeps the carriage return", d, "a\r\nb", a_cr + b,
         no_icon("a\r") + no_description("a\r")},
        {"no cell carries over to the next row", d, "a\nempty\nx",
         a + record(none, "", "empty", "() ") + record(none, "", "x", ""),
         no_icon("empty") + no_icon("x") + no_description("x")},
    });
}

TEST(List, DirectoryLosesOneTrailingSlash)
{
    DataDir data;
    data.app("a", "installed", "A");
    const std::string d = data.root;
    const std::string a =
        record(d + "/icons/none.png", d + "/apps/a/icon-24.png", "a", "(installed) A");
    const std::string root_row = record("/icons/none.png", "", "no-such-app-here", "");
    const std::string root_err = no_icon("no-such-app-here") + no_description("no-such-app-here");
    expect_lists({
        {"no slash", d, "a", a, ""},
        {"one slash goes", d + "/", "a", a, ""},
        {"of two, one stays", d + "//", "a",
         record(d + "//icons/none.png", d + "//apps/a/icon-24.png", "a", "(installed) A"), ""},
        {"the root", "/", "no-such-app-here", root_row, root_err},
        {"the empty text", "", "no-such-app-here", root_row, root_err},
    });
}

TEST(List, MissingDirectoryStillGivesEveryRow)
{
    const std::string d = "/nonexistent/applist";
    const Outcome run = run_apps(d, "x\ny");
    expect_run(run,
               record(d + "/icons/none.png", "", "x", "") +
                   record(d + "/icons/none.png", "", "y", ""),
               no_icon("x") + no_description("x") + no_icon("y") + no_description("y"), 0);
}

// The first failed write stops the walk: the rows after it could reach no
// one, and their messages would be about rows that were lost. stdio holds
// standard output in a block (4096 bytes, or 8192 when descriptor 1 is
// closed and it cannot ask), so the first write, and its failure, comes in
// the row that takes the output past the block, and no later row is looked
// up. After the message nothing more is written.
TEST(Output, AFailedWriteStopsTheWalk)
{
    DataDir data;
    const std::string none = data.root + "/icons/none.png";
    std::string apps;
    std::string all_messages;
    std::vector<std::size_t> ends;         // where each record ends in the output
    std::vector<std::size_t> message_ends; // where each row's messages end
    for (int i = 0; i < 3000; ++i) {
        const std::string app = "app" + std::to_string(i);
        apps += app + "\n";
        ends.push_back((ends.empty() ? 0 : ends.back()) + record(none, "", app, "").size());
        all_messages += no_icon(app) + no_description(app);
        message_ends.push_back(all_messages.size());
    }
    // The messages of the rows looked up when the first write of `block`
    // bytes fails: those of the rows that end within the block, and the next.
    const auto messages = [&](std::size_t block) {
        const auto row = std::upper_bound(ends.begin(), ends.end(), block) - ends.begin();
        return all_messages.substr(0, message_ends[static_cast<std::size_t>(row)]);
    };
    const auto failed = [](const std::string &reason) {
        return "ERROR: main(): can't write standard output: " + reason + "\n";
    };
    const std::string enospc = failed("No space left on device");
    const struct {
        const char *name;
        std::string apps;
        RunOptions options;
        std::string out;
        std::string err;
    } cases[] = {
        {"one row, full device: the last flush fails", "app0", stdout_to(Stdout::DevFull), "",
         all_messages.substr(0, message_ends[0]) + enospc},
        {"full device", apps, stdout_to(Stdout::DevFull), "", messages(4096) + enospc},
        {"closed", apps, stdout_to(Stdout::Closed), "",
         messages(8192) + failed("Bad file descriptor")},
        {"non-blocking pipe, full", apps, stdout_to(Stdout::FullPipe), "!",
         messages(4096) + failed("Resource temporarily unavailable")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        expect_run(run_apps(data.root, c.apps, c.options), c.out, c.err, 1);
    }

    // The reader takes one block, then goes: a second block may still fit
    // the pipe, a third write cannot but fail.
    const Outcome run = run_apps(data.root, apps, sigpipe_ignored(Stdout::FirstLine));
    const std::string epipe = failed("Broken pipe");
    EXPECT_EQ(run.status, 1);
    ASSERT_GE(run.err.size(), epipe.size());
    const std::string before = run.err.substr(0, run.err.size() - epipe.size());
    EXPECT_EQ(run.err.substr(before.size()), epipe);
    EXPECT_LE(before.size(), messages(3 * 4096).size());
    EXPECT_EQ(all_messages.compare(0, before.size(), before), 0) << "the first rows' messages";
}

TEST(Output, ManyRowsInOrder)
{
    DataDir data;
    std::string apps;
    std::string expected;
    const std::string none = data.root + "/icons/none.png";
    for (int i = 0; i < 3000; ++i) {
        const std::string app = "app" + std::to_string(i);
        apps += app + "\n";
        expected += record(none, "", app, "");
    }
    data.dir("apps");
    const Outcome run = run_apps(data.root, apps);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, expected);
}

} // namespace
