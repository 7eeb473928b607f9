// Data directories, each suite's one row shape and runner, and the program's texts.
#ifndef APPLIST_TESTS_HARNESS_H
#define APPLIST_TESTS_HARNESS_H

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

enum class Kind { File, Dir, Fifo, Symlink, Socket };

// One thing to make under a data root: a file's bytes or a link's target.
struct Entry {
    std::string path, content;
    Kind kind = Kind::File;
    unsigned mode = 0644;
    long long atime = 0; // seconds since the epoch; 0 leaves it at now
};
using Files = std::vector<Entry>;
Files operator+(Files first, const Files &more);

// A complete app: status file, description and, unless told not, an icon.
Files app(const std::string &name, const std::string &status_line, const std::string &description,
          bool icon = true);

struct DataDir { // a fresh temporary folder, removed when it goes out of scope
    DataDir();
    ~DataDir();
    void make(const Files &entries) const;

    std::string root;
};

// One in-process case: the files to make, the call that fills a field of
// `size` bytes, and the text and messages ("$D": the data root) it leaves.
using Fill = std::function<void(const std::string &root, char *field, std::size_t size)>;
struct Row {
    std::string name;
    Files files;
    Fill fill;
    std::string out, err;
    std::size_t size = 4096;
};

// Standard output: a file, /dev/full, a pipe read once the program has ended
// (it holds 64 KiB), or a pipe whose reader has gone, as `head` goes.
enum class Stdout { Capture, DevFull, Pipe, NoReader };

// A process forked with the data root: asleep in its body all through the
// run, it is killed after it.
using Helper = std::function<void(const std::string &root)>;

// One end-to-end case: the files to make, the program's whole environment,
// how to run it, and what it must print and return. "$D" in the
// environment, the texts and the trace patterns stands for the data root.
struct Case {
    template <typename... Options>
    explicit Case(std::string name_, const Options &...options) : name(std::move(name_))
    {
        (options(*this), ...);
    }

    std::string name;
    Files files;
    std::vector<std::string> env;
    std::string out, err;
    int status = 0; // 128 + the signal's number when one ends it, as a shell says
    Stdout stdout_to = Stdout::Capture;
    // As nobody, through `setpriv --reuid=nobody --regid=nogroup` and these
    // arguments of its; skipped where setpriv fails, as without root.
    std::vector<std::string> as_nobody;
    bool stdin_closed = false;
    // Arguments of `strace -qq -o TRACE`, which takes APPLIST_TEST_WRAPPER's place.
    std::vector<std::string> strace;
    // ECMAScript patterns that the trace must and must not match.
    std::string trace_has, trace_lacks;
    // {CALL, PATTERN, ERROR}: the first call named as CALL, an ECMAScript
    // pattern, whose line in a dry run's `strace -y` matches PATTERN fails
    // with ERROR, an errno name; with a fourth element "+", every later one too.
    std::vector<std::string> fail_call;
    // Each system call, by name, this many more times than in the same run
    // with APPS empty; no other call but the allocator's more or fewer.
    std::map<std::string, long> calls_over_empty_list;
    std::vector<Helper> helpers;
};

// A row's named values, as in Case("x", out("..."), status(1)), set fields.
template <typename T, T Case::*field> struct Named {
    explicit Named(T value_) : value(std::move(value_))
    {
    }
    void operator()(Case &c) const
    {
        c.*field = value;
    }
    T value;
};
using files = Named<Files, &Case::files>;
using env = Named<std::vector<std::string>, &Case::env>;
using out = Named<std::string, &Case::out>;
using err = Named<std::string, &Case::err>;
using status = Named<int, &Case::status>;
using stdout_to = Named<Stdout, &Case::stdout_to>;
using as_nobody = Named<std::vector<std::string>, &Case::as_nobody>;
using stdin_closed = Named<bool, &Case::stdin_closed>;
using strace = Named<std::vector<std::string>, &Case::strace>;
using trace_has = Named<std::string, &Case::trace_has>;
using trace_lacks = Named<std::string, &Case::trace_lacks>;
using fail_call = Named<std::vector<std::string>, &Case::fail_call>;
using calls_over_empty_list = Named<std::map<std::string, long>, &Case::calls_over_empty_list>;
using helpers = Named<std::vector<Helper>, &Case::helpers>;
// The usual environment: DIRECTORY is the data root, APPS the list.
inline env apps(const std::string &list)
{
    return env({"DIRECTORY=$D", "APPS=" + list});
}

// Each case or row a test named after it, for ctest -R and --gtest_filter,
// in a data directory of its own. A row's field holds "kept" first and is
// followed by bytes that a write past it would change. A case's program runs
// wrapped in APPLIST_TEST_WRAPPER (split at spaces: valgrind) when it is set.
using E2e = testing::TestWithParam<Case>;
using Unit = testing::TestWithParam<Row>;
inline void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}
inline void PrintTo(const Row &row, std::ostream *os)
{
    *os << row.name;
}
#define TABLE(kind, table, cases)                                                                  \
    INSTANTIATE_TEST_SUITE_P(table, kind, testing::ValuesIn(cases), [](const auto &param) {        \
        return std::regex_replace(param.param.name, std::regex("[^A-Za-z0-9]+"), "_");             \
    })

// What the program prints: one row record, its paths and its messages.
inline std::string record(const std::string &status_icon, const std::string &app_icon,
                          const std::string &app, const std::string &cell)
{
    return status_icon + "\n" + app_icon + "\n" + app + "\n" + app + "\n" + cell + "\n";
}
inline const std::string kNone = "$D/icons/none.png";
inline const std::string kInstalled = "$D/icons/installed.png";
inline std::string icon(const std::string &app)
{
    return "$D/apps/" + app + "/icon-24.png";
}
inline std::string no_icon(const std::string &app)
{
    return "ERROR: get_app_icon(): app \"" + app + "\" doesn't have a icon-24!\n";
}
inline std::string no_description(const std::string &app)
{
    return "ERROR: get_app_status_and_desc(): app \"" + app + "\" doesn't have a description!\n";
}
inline std::string write_failed(const std::string &reason)
{
    return "ERROR: main(): can't write standard output: " + reason + "\n";
}
inline std::string read_failed(const std::string &reason)
{
    return "getLine(): fopen(): " + reason + "\n";
}

// An app name of exactly length bytes that nests folders, so that a path
// can grow past any field while each component stays short.
inline std::string nested_name(std::size_t length)
{
    std::string name;
    while (name.size() < length)
        name += (name.size() % 200 == 199 && name.size() + 1 < length) ? '/' : 'n';
    return name;
}

#endif
