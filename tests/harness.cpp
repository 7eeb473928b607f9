#include "harness.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace
{

void check(bool ok, const std::string &what)
{
    if (!ok)
        throw std::runtime_error(what + ": " + std::strerror(errno));
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> wrapper_words()
{
    std::vector<std::string> words;
    const char *wrapper = std::getenv("APPLIST_TEST_WRAPPER");
    std::istringstream in(wrapper != nullptr ? wrapper : "");
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

std::vector<char *> pointers(std::vector<std::string> &texts)
{
    std::vector<char *> result;
    for (auto &text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

using Clock = std::chrono::steady_clock;

// The program's limit on open files: its three standard streams and a few
// more, so that a leak of one file per app uses them up within a few apps.
// A wrapper such as valgrind keeps files of its own under the limit, so a
// wrapped program keeps the test's.
constexpr rlim_t kChildFiles = 16;

int timeout_scale()
{
    const char *scale = std::getenv("APPLIST_TEST_TIMEOUT_SCALE");
    if (scale != nullptr && std::atoi(scale) > 0)
        return std::atoi(scale);
    // A wrapper such as valgrind slows the program many times over.
    return wrapper_words().empty() ? 1 : 10;
}

// Reads until the first newline, the end of the stream or the deadline, and
// returns what came up to that newline.
std::string read_first_line(int fd, Clock::time_point deadline)
{
    std::string text;
    char chunk[4096];
    while (text.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd ready = {fd, POLLIN, 0};
        if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0)
            break;
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    const std::size_t newline = text.find('\n');
    return newline == std::string::npos ? text : text.substr(0, newline + 1);
}

// Runs in the forked child; only calls that are safe there.
[[noreturn]] void exec_child(char **argv, char **envp, int out_fd, int err_fd,
                             const RunOptions &options, const passwd *nobody, bool few_files)
{
    if (options.stdin_closed) {
        close(0);
    } else {
        const int in_fd = open("/dev/null", O_RDONLY);
        dup2(in_fd, 0);
        if (in_fd > 2)
            close(in_fd);
    }
    signal(SIGPIPE, options.ignore_sigpipe ? SIG_IGN : SIG_DFL);
    if (out_fd < 0)
        close(1);
    else
        dup2(out_fd, 1);
    dup2(err_fd, 2);
    const rlimit files = {kChildFiles, kChildFiles};
    // Root's supplementary groups go too, or nobody would read what they may.
    if ((few_files && setrlimit(RLIMIT_NOFILE, &files) != 0) ||
        (nobody != nullptr && (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 ||
                               setuid(nobody->pw_uid) != 0)))
        _exit(125);
    execvpe(argv[0], argv, envp); // the wrapper may be a bare command name
    _exit(127);
}

} // namespace

DataDir::DataDir()
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/applist-test-XXXXXX";
    check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    root = pattern;
    // Open to the unprivileged user that the permission cases run as.
    fs::permissions(root, fs::perms(0755));
}

DataDir::~DataDir()
{
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

std::string DataDir::path(const std::string &relative) const
{
    return root + "/" + relative;
}

void DataDir::dir(const std::string &path_) const
{
    fs::create_directories(path(path_));
}

void DataDir::file(const std::string &path_, const std::string &content, unsigned mode) const
{
    const fs::path full = path(path_);
    fs::create_directories(full.parent_path());
    {
        std::ofstream out(full, std::ios::binary | std::ios::trunc);
        out << content;
        check(out.good(), "write " + full.string());
    }
    check(chmod(full.c_str(), mode) == 0, "chmod");
}

void DataDir::fifo(const std::string &path_) const
{
    const fs::path full = path(path_);
    fs::create_directories(full.parent_path());
    check(mkfifo(full.c_str(), 0644) == 0, "mkfifo");
}

void DataDir::symlink(const std::string &path_, const std::string &target) const
{
    const fs::path full = path(path_);
    fs::create_directories(full.parent_path());
    check(::symlink(target.c_str(), full.c_str()) == 0, "symlink");
}

void DataDir::app(const std::string &name, const std::string &status,
                  const std::string &description, bool icon) const
{
    file("data/status/" + name, status + "\n");
    file("apps/" + name + "/description", description + "\n");
    if (icon)
        file("apps/" + name + "/icon-24.png", "png");
}

std::string record(const std::string &status_icon, const std::string &app_icon,
                   const std::string &app, const std::string &cell)
{
    return status_icon + "\n" + app_icon + "\n" + app + "\n" + app + "\n" + cell + "\n";
}

std::string no_icon(const std::string &app)
{
    return "ERROR: get_app_icon(): app \"" + app + "\" doesn't have a icon-24!\n";
}

std::string no_description(const std::string &app)
{
    return "ERROR: get_app_status_and_desc(): app \"" + app + "\" doesn't have a description!\n";
}

std::string long_status(const std::string &function, const std::string &app)
{
    return "ERROR: " + function + "(): app \"" + app + "\" has a status longer than 29 bytes!\n";
}

const std::string kDirectoryHasLineEnd = "ERROR: \"DIRECTORY\" environment variable contains a "
                                         "line end (newline, carriage return or U+2029)!\n";

bool running_as_root()
{
    return geteuid() == 0;
}

RunOptions stdout_to(Stdout out)
{
    RunOptions options;
    options.out = out;
    return options;
}

RunOptions sigpipe_ignored(Stdout out)
{
    RunOptions options = stdout_to(out);
    options.ignore_sigpipe = true;
    return options;
}

RunOptions as_nobody_if_root()
{
    RunOptions options;
    options.as_nobody = running_as_root();
    return options;
}

RunOptions stdin_closed()
{
    RunOptions options;
    options.stdin_closed = true;
    return options;
}

namespace
{

// The program's end of its standard output, and in *reader the harness's
// end of a pipe (-1 without one). Returns -1 for a closed standard output.
int open_stdout(Stdout out, const std::string &capture_path, int *reader)
{
    *reader = -1;
    if (out == Stdout::Closed)
        return -1;
    if (out == Stdout::DevFull)
        return open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (out == Stdout::Capture)
        return open(capture_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    int fds[2];
    check(pipe2(fds, O_CLOEXEC) == 0, "pipe2");
    *reader = fds[0];
    if (out == Stdout::FirstLine || out == Stdout::FullPipe)
        // One page: a program that goes on writing meets the end soon.
        check(fcntl(fds[1], F_SETPIPE_SZ, 4096) >= 0, "F_SETPIPE_SZ");
    if (out == Stdout::FullPipe) {
        check(write(fds[1], "!", 1) == 1, "write");
        check(fcntl(fds[1], F_SETFL, O_NONBLOCK) == 0, "F_SETFL");
    }
    return fds[1];
}

// The wrapper's words, then the program; as nobody, a copy of the program
// in the capture folder, which nobody can reach.
std::vector<std::string> command_line(const RunOptions &options, const DataDir &capture)
{
    std::vector<std::string> args = wrapper_words();
    args.emplace_back(APPLIST_BIN);
    if (options.as_nobody) {
        args.back() = capture.path("applist");
        fs::copy_file(APPLIST_BIN, args.back());
        fs::permissions(args.back(), fs::perms(0755));
    }
    return args;
}

// Waits for the program until the deadline, then kills it; returns its
// status as Outcome keeps it.
int wait_until(pid_t pid, Clock::time_point deadline)
{
    int wait_status = 0;
    // Poll rather than block, so a hanging program fails its case instead of the suite.
    while (waitpid(pid, &wait_status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wait_status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFSIGNALED(wait_status))
        return 128 + WTERMSIG(wait_status);
    return WEXITSTATUS(wait_status);
}

std::string read_all(int fd)
{
    std::string text;
    char chunk[4096];
    for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(got));
    return text;
}

} // namespace

Outcome run_applist(const std::vector<std::string> &env, const RunOptions &options)
{
    DataDir capture;
    const std::string out_path = capture.path("stdout");
    const std::string err_path = capture.path("stderr");
    int reader = -1;
    const int out_fd = open_stdout(options.out, out_path, &reader);
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    check((out_fd >= 0 || options.out == Stdout::Closed) && err_fd >= 0, "open capture files");

    std::vector<std::string> args = command_line(options, capture);
    std::vector<std::string> environment = env;
    std::vector<char *> argv = pointers(args);
    std::vector<char *> envp = pointers(environment);
    const passwd *nobody = options.as_nobody ? getpwnam("nobody") : nullptr;
    check(!options.as_nobody || nobody != nullptr, "getpwnam(nobody)");

    const pid_t pid = fork();
    check(pid >= 0, "fork");
    if (pid == 0)
        exec_child(argv.data(), envp.data(), out_fd, err_fd, options, nobody,
                   wrapper_words().empty());
    if (out_fd >= 0)
        close(out_fd);
    close(err_fd);

    Outcome run;
    const auto deadline = Clock::now() + std::chrono::seconds(30 * timeout_scale());
    if (options.out == Stdout::FirstLine) {
        run.out = read_first_line(reader, deadline);
        close(reader);
    }
    run.status = wait_until(pid, deadline);
    if (options.out == Stdout::Pipe || options.out == Stdout::FullPipe) {
        run.out = read_all(reader);
        close(reader);
    }
    if (options.out == Stdout::Capture)
        run.out = slurp(out_path);
    run.err = slurp(err_path);
    return run;
}

void expect_run(const Outcome &run, const std::string &out, const std::string &err, int status)
{
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(run.err, err);
    EXPECT_EQ(run.status, status) << "-1: still running at the deadline";
}
