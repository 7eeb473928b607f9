// Preloaded into the program by one end-to-end case: a writev that writes
// one to five bytes a call, taken across the parts as the kernel would take
// them, so that a message reaches standard error whole only if the program
// goes on after each partial write.
#include <sys/uio.h>
#include <unistd.h>

#include <cstddef>

extern "C" ssize_t writev(int fd, const iovec *parts, int count)
{
    constexpr std::size_t kMost = 5;
    static std::size_t calls = 0;
    const std::size_t limit = 1 + calls++ % kMost;
    char bytes[kMost];
    std::size_t taken = 0;
    for (int i = 0; i < count && taken < limit; ++i) {
        const auto *data = static_cast<const char *>(parts[i].iov_base);
        for (std::size_t j = 0; j < parts[i].iov_len && taken < limit; ++j)
            bytes[taken++] = data[j];
    }
    return write(fd, bytes, taken);
}
