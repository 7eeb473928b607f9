// Data directories, the one shape of an end-to-end case and its runner, and
// the texts the program prints, shared by the tests.
#ifndef APPLIST_TESTS_HARNESS_H
#define APPLIST_TESTS_HARNESS_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

enum class Kind { File, Dir, Fifo, Symlink, Socket };

// One thing to make under a data root: a file's bytes or a link's target.
struct Entry {
    std::string path;
    std::string content;
    Kind kind = Kind::File;
    unsigned mode = 0644;
};
using Files = std::vector<Entry>;
Files operator+(Files files, const Files &more);

// A complete app: status file, description and, unless told not, an icon.
Files app(const std::string &name, const std::string &status, const std::string &description,
          bool icon = true);

// A fresh temporary folder, removed when it goes out of scope.
struct DataDir {
    DataDir();
    ~DataDir();
    DataDir(const DataDir &) = delete;
    DataDir &operator=(const DataDir &) = delete;

    void make(const Files &files) const;
    std::string path(const std::string &relative) const;

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
// Each row in a data directory of its own, its field holding "kept" first
// and followed by bytes that a write past it would change.
void check_rows(const std::vector<Row> &rows);

// Where the program's standard output goes:
//   Capture    a file, read once the program has ended
//   DevFull    /dev/full, where every write fails
//   Closed     nowhere: descriptor 1 is closed
//   FirstLine  a pipe whose reader keeps the first line and closes its end,
//              as `applist | head -n 1` does
//   Pipe       a pipe read only once the program has ended (it holds 64 KiB)
//   FullPipe   a non-blocking pipe of one page that already holds the byte
//              "!", so a write of a whole block fails with EAGAIN
enum class Stdout { Capture, DevFull, Closed, FirstLine, Pipe, FullPipe };

struct RunOptions {
    Stdout out = Stdout::Capture;
    bool ignore_sigpipe = false; // start the program with SIGPIPE ignored
    // When set, the program runs under `strace -qq -o TRACE <strace>`, and
    // APPLIST_TEST_WRAPPER is ignored: these cases are about system calls.
    std::vector<std::string> strace;
    bool as_nobody = false;    // drop root, for permission cases
    bool stdin_closed = false; // start it with descriptor 0 closed
};

RunOptions traced(std::vector<std::string> strace, Stdout out = Stdout::Capture);

// One end-to-end case: the files to make, the whole environment of the
// program, how to run it, and what it must print and return. "$D" in the
// environment, the expected texts and the trace patterns (ECMAScript, that
// the trace must and must not match) stands for the data root.
struct Case {
    Case(std::string name, Files files, std::vector<std::string> env, RunOptions options,
         std::string out, std::string err, int status = 0, std::string trace_has = "",
         std::string trace_lacks = "");

    std::string name;
    Files files;
    std::vector<std::string> env;
    RunOptions options;
    std::string out;
    std::string err;
    int status;
    std::string trace_has;
    std::string trace_lacks;
};

struct Outcome {
    std::string out;
    std::string err;
    std::string trace;
    // 128 + the signal's number when a signal ended the program, as a shell
    // reports it, or -1 when it ran past the deadline.
    int status = -1;
};

// Runs the case in data, its files already made, and checks the outcome.
// Unless APPLIST_TEST_WRAPPER (split at spaces, e.g. valgrind) wraps it, the
// program has room for few open files, so that a file left open per app
// fails a case of a few apps. Still running after 30 s (300 s wrapped), it
// is killed. What cannot be started at all says so on standard error.
Outcome check_case(const Case &c, const DataDir &data);
// Each case in a data directory of its own, its files made first.
void check_cases(const std::vector<Case> &cases);

// The usual environment: DIRECTORY is the data root, APPS the list.
inline std::vector<std::string> apps(const std::string &list)
{
    return {"DIRECTORY=$D", "APPS=" + list};
}

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
inline std::string long_status(const std::string &function, const std::string &app)
{
    return "ERROR: " + function + "(): app \"" + app + "\" has a status longer than 29 bytes!\n";
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
