#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace
{

// The standard streams and a few more: a file left open per app soon runs out.
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
    close(fd);
    return text;
}

std::string slurp(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? "" : read_all(fd);
}

std::vector<char *> pointers(std::vector<std::string> &texts)
{
    std::vector<char *> result;
    for (auto &text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

std::string fill_root(std::string text, const std::string &root)
{
    for (std::size_t at = 0; (at = text.find("$D", at)) != std::string::npos; at += root.size())
        text.replace(at, 2, root);
    return text;
}

// In the forked child; what cannot be set up or run is named on its stderr.
[[noreturn]] void exec_child(char **argv, char **envp, int out_fd, int err_fd, bool stdin_closed,
                             bool few_files)
{
    dup2(err_fd, 2);
    close(0);
    if (!stdin_closed)
        (void)open("/dev/null", O_RDONLY); // takes descriptor 0, the lowest free
    signal(SIGPIPE, SIG_DFL);
    dup2(out_fd, 1);
    const rlimit files = {kChildFiles, kChildFiles};
    if (!few_files || setrlimit(RLIMIT_NOFILE, &files) == 0)
        execvpe(argv[0], argv, envp); // the wrapper may be a bare command name
    dprintf(2, "cannot limit files or run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
}

// The program's end of its standard output; *reader is the harness's end
// of a pipe to read, or -1.
int open_stdout(Stdout out, const std::string &capture_path, int *reader)
{
    *reader = -1;
    if (out == Stdout::DevFull || out == Stdout::Capture)
        return open(out == Stdout::DevFull ? "/dev/full" : capture_path.c_str(),
                    O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    int fds[2];
    check(pipe2(fds, O_CLOEXEC) == 0, "pipe2");
    if (out == Stdout::NoReader)
        close(fds[0]);
    else
        *reader = fds[0];
    return fds[1];
}

bool asleep(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string number, name, state;
    return stat >> number >> name >> state && state == "S";
}

pid_t start_helper(const Helper &body, const std::string &root)
{
    const pid_t pid = fork();
    check(pid >= 0, "fork");
    if (pid == 0) {
        // Orphaned, it would hold the test's output open.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        body(root);
        _exit(0);
    }
    for (int tries = 0; tries < 5000 && !asleep(pid) && waitpid(pid, nullptr, WNOHANG) == 0;
         ++tries)
        usleep(1000);
    return pid;
}

// The calls of each name, and in *number the number of the first of `call`
// whose line matches, as inject=...:when= counts (0 when none does).
std::map<std::string, long> count_calls(const std::string &trace, const std::string &call = "",
                                        const std::string &pattern = "", long *number = nullptr)
{
    static const std::regex kCall(R"(^(\w+)\()");
    const std::regex wanted(pattern);
    std::map<std::string, long> counts;
    std::istringstream lines(trace);
    std::smatch name;
    for (std::string line; std::getline(lines, line);) {
        if (!std::regex_search(line, name, kCall))
            continue;
        const long count = ++counts[name[1]];
        if (number != nullptr && *number == 0 &&
            std::regex_match(name[1].str(), std::regex(call)) && std::regex_search(line, wanted))
            *number = count;
    }
    return counts;
}

struct Outcome {
    std::string out, err, trace;
    int status = 0;
};

// `timeout` kills the program, its wrapper and a tracee alike past 30 s
// (300 s wrapped): a hanging program fails its case, not the suite.
Outcome run(const Case &c, std::vector<std::string> environment, bool traced,
            const std::vector<std::string> &strace_args)
{
    const DataDir capture;
    const std::string out_path = capture.root + "/stdout";
    const std::string err_path = capture.root + "/stderr";
    const std::string trace_path = capture.root + "/trace";
    int reader = -1;
    const int out_fd = open_stdout(c.stdout_to, out_path, &reader);
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    check(out_fd >= 0 && err_fd >= 0, "open capture files");

    std::vector<std::string> wrapper = {"strace", "-qq", "-o", trace_path};
#ifdef __SANITIZE_ADDRESS__
    // LeakSanitizer cannot run under ptrace; the plain runs check for leaks.
    wrapper.insert(wrapper.end(), {"-E", "ASAN_OPTIONS=detect_leaks=0"});
#endif
    wrapper.insert(wrapper.end(), strace_args.begin(), strace_args.end());
    if (!traced) {
        const char *words = std::getenv("APPLIST_TEST_WRAPPER");
        std::istringstream split(words != nullptr ? words : "");
        wrapper = {std::istream_iterator<std::string>(split), {}};
    }
    const bool wrapped = !traced && !wrapper.empty();
    std::vector<std::string> args = {"timeout", "-s", "KILL", wrapped ? "300" : "30"};
    std::string program = APPLIST_BIN;
    if (!c.as_nobody.empty()) { // a copy of the program that nobody can reach
        program = capture.root + "/applist";
        fs::copy_file(APPLIST_BIN, program);
        fs::permissions(program, fs::perms(0755));
        args.insert(args.end(), {"setpriv", "--reuid=nobody", "--regid=nogroup"});
        args.insert(args.end(), c.as_nobody.begin(), c.as_nobody.end());
    }
    args.insert(args.end(), wrapper.begin(), wrapper.end());
    args.push_back(program);
    std::vector<char *> argv = pointers(args);
    std::vector<char *> envp = pointers(environment);

    const pid_t pid = fork();
    check(pid >= 0, "fork");
    if (pid == 0)
        exec_child(argv.data(), envp.data(), out_fd, err_fd, c.stdin_closed, !wrapped);
    close(out_fd);
    close(err_fd);
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    Outcome got;
    got.out = reader >= 0 ? read_all(reader) : slurp(out_path);
    got.err = slurp(err_path);
    got.trace = slurp(trace_path);
    got.status = WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status) : WEXITSTATUS(wait_status);
    return got;
}

void check_case(const Case &c)
{
    const DataDir data;
    data.make(c.files);
    const auto filled = [&](const std::string &text) { return fill_root(text, data.root); };
    std::vector<std::string> environment;
    for (const std::string &variable : c.env)
        environment.push_back(filled(variable));
    const bool traced =
        !c.strace.empty() || !c.fail_call.empty() || !c.calls_over_empty_list.empty();
    std::vector<std::string> strace_args = c.strace;
    if (!c.fail_call.empty()) {
        const std::string &call = c.fail_call[0];
        const std::string dry =
            run(c, environment, true, {"-y", "-e", "trace=/^" + call + "$"}).trace;
        long when = 0;
        count_calls(dry, call, filled(c.fail_call[1]), &when);
        ASSERT_NE(when, 0) << c.fail_call[1] << " not in the dry run:\n" << dry;
        const std::string later = c.fail_call.size() > 3 ? c.fail_call[3] : "";
        strace_args.insert(strace_args.end(),
                           {"-e", "inject=/^" + call + "$:error=" + c.fail_call[2] +
                                      ":when=" + std::to_string(when) + later});
    }
    std::vector<pid_t> beside;
    for (const Helper &body : c.helpers)
        beside.push_back(start_helper(body, data.root));
    const Outcome got = run(c, environment, traced, strace_args);
    if (got.err.rfind("setpriv: ", 0) == 0) // as without root, or the capability
        GTEST_SKIP() << "cannot become nobody here: " << got.err;
    EXPECT_EQ(got.out, filled(c.out));
    EXPECT_EQ(got.err, filled(c.err));
    EXPECT_EQ(got.status, c.status) << "137: killed at the deadline";
    for (const auto &[pattern, wanted] : {std::pair(c.trace_has, true), {c.trace_lacks, false}})
        EXPECT_TRUE(pattern.empty() ||
                    std::regex_search(got.trace, std::regex(filled(pattern))) == wanted)
            << pattern << (wanted ? " not" : "") << " in:\n"
            << got.trace;
    if (!c.calls_over_empty_list.empty()) {
        environment.back() = "APPS="; // last in the usual environment
        std::map<std::string, long> more = count_calls(got.trace);
        for (const auto &[name, count] : count_calls(run(c, environment, true, strace_args).trace))
            if ((more[name] -= count) == 0)
                more.erase(name);
        // The allocator's calls hang on what the build allocated before main.
        for (const char *name : {"brk", "mmap", "munmap", "getrandom"})
            more.erase(name);
        EXPECT_EQ(more, c.calls_over_empty_list) << got.trace;
    }
    for (const pid_t pid : beside) {
        EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "a helper was not asleep through the run";
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

} // namespace

Files operator+(Files first, const Files &more)
{
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

Files app(const std::string &name, const std::string &status_line, const std::string &description,
          bool icon)
{
    Files made = {{"data/status/" + name, status_line + "\n"},
                  {"apps/" + name + "/description", description + "\n"}};
    if (icon)
        made.push_back({"apps/" + name + "/icon-24.png", "png"});
    return made;
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

void DataDir::make(const Files &entries) const
{
    for (const Entry &entry : entries) {
        const std::string path = root + "/" + entry.path;
        const mode_t special = entry.kind == Kind::Fifo ? S_IFIFO : S_IFSOCK;
        fs::create_directories(fs::path(path).parent_path());
        if (entry.kind == Kind::Dir)
            fs::create_directories(path);
        else if (entry.kind == Kind::Symlink)
            check(symlink(entry.content.c_str(), path.c_str()) == 0, "symlink " + path);
        else if (entry.kind != Kind::File)
            check(mknod(path.c_str(), special | 0644, 0) == 0, "mknod " + path);
        else
            check((std::ofstream(path, std::ios::binary) << entry.content).good() &&
                      chmod(path.c_str(), entry.mode) == 0,
                  "write " + path);
        const timespec times[2] = {{static_cast<time_t>(entry.atime), 0}, {0, UTIME_OMIT}};
        check(entry.atime == 0 || utimensat(AT_FDCWD, path.c_str(), times, 0) == 0,
              "utime " + path);
    }
}

TEST_P(E2e, Case)
{
    check_case(GetParam());
}
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(E2e);

TEST_P(Unit, Row)
{
    constexpr std::size_t kGuard = 8;
    const Row &row = GetParam();
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
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Unit);
