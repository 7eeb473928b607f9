// Shared by the fuzz targets that need files: a scratch directory made once
// per process and removed at exit, and a checked write.
#ifndef APPLIST_FUZZ_UTIL_H
#define APPLIST_FUZZ_UTIL_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

// A broken invariant is a crash, so libFuzzer keeps the input.
inline void require(bool ok)
{
    if (!ok)
        std::abort();
}

// A little-endian 16-bit number, for lengths and sizes taken from the input.
inline std::size_t two_bytes(const std::uint8_t *data)
{
    return static_cast<std::size_t>(data[0]) | static_cast<std::size_t>(data[1]) << 8U;
}

inline const std::string &scratch_dir()
{
    // Never destroyed, so the exit handler can still read it.
    static const std::string &dir = *[] {
        // tmpfs: on a disk-backed /tmp the file writes take most of the time.
        const char *tmp = std::getenv("TMPDIR");
        const std::string base = tmp != nullptr                              ? tmp
                                 : std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                                             : "/tmp";
        std::string pattern = base + "/applist-fuzz-XXXXXX";
        require(mkdtemp(pattern.data()) != nullptr);
        return new std::string(pattern);
    }();
    static const int registered = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(scratch_dir(), ignored);
    });
    (void)registered;
    return dir;
}

inline void write_file(const std::string &path, const std::uint8_t *data, std::size_t size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    require(fd >= 0);
    require(write(fd, data, size) == static_cast<ssize_t>(size));
    require(close(fd) == 0);
}

#endif
