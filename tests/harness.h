// Fixture directories and a runner for the real binary, shared by the tests.
#ifndef APPLIST_TESTS_HARNESS_H
#define APPLIST_TESTS_HARNESS_H

#include <string>
#include <vector>

// A data directory in a fresh temporary folder, removed when it goes out of
// scope. Paths handed to its functions are relative to root.
struct DataDir {
    DataDir();
    ~DataDir();
    DataDir(const DataDir &) = delete;
    DataDir &operator=(const DataDir &) = delete;

    void file(const std::string &path, const std::string &content, unsigned mode = 0644) const;
    void dir(const std::string &path) const;
    void fifo(const std::string &path) const;
    void symlink(const std::string &path, const std::string &target) const;
    std::string path(const std::string &relative) const;

    // A complete app: status file, icon and description.
    void app(const std::string &name, const std::string &status, const std::string &description,
             bool icon = true) const;

    std::string root;
};

// Where the program's standard output goes:
//   Capture    a file, read once the program has ended
//   DevFull    /dev/full, where every write fails
//   Closed     nowhere: descriptor 1 is closed
//   FirstLine  a pipe whose reader keeps the first line and closes its end,
//              as `applist | head -n 1` does
//   Pipe       a pipe read only once the program has ended (it holds 64 KiB)
//   FullPipe   a non-blocking pipe of one page that already holds one byte,
//              so the program's first block fails with EAGAIN; read once the
//              program has ended, the byte included
enum class Stdout { Capture, DevFull, Closed, FirstLine, Pipe, FullPipe };

struct RunOptions {
    Stdout out = Stdout::Capture;
    bool as_nobody = false;      // drop root, for permission cases
    bool ignore_sigpipe = false; // start the program with SIGPIPE ignored
    bool stdin_closed = false;   // start it with descriptor 0 closed
};

// Options set by name, for the tables of cases.
RunOptions stdout_to(Stdout out);
RunOptions sigpipe_ignored(Stdout out);
RunOptions as_nobody_if_root();
RunOptions stdin_closed();

struct Outcome {
    std::string out;
    std::string err;
    // The exit status, 128 + the signal's number when a signal ended the
    // program, as a shell reports it, or -1 when it ran past the deadline.
    int status = -1;
};

// Starts applist with exactly the given environment ("NAME=value" strings),
// and, unless wrapped, with room for few open files, so that a file left open
// fails a case of a few apps. APPLIST_TEST_WRAPPER, when set in the test's own
// environment, is split at spaces and put before the program (for valgrind
// runs). A program still running after 30 s (times APPLIST_TEST_TIMEOUT_SCALE,
// or 10 under a wrapper) is killed: this deadline is the suite's one timeout.
// A program that cannot be started at all (exec fails) ends with status 127.
Outcome run_applist(const std::vector<std::string> &env, const RunOptions &options = {});

// The one way to check a run: exactly this output, these messages and this
// status.
void expect_run(const Outcome &run, const std::string &out, const std::string &err, int status);

bool running_as_root();

// What the program prints: one row record, and the two per-app messages.
std::string record(const std::string &status_icon, const std::string &app_icon,
                   const std::string &app, const std::string &cell);
std::string no_icon(const std::string &app);
std::string no_description(const std::string &app);
std::string long_status(const std::string &function, const std::string &app);
extern const std::string kDirectoryHasLineEnd;

#endif
