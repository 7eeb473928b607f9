/* The floor of applist's design: the same rows from the same data directory,
 * touching the files the same way (a probe with faccessat; a read that stats,
 * opens only a regular file and preads from the start until the line ends)
 * and writing in 4096-byte blocks, as stdio does to a pipe or a file. It
 * gives applist's output, messages and exit status byte for byte on the data
 * of gen-data.sh and handles nothing that data lacks.
 * Build: gcc -O2 -o floor floor.c */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static char out[4096];
static size_t used;

static void put(const char *text, size_t length)
{
    while (length > 0) {
        size_t part = sizeof out - used < length ? sizeof out - used : length;
        memcpy(out + used, text, part);
        used += part;
        text += part;
        length -= part;
        if (used == sizeof out) {
            (void)!write(1, out, used);
            used = 0;
        }
    }
}

static int present(const char *path)
{
    return faccessat(AT_FDCWD, path, R_OK, AT_EACCESS) == 0;
}

/* The first line of the file, without its line end. */
static char *first_line(const char *path, char *text)
{
    struct stat info;
    size_t length = 0;
    if (stat(path, &info) == 0 && S_ISREG(info.st_mode)) {
        int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        ssize_t got;
        while (length < 4095 && (got = pread(fd, text + length, 4095 - length, length)) > 0) {
            length += got;
            if (memchr(text + length - got, '\n', got) != NULL)
                break;
        }
        close(fd);
    }
    text[length] = '\0';
    text[strcspn(text, "\r\n")] = '\0';
    return text;
}

/* Writes the four texts one after another into to; returns their end. */
static char *cat(char *to, const char *a, const char *b, const char *c, const char *d)
{
    return stpcpy(stpcpy(stpcpy(stpcpy(to, a), b), c), d);
}

static const char *status(const char *dir, const char *app, char *text, const char *missing)
{
    char path[4096];
    cat(path, dir, "/data/status/", app, "");
    return present(path) ? first_line(path, text) : missing;
}

static void complain(const char *function, const char *app, const char *what)
{
    char line[4096];
    char *end = cat(line, "ERROR: ", function, "(): app \"", app);
    end = cat(end, "\" doesn't have a ", what, "!\n", "");
    (void)!write(2, line, end - line);
}

static void row(const char *dir, const char *app)
{
    char path[4096], text[4096], desc[4096];
    char *end = cat(path, dir, "/icons/", status(dir, app, text, "none"), ".png");
    if (!present(path))
        end = cat(path, dir, "/icons/none.png", "", "");
    *end++ = '\n';
    put(path, end - path);

    end = cat(path, dir, "/apps/", app, "/icon-24.png");
    if (!present(path)) {
        complain("get_app_icon", app, "icon-24");
        end = path;
    }
    put(path, end - path);
    put(path, cat(path, "\n", app, "\n", app) - path);

    cat(path, dir, "/apps/", app, "/description");
    if (present(path)) {
        first_line(path, desc);
        put(path, cat(path, "\n(", status(dir, app, text, "uninstalled"), ") ", desc) - path);
    } else {
        complain("get_app_status_and_desc", app, "description");
        put("\n", 1);
    }
    put("\n", 1);
}

int main(void)
{
    char *apps = getenv("APPS");
    const char *dir = getenv("DIRECTORY");
    if (apps == NULL || dir == NULL)
        return 1;
    for (char *app = strtok(apps, "\n"); app != NULL; app = strtok(NULL, "\n"))
        row(dir, app);
    if (used > 0)
        (void)!write(1, out, used);
    return 0;
}
