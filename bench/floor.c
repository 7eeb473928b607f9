/* The floor of applist's design: the same rows from the same data directory
 * with only the system calls the design needs (per app at most 8 open, 3 pread,
 * 8 close) and output in 4096-byte writes, as stdio writes to a pipe or file.
 * On the benchmark data it gives applist's output, messages and exit status
 * byte for byte; it checks the variables no further than that data needs.
 * Build: cc -O2 -o floor floor.c */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define FLAGS (O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)

static char out[4096];
static size_t used;

static void put(const char *text, size_t length)
{
    while (length > 0) {
        size_t room = sizeof out - used;
        size_t part = length < room ? length : room;
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

static void err3(const char *a, const char *app, size_t n, const char *b)
{
    char line[8192];
    size_t la = strlen(a), lb = strlen(b);
    if (la + n + lb > sizeof line)
        n = sizeof line - la - lb;
    memcpy(line, a, la);
    memcpy(line + la, app, n);
    memcpy(line + la + n, b, lb);
    (void)!write(2, line, la + n + lb);
}

static int present(const char *path)
{
    int fd = open(path, FLAGS);
    if (fd < 0)
        return 0;
    close(fd);
    return 1;
}

/* Length of the first line: up to a newline, carriage return, U+2029 or zero byte. */
static size_t line_length(const char *text, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        char c = text[i];
        if (c == '\n' || c == '\r' || c == '\0')
            return i;
        if (c == '\xE2' && i + 2 < length && text[i + 1] == '\x80' && text[i + 2] == '\xA9')
            return i;
    }
    return length;
}

/* First line without its line end; returns its length. By position, as
 * applist reads: a FIFO or other stream fails it and reads as empty. */
static size_t first_line(const char *path, char *buffer)
{
    int fd = open(path, FLAGS);
    if (fd < 0)
        return 0;
    ssize_t got = pread(fd, buffer, 4095, 0);
    close(fd);
    if (got <= 0)
        return 0;
    size_t n = line_length(buffer, (size_t)got);
    buffer[n] = '\0';
    return n;
}

static size_t join(char *path, const char *a, size_t la, const char *b, const char *c, size_t lc,
                   const char *d)
{
    size_t lb = strlen(b), ld = strlen(d);
    memcpy(path, a, la);
    memcpy(path + la, b, lb);
    memcpy(path + la + lb, c, lc);
    memcpy(path + la + lb + lc, d, ld + 1);
    return la + lb + lc + ld;
}

static size_t status(const char *dir, size_t ld, const char *app, size_t n, char *text,
                     const char *fallback, const char *function)
{
    char path[8192], line[4096];
    size_t length = join(path, dir, ld, "/data/status/", app, n, "");
    if (length < 250 && present(path)) {
        size_t got = first_line(path, line);
        if (got <= 29) {
            memcpy(text, line, got);
            return got;
        }
        err3(function, app, n, "\" has a status longer than 29 bytes!\n");
    }
    size_t lf = strlen(fallback);
    memcpy(text, fallback, lf);
    return lf;
}

static void row(const char *dir, size_t ld, const char *app, size_t n)
{
    char path[8192], text[32], desc[4096], cell[4200];
    size_t ls = status(dir, ld, app, n, text, "none", "ERROR: get_app_status_with_none(): app \"");
    size_t length = join(path, dir, ld, "/icons/", text, ls, ".png");
    if (!(length < 300 && present(path)))
        length = join(path, dir, ld, "/icons/none.png", "", 0, "");
    put(path, length);
    put("\n", 1);

    length = join(path, dir, ld, "/apps/", app, n, "/icon-24.png");
    if (length < 4096 && present(path))
        put(path, length);
    else
        err3("ERROR: get_app_icon(): app \"", app, n, "\" doesn't have a icon-24!\n");
    put("\n", 1);
    put(app, n);
    put("\n", 1);
    put(app, n);
    put("\n", 1);

    length = join(path, dir, ld, "/apps/", app, n, "/description");
    if (length < 4096 && present(path)) {
        size_t ldesc = first_line(path, desc);
        ls = status(dir, ld, app, n, text, "uninstalled", "ERROR: get_app_status(): app \"");
        size_t lc = join(cell, "(", 1, "", text, ls, ") ");
        memcpy(cell + lc, desc, ldesc);
        lc += ldesc;
        put(cell, lc < 4095 ? lc : 4095);
    } else {
        err3("ERROR: get_app_status_and_desc(): app \"", app, n,
             "\" doesn't have a description!\n");
    }
    put("\n", 1);
}

int main(void)
{
    const char *apps = getenv("APPS");
    const char *dir = getenv("DIRECTORY");
    if (apps == NULL || dir == NULL)
        return 1;
    size_t ld = strlen(dir);
    if (ld > 0 && dir[ld - 1] == '/')
        ld--;
    while (*apps) {
        if (*apps == '\n') {
            apps++;
            continue;
        }
        const char *end = strchr(apps, '\n');
        size_t n = end ? (size_t)(end - apps) : strlen(apps);
        row(dir, ld, apps, n);
        apps += n;
    }
    if (used > 0)
        (void)!write(1, out, used);
    return 0;
}
