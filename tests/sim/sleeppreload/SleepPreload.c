/*
 * Test-only preload for end-to-end runs of real programs.
 *
 * Sleeps: sleep, usleep, nanosleep and clock_nanosleep return at once, so a
 * run that waits minutes on a server takes seconds. Each call appends one
 * line "<function> <seconds asked for>" to the file named by ZAGO_SLEEP_LOG
 * (nothing is recorded when it is unset; nor are sleeps of no length, mere
 * yields), so a test can check the time a real host would have spent.
 *
 * SCSI nodes: an open of "/dev/sd..." or "/dev/sg..." that names no node of
 * the umockdev testbed (UMOCKDEV_DIR; the real path when it is unset) fails
 * with ENOENT, as the kernel answers for a disk that is not there, without
 * calling through. umockdev's own preload keeps a slot for every failed open
 * of a /dev node and aborts once its table is full, and a disk search probes
 * thousands of names. Put this library before umockdev's in LD_PRELOAD.
 *
 * Unmounts: umount and umount2 go through to the kernel; each call appends
 * one line "<function> <target> <flags> = <0 or errno>" to the file named by
 * ZAGO_UMOUNT_LOG (nothing is recorded when it is unset), so a test sees
 * which names a program handed to the kernel, in order, and its answers.
 *
 * With ZAGO_PRELOAD_SCOPE=process the library takes LD_PRELOAD out of the
 * environment when it loads: the program runs preloaded, the commands it
 * starts through the shell do not (they see the private /dev and /sys of the
 * test's mount namespace as they are, without umockdev's redirection).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

__attribute__((constructor)) static void zago_preload_scope(void)
{
    const char* scope = getenv("ZAGO_PRELOAD_SCOPE");
    if (scope != NULL && strcmp(scope, "process") == 0)
        unsetenv("LD_PRELOAD");
}

/* Raw system calls: the log must not go through another preload's open. */
static void appendLine(const char* logVariable, const char* line, int length)
{
    const char* path = getenv(logVariable);
    if (path == NULL || *path == '\0' || length <= 0)
        return;
    int saved = errno;
    long fd = syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        syscall(SYS_write, fd, line, (size_t)length);
        syscall(SYS_close, fd);
    }
    errno = saved;
}

static void record(const char* function, double seconds)
{
    /* A sleep of no length only yields (umockdev's preload does so). */
    if (seconds <= 0)
        return;
    char line[96];
    int length = snprintf(line, sizeof(line), "%s %.9g\n", function, seconds);
    if (length > 0 && (size_t)length < sizeof(line))
        appendLine("ZAGO_SLEEP_LOG", line, length);
}

static int valid(const struct timespec* t)
{
    return t != NULL && t->tv_sec >= 0 && t->tv_nsec >= 0 && t->tv_nsec < 1000000000L;
}

static double secondsOf(const struct timespec* t) { return (double)t->tv_sec + (double)t->tv_nsec / 1e9; }

unsigned int sleep(unsigned int seconds)
{
    record("sleep", seconds);
    return 0;
}

int usleep(useconds_t microseconds)
{
    record("usleep", (double)microseconds / 1e6);
    return 0;
}

int nanosleep(const struct timespec* request, struct timespec* remaining)
{
    if (!valid(request)) {
        errno = EINVAL;
        return -1;
    }
    record("nanosleep", secondsOf(request));
    if (remaining != NULL)
        remaining->tv_sec = remaining->tv_nsec = 0;
    return 0;
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec* request, struct timespec* remaining)
{
    if (!valid(request))
        return EINVAL;
    double seconds = secondsOf(request);
    if (flags & TIMER_ABSTIME) {
        struct timespec now;
        if (clock_gettime(clock, &now) != 0)
            return EINVAL;
        seconds -= secondsOf(&now);
        if (seconds < 0)
            seconds = 0;
    }
    record("clock_nanosleep", seconds);
    if (remaining != NULL && !(flags & TIMER_ABSTIME))
        remaining->tv_sec = remaining->tv_nsec = 0;
    return 0;
}

/* ---- opens of SCSI nodes ---- */

static int missingScsiNode(const char* path)
{
    if (path == NULL || strncmp(path, "/dev/s", 6) != 0 || (path[6] != 'd' && path[6] != 'g'))
        return 0;
    const char* root = getenv("UMOCKDEV_DIR");
    char full[PATH_MAX];
    int length = snprintf(full, sizeof(full), "%s%s", root != NULL ? root : "", path);
    if (length <= 0 || (size_t)length >= sizeof(full))
        return 0;
    int saved = errno;
    long found = syscall(SYS_faccessat, AT_FDCWD, full, F_OK);
    errno = saved;
    return found != 0;
}

static void* next(const char* name)
{
    void* function = dlsym(RTLD_NEXT, name);
    if (function == NULL) {
        fprintf(stderr, "zago sleep preload: no next %s\n", name);
        abort();
    }
    return function;
}

static int needsMode(int flags) { return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE; }

#define OPEN_WRAPPER(name)                                                                                   \
    int name(const char* path, int flags, ...)                                                               \
    {                                                                                                        \
        mode_t mode = 0;                                                                                     \
        if (needsMode(flags)) {                                                                              \
            va_list args;                                                                                    \
            va_start(args, flags);                                                                           \
            mode = va_arg(args, mode_t);                                                                     \
            va_end(args);                                                                                    \
        }                                                                                                    \
        if (missingScsiNode(path)) {                                                                         \
            errno = ENOENT;                                                                                  \
            return -1;                                                                                       \
        }                                                                                                    \
        static int (*real)(const char*, int, ...) = NULL;                                                    \
        if (real == NULL)                                                                                    \
            real = (int (*)(const char*, int, ...))next(#name);                                              \
        return real(path, flags, mode);                                                                      \
    }

#define OPENAT_WRAPPER(name)                                                                                 \
    int name(int dirfd, const char* path, int flags, ...)                                                    \
    {                                                                                                        \
        mode_t mode = 0;                                                                                     \
        if (needsMode(flags)) {                                                                              \
            va_list args;                                                                                    \
            va_start(args, flags);                                                                           \
            mode = va_arg(args, mode_t);                                                                     \
            va_end(args);                                                                                    \
        }                                                                                                    \
        if (missingScsiNode(path)) {                                                                         \
            errno = ENOENT;                                                                                  \
            return -1;                                                                                       \
        }                                                                                                    \
        static int (*real)(int, const char*, int, ...) = NULL;                                               \
        if (real == NULL)                                                                                    \
            real = (int (*)(int, const char*, int, ...))next(#name);                                         \
        return real(dirfd, path, flags, mode);                                                               \
    }

#define FORTIFIED_WRAPPER(name)                                                                              \
    int name(const char* path, int flags)                                                                    \
    {                                                                                                        \
        if (missingScsiNode(path)) {                                                                         \
            errno = ENOENT;                                                                                  \
            return -1;                                                                                       \
        }                                                                                                    \
        static int (*real)(const char*, int) = NULL;                                                         \
        if (real == NULL)                                                                                    \
            real = (int (*)(const char*, int))next(#name);                                                   \
        return real(path, flags);                                                                            \
    }

OPEN_WRAPPER(open)
OPEN_WRAPPER(open64)
OPENAT_WRAPPER(openat)
OPENAT_WRAPPER(openat64)
FORTIFIED_WRAPPER(__open_2)
FORTIFIED_WRAPPER(__open64_2)

/* ---- unmounts ---- */

/* Records one call that has returned `result` and hands the result and its
 * errno back unchanged. */
static int recordUmount(const char* function, const char* target, int flags, int result)
{
    int error = result == 0 ? 0 : errno;
    char line[PATH_MAX + 64];
    int length = snprintf(line, sizeof(line), "%s %s %d = %d\n", function, target != NULL ? target : "(null)", flags,
                          error);
    if (length > 0 && (size_t)length < sizeof(line))
        appendLine("ZAGO_UMOUNT_LOG", line, length);
    errno = error;
    return result;
}

int umount2(const char* target, int flags)
{
    static int (*real)(const char*, int) = NULL;
    if (real == NULL)
        real = (int (*)(const char*, int))next("umount2");
    return recordUmount("umount2", target, flags, real(target, flags));
}

int umount(const char* target)
{
    static int (*real)(const char*) = NULL;
    if (real == NULL)
        real = (int (*)(const char*))next("umount");
    return recordUmount("umount", target, 0, real(target));
}
