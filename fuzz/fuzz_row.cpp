// One whole row. The input becomes an app name, a status text, a description
// and what stands at each path of a throwaway data directory:
//   byte 0: bits 0-1 the status file, 2-3 the description, 4-5 the app icon
//           (absent, file, directory, FIFO); bit 6 an icon named by the
//           status's leading letters and digits;
//           bit 7 a second "/" between the directory text and each path
//   bytes 1-2: name length, bytes 3-4: status length, the rest: description.
// The row must keep its five lines: every cell is terminated inside its field
// and holds no line end but those of the app name; a path cell is empty, the
// fallback, or a path that exists; the status and description cell is there
// exactly when the description is.
#include "app_data.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace
{

// A broken invariant is a crash, so libFuzzer keeps the input.
void require(bool ok)
{
    if (!ok)
        std::abort();
}

// A little-endian 16-bit number, for the lengths taken from the input.
std::size_t two_bytes(const std::uint8_t *data)
{
    return static_cast<std::size_t>(data[0]) | static_cast<std::size_t>(data[1]) << 8U;
}

// Made once per process, on tmpfs where there is one, as disk writes would
// take most of the time; removed at exit, which runs before dir's destructor.
const std::string &scratch_dir()
{
    static const std::string dir = [] {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = tmp != nullptr                              ? tmp
                              : std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                                          : "/tmp";
        pattern += "/applist-fuzz-XXXXXX";
        require(mkdtemp(pattern.data()) != nullptr);
        return pattern;
    }();
    static const int registered = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    });
    (void)registered;
    return dir;
}

void write_file(const std::string &path, std::string_view contents)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    require(fd >= 0);
    require(write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size()));
    require(close(fd) == 0);
}

enum Kind { kAbsent, kFile, kDirectory, kFifo };

constexpr std::string_view kAlphanumerics =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

struct Row {
    std::unique_ptr<char[]> status_icon{new char[kStatusIconSize]};
    std::unique_ptr<char[]> app_icon{new char[kAppIconSize]};
    std::unique_ptr<char[]> status_and_desc{new char[kStatusAndDescSize]};
};

// A name as the list walk hands it out: never empty, no newline, and no zero
// byte, which no environment string can hold.
std::string app_name(std::string_view bytes)
{
    std::string name(bytes);
    for (char &c : name)
        if (c == '\n' || c == '\0')
            c = '_';
    return name.empty() ? "a" : name;
}

// Whether text names one entry inside its parent, so nothing is made outside
// the scratch directory.
bool plain_entry(std::string_view text)
{
    return !text.empty() && text.size() < 256 && text != "." && text != ".." &&
           text.find('/') == std::string_view::npos && text.find('\0') == std::string_view::npos;
}

void make(Kind kind, const std::string &path, std::string_view contents)
{
    if (kind == kFile)
        write_file(path, contents);
    else if (kind == kDirectory)
        require(mkdir(path.c_str(), 0755) == 0);
    else if (kind == kFifo)
        require(mkfifo(path.c_str(), 0644) == 0);
}

// A cell ends inside its field and holds no newline. Only the app icon
// cell holds the app name, which may carry a carriage return or U+2029; the
// others must hold neither, or the dialog would split them.
void check_cell(const char *cell, std::size_t size, bool from_files)
{
    require(std::memchr(cell, '\0', size) != nullptr);
    const std::string_view text = cell;
    require(text.find('\n') == std::string_view::npos);
    if (from_files)
        require(text.find('\r') == std::string_view::npos &&
                text.find("\xE2\x80\xA9") == std::string_view::npos);
}

struct Input {
    unsigned flags;
    std::string app;
    std::string_view status;
    std::string_view description;
};

Kind kind(unsigned flags, unsigned shift)
{
    return static_cast<Kind>(flags >> shift & 3U);
}

// Makes the data directory the input describes, afresh.
void set_up(const std::string &root, const Input &in)
{
    std::error_code ignored;
    for (const char *sub : {"/apps", "/data", "/icons"})
        std::filesystem::remove_all(root + sub, ignored);
    for (const char *sub : {"/apps", "/data", "/data/status", "/icons"})
        require(mkdir((root + sub).c_str(), 0755) == 0);
    if (plain_entry(in.app)) {
        make(kind(in.flags, 0), root + "/data/status/" + in.app, in.status);
        require(mkdir((root + "/apps/" + in.app).c_str(), 0755) == 0);
        make(kind(in.flags, 2), root + "/apps/" + in.app + "/description", in.description);
        make(kind(in.flags, 4), root + "/apps/" + in.app + "/icon-24.png", "png");
    }
    // Whatever follows the name decides whether the program finds this icon;
    // the fuzzer tries line ends and other bytes there.
    const std::string icon(in.status.substr(0, in.status.find_first_not_of(kAlphanumerics)));
    if ((in.flags & 64U) != 0 && plain_entry(icon + ".png"))
        make(kFile, root + "/icons/" + icon + ".png", "png");
}

void check_row(const std::string &directory, const Input &in, const Row &row)
{
    check_cell(row.status_icon.get(), kStatusIconSize, true);
    check_cell(row.app_icon.get(), kAppIconSize, false);
    check_cell(row.status_and_desc.get(), kStatusAndDescSize, true);
    const std::string fallback = directory + "/icons/none.png";
    require(fallback == row.status_icon.get() || access(row.status_icon.get(), F_OK) == 0);
    require(row.app_icon[0] == '\0' || access(row.app_icon.get(), F_OK) == 0);
    // "(status) description", or empty without a description.
    require(row.status_and_desc[0] == '(' || row.status_and_desc[0] == '\0');
    if (plain_entry(in.app))
        require((kind(in.flags, 2) != kAbsent) == (row.status_and_desc[0] == '('));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 5)
        return -1;
    const std::string_view rest(reinterpret_cast<const char *>(data + 5), size - 5);
    const std::string_view name = rest.substr(0, two_bytes(data + 1));
    const std::string_view after_name = rest.substr(name.size());
    const std::string_view status = after_name.substr(0, two_bytes(data + 3));
    const Input in = {data[0], app_name(name), status, after_name.substr(status.size())};

    const std::string &root = scratch_dir();
    set_up(root, in);
    const std::string directory = root + ((in.flags & 128U) != 0 ? "/" : "");
    Row row;
    row.status_icon[0] = row.app_icon[0] = row.status_and_desc[0] = '\0';
    get_status_icon(directory, in.app, row.status_icon.get(), kStatusIconSize);
    get_app_icon(directory, in.app, row.app_icon.get(), kAppIconSize);
    get_app_status_and_desc(directory, in.app, row.status_and_desc.get(), kStatusAndDescSize);
    check_row(directory, in, row);
    return 0;
}
