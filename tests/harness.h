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

// FirstLine: a pipe whose reader keeps the first line and then closes its
// end, as `applist | head -n 1` does.
enum class Stdout { Capture, DevFull, Closed, FirstLine };

struct RunOptions {
    Stdout out = Stdout::Capture;
    bool as_nobody = false; // drop root, for permission cases
    // Scaled by APPLIST_TEST_TIMEOUT_SCALE, or by 10 under a wrapper.
    int timeout_seconds = 30;
    bool ignore_sigpipe = false; // start the program with SIGPIPE ignored
    bool stdin_closed = false;   // start it with descriptor 0 closed
};

struct Outcome {
    std::string out;
    std::string err;
    int status = -1; // exit status, or -1 when killed by a signal or timed out
    int signal = 0;  // the terminating signal, if any
    bool timed_out = false;
};

// Starts applist with exactly the given environment ("NAME=value" strings),
// and, unless wrapped, with room for few open files, so that a file left open
// fails a case of a few apps. APPLIST_TEST_WRAPPER, when set in the test's own
// environment, is split at spaces and put before the program (for valgrind
// runs). A program that cannot be started at all (exec fails) ends with
// status 127.
Outcome run_applist(const std::vector<std::string> &env, const RunOptions &options = {});

bool running_as_root();

// What the program prints: one row record, and the two per-app messages.
std::string record(const std::string &status_icon, const std::string &app_icon,
                   const std::string &app, const std::string &cell);
std::string no_icon(const std::string &app);
std::string no_description(const std::string &app);
std::string long_status(const std::string &function, const std::string &app);
extern const std::string kDirectoryHasLineEnd;

#endif
