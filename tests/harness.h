// Data directories, a runner for the real program and the one shape of an
// end-to-end case, shared by the tests.
#ifndef APPLIST_TESTS_HARNESS_H
#define APPLIST_TESTS_HARNESS_H

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

RunOptions as_nobody_if_root();
RunOptions stdin_closed();
RunOptions traced(std::vector<std::string> strace, Stdout out = Stdout::Capture);

struct Outcome {
    std::string out;
    std::string err;
    std::string trace;
    // The exit status, 128 + the signal's number when a signal ended the
    // program, as a shell reports it, or -1 when it ran past the deadline.
    int status = -1;
};

// Starts applist with exactly the given environment ("NAME=value"), and,
// unless APPLIST_TEST_WRAPPER (split at spaces, e.g. valgrind) wraps it, with
// room for few open files, so that a file left open per app fails a case of
// a few apps. A program still running after 30 s (300 s wrapped) is killed.
// What cannot be started at all ends with status 127 and says so on stderr.
Outcome run_applist(const std::vector<std::string> &env, const RunOptions &options = {});

// One end-to-end case. "$D" in the environment, the expected texts and the
// trace patterns stands for the data root the files are made in.
struct Case {
    std::string name;
    Files files;
    std::vector<std::string> env;
    RunOptions options;
    std::string out;
    std::string err;
    int status = 0;
    std::string trace_has;   // a pattern (ECMAScript) the trace must match
    std::string trace_lacks; // and one it must not
};

// Runs the case in data, its files already made, and checks the outcome.
Outcome check_case(const Case &c, const DataDir &data);
// Each case in a data directory of its own, its files made first.
void check_cases(const std::vector<Case> &cases);

// The usual environment: DIRECTORY is the data root, APPS the list.
std::vector<std::string> apps(const std::string &list);

// What the program prints: one row record, and its messages.
std::string record(const std::string &status_icon, const std::string &app_icon,
                   const std::string &app, const std::string &cell);
std::string no_icon(const std::string &app);
std::string no_description(const std::string &app);
std::string long_status(const std::string &function, const std::string &app);
// An app name of exactly length bytes that nests folders, so that a path
// can grow past any field while each component stays short.
std::string nested_name(std::size_t length);
std::string write_failed(const std::string &reason);

#endif
