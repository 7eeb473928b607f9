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
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace
{

using Clock = std::chrono::steady_clock;

// The program's limit on open files: its three standard streams and a few
// more, so that a leak of one file per app uses them up within a few apps.
// A wrapper such as valgrind keeps files of its own under the limit.
constexpr rlim_t kChildFiles = 16;

void check(bool ok, const std::string &what)
{
    if (!ok)
        throw std::runtime_error(what + ": " + std::strerror(errno));
}

std::string read_all(int fd)
{
    std::string text;
    char chunk[4096];
    for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(got));
    return text;
}

std::string slurp(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string text = fd < 0 ? "" : read_all(fd);
    close(fd);
    return text;
}

std::vector<char *> pointers(std::vector<std::string> &texts)
{
    std::vector<char *> result;
    for (auto &text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

// Runs in the forked child, as the function below does: what failed is
// named on the captured standard error, so that a missing wrapper is plain.
[[noreturn]] void give_up(const char *what, const char *name, int status)
{
    dprintf(2, "cannot %s%s: %s\n", what, name, std::strerror(errno));
    _exit(status);
}

[[noreturn]] void exec_child(char **argv, char **envp, int out_fd, int err_fd,
                             const RunOptions &options, const passwd *nobody, bool few_files)
{
    // A group of its own, so that the deadline kills a wrapper's tracee too.
    setpgid(0, 0);
    dup2(err_fd, 2);
    close(0);
    if (!options.stdin_closed)
        (void)open("/dev/null", O_RDONLY); // takes descriptor 0, the lowest free
    signal(SIGPIPE, options.ignore_sigpipe ? SIG_IGN : SIG_DFL);
    if (out_fd < 0)
        close(1);
    else
        dup2(out_fd, 1);
    const rlimit files = {kChildFiles, kChildFiles};
    if (few_files && setrlimit(RLIMIT_NOFILE, &files) != 0)
        give_up("limit open files", "", 125);
    // Root's supplementary groups go too, or nobody would read what they may.
    if (nobody != nullptr &&
        (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0))
        give_up("become nobody", "", 125);
    execvpe(argv[0], argv, envp); // the wrapper may be a bare command name
    give_up("run ", argv[0], 127);
}

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
    // One page: a program that goes on writing meets the end soon.
    if (out != Stdout::Pipe)
        check(fcntl(fds[1], F_SETPIPE_SZ, 4096) >= 0, "F_SETPIPE_SZ");
    if (out == Stdout::FullPipe)
        check(write(fds[1], "!", 1) == 1 && fcntl(fds[1], F_SETFL, O_NONBLOCK) == 0, "fill");
    return fds[1];
}

// Reads what comes before the deadline and keeps its first line. The
// program's first block holds it: a pipe takes up to a page at once.
std::string read_first_line(int fd, Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd ready = {fd, POLLIN, 0};
    char block[4096];
    const ssize_t got =
        poll(&ready, 1, static_cast<int>(left.count())) > 0 ? read(fd, block, sizeof block) : 0;
    const std::string text(block, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    const std::size_t newline = text.find('\n');
    return newline == std::string::npos ? text : text.substr(0, newline + 1);
}

// Waits for the program until the deadline, then kills it; returns its
// status as Outcome keeps it. Polls rather than blocks, so that a hanging
// program fails its case instead of the suite.
int wait_until(pid_t pid, Clock::time_point deadline)
{
    int wait_status = 0;
    while (waitpid(pid, &wait_status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &wait_status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status) : WEXITSTATUS(wait_status);
}

Outcome run_applist(std::vector<std::string> env, const RunOptions &options)
{
    const DataDir capture;
    const std::string out_path = capture.path("stdout");
    const std::string err_path = capture.path("stderr");
    const std::string trace_path = capture.path("trace");
    int reader = -1;
    const int out_fd = open_stdout(options.out, out_path, &reader);
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    check((out_fd >= 0 || options.out == Stdout::Closed) && err_fd >= 0, "open capture files");

    // As nobody, a copy of the program that nobody can reach.
    std::string program = APPLIST_BIN;
    if (options.as_nobody) {
        program = capture.path("applist");
        fs::copy_file(APPLIST_BIN, program);
        fs::permissions(program, fs::perms(0755));
    }
    std::vector<std::string> args = {"strace", "-qq", "-o", trace_path};
#ifdef __SANITIZE_ADDRESS__
    // LeakSanitizer cannot run under ptrace; the plain runs check for leaks.
    args.insert(args.end(), {"-E", "ASAN_OPTIONS=detect_leaks=0"});
#endif
    args.insert(args.end(), options.strace.begin(), options.strace.end());
    if (options.strace.empty()) {
        const char *wrapper = std::getenv("APPLIST_TEST_WRAPPER");
        std::istringstream words(wrapper != nullptr ? wrapper : "");
        args = {std::istream_iterator<std::string>(words), {}};
    }
    const bool wrapped = options.strace.empty() && !args.empty();
    args.push_back(program);
    std::vector<char *> argv = pointers(args);
    std::vector<char *> envp = pointers(env);
    const passwd *nobody = options.as_nobody ? getpwnam("nobody") : nullptr;
    check(!options.as_nobody || nobody != nullptr, "getpwnam(nobody)");

    const pid_t pid = fork();
    check(pid >= 0, "fork");
    if (pid == 0)
        exec_child(argv.data(), envp.data(), out_fd, err_fd, options, nobody, !wrapped);
    close(out_fd);
    close(err_fd);

    Outcome run;
    // A wrapper such as valgrind slows the program many times over.
    const auto deadline = Clock::now() + std::chrono::seconds(wrapped ? 300 : 30);
    if (options.out == Stdout::FirstLine) {
        run.out = read_first_line(reader, deadline);
        close(reader);
        reader = -1;
    }
    run.status = wait_until(pid, deadline);
    if (options.out == Stdout::Capture)
        run.out = slurp(out_path);
    if (reader >= 0)
        run.out = read_all(reader);
    close(reader);
    run.err = slurp(err_path);
    run.trace = slurp(trace_path);
    return run;
}

// In one pass: an expected text can hold thousands of rows.
std::string fill_root(const std::string &text, const std::string &root)
{
    std::string filled;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find("$D", from)) != std::string::npos; from = at + 2)
        filled.append(text, from, at - from).append(root);
    return filled.append(text, from);
}

} // namespace

Files operator+(Files files, const Files &more)
{
    files.insert(files.end(), more.begin(), more.end());
    return files;
}

Files app(const std::string &name, const std::string &status, const std::string &description,
          bool icon)
{
    Files files = {{"data/status/" + name, status + "\n"},
                   {"apps/" + name + "/description", description + "\n"}};
    if (icon)
        files.push_back({"apps/" + name + "/icon-24.png", "png"});
    return files;
}

DataDir::DataDir()
{
    const char *tmp = std::getenv("TMPDIR");
    root = std::string(tmp != nullptr ? tmp : "/tmp") + "/applist-test-XXXXXX";
    check(mkdtemp(root.data()) != nullptr, "mkdtemp");
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

void DataDir::make(const Files &files) const
{
    for (const Entry &entry : files) {
        const std::string full = path(entry.path);
        fs::create_directories(fs::path(full).parent_path());
        if (entry.kind == Kind::Dir) {
            fs::create_directories(full);
        } else if (entry.kind == Kind::Fifo || entry.kind == Kind::Socket) {
            const mode_t type = entry.kind == Kind::Fifo ? S_IFIFO : S_IFSOCK;
            check(mknod(full.c_str(), type | 0644, 0) == 0, "mknod " + full);
        } else if (entry.kind == Kind::Symlink) {
            check(symlink(entry.content.c_str(), full.c_str()) == 0, "symlink " + full);
        } else {
            std::ofstream out(full, std::ios::binary | std::ios::trunc);
            out << entry.content;
            out.close();
            check(out.good() && chmod(full.c_str(), entry.mode) == 0, "write " + full);
        }
    }
}

RunOptions traced(std::vector<std::string> strace, Stdout out)
{
    return {out, false, std::move(strace)};
}

Case::Case(std::string name_, Files files_, std::vector<std::string> env_, RunOptions options_,
           std::string out_, std::string err_, int status_, std::string trace_has_,
           std::string trace_lacks_)
    : name(std::move(name_)), files(std::move(files_)), env(std::move(env_)),
      options(std::move(options_)), out(std::move(out_)), err(std::move(err_)), status(status_),
      trace_has(std::move(trace_has_)), trace_lacks(std::move(trace_lacks_))
{
}

Outcome check_case(const Case &c, const DataDir &data)
{
    SCOPED_TRACE(c.name);
    std::vector<std::string> env;
    for (const std::string &variable : c.env)
        env.push_back(fill_root(variable, data.root));
    const Outcome run = run_applist(env, c.options);
    EXPECT_EQ(run.out, fill_root(c.out, data.root));
    EXPECT_EQ(run.err, fill_root(c.err, data.root));
    EXPECT_EQ(run.status, c.status) << "-1: still running at the deadline";
    const auto in_trace = [&](const std::string &pattern) {
        return std::regex_search(run.trace, std::regex(fill_root(pattern, data.root)));
    };
    EXPECT_TRUE(c.trace_has.empty() || in_trace(c.trace_has)) << c.trace_has << " not in:\n"
                                                              << run.trace;
    EXPECT_TRUE(c.trace_lacks.empty() || !in_trace(c.trace_lacks)) << c.trace_lacks << " in:\n"
                                                                   << run.trace;
    return run;
}

void check_cases(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        const DataDir data;
        data.make(c.files);
        check_case(c, data);
    }
}

void check_rows(const std::vector<Row> &rows)
{
    constexpr std::size_t kGuard = 8;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const DataDir data;
        data.make(row.files);
        std::vector<char> field(row.size + kGuard, 'X');
        std::strcpy(field.data(), "kept");
        testing::internal::CaptureStderr();
        row.fill(data.root, field.data(), row.size);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), fill_root(row.err, data.root));
        EXPECT_EQ(std::string(field.data(), strnlen(field.data(), row.size)),
                  fill_root(row.out, data.root));
        EXPECT_EQ(std::string(field.data() + row.size, kGuard), std::string(kGuard, 'X'))
            << "written past the field";
    }
}
