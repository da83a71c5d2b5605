/* A disk that fills up, or a write that a signal interrupts, for the write
 * fault tests. Preloaded into a program (LD_PRELOAD) or linked into a test
 * program, it lets KELMO_WRITE_FAULT_AFTER bytes (from the environment, or set
 * with kelmo_write_fault_arm) reach regular files through fwrite and write;
 * every later write to a regular file then fails: with ENOSPC ("full"), or
 * after raising SIGINT with EINTR ("interrupt", KELMO_WRITE_FAULT=interrupt).
 * PNG, JPEG and BMP encoders and the kelmo tool all write through fwrite.
 * Writes to terminals, pipes and /dev/null (messages) always pass. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static long budget = -1; /* bytes still allowed; -1: no fault */
static int interrupt = 0;
static int configured = 0;

__attribute__((visibility("default"))) void kelmo_write_fault_arm(long bytes, int interruptBySignal) {
    configured = 1;
    budget = bytes;
    interrupt = interruptBySignal;
}

static void configure(void) {
    if (configured) return;
    configured = 1;
    const char *after = getenv("KELMO_WRITE_FAULT_AFTER");
    const char *kind = getenv("KELMO_WRITE_FAULT");
    if (after != NULL) budget = atol(after);
    interrupt = kind != NULL && strcmp(kind, "interrupt") == 0;
}

/* How many of `size` bytes to fd may go through; when fewer, the fault
 * happens now (errno set, SIGINT raised first for an interruption). */
static size_t allowed(int fd, size_t size) {
    struct stat status;
    configure();
    if (budget < 0 || size == 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return size;
    if ((size_t)budget >= size) {
        budget -= (long)size;
        return size;
    }
    const size_t passed = (size_t)budget;
    budget = 0;
    if (interrupt) raise(SIGINT);
    errno = interrupt ? EINTR : ENOSPC;
    return passed;
}

__attribute__((visibility("default"))) ssize_t write(int fd, const void *bytes, size_t size) {
    static ssize_t (*next)(int, const void *, size_t);
    if (next == NULL) next = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    const size_t passed = allowed(fd, size);
    if (passed == 0 && size > 0) return -1;
    return next(fd, bytes, passed);
}

__attribute__((visibility("default"))) size_t fwrite(const void *bytes, size_t itemSize, size_t count, FILE *file) {
    static size_t (*next)(const void *, size_t, size_t, FILE *);
    if (next == NULL) next = (size_t(*)(const void *, size_t, size_t, FILE *))dlsym(RTLD_NEXT, "fwrite");
    if (itemSize == 0 || count == 0) return 0;
    const size_t passed = allowed(fileno(file), itemSize * count) / itemSize;
    if (passed < count) {
        const size_t written = passed > 0 ? next(bytes, itemSize, passed, file) : 0;
        fflush(file);
        errno = interrupt ? EINTR : ENOSPC;  /* the fault's, not the flush's */
        return written;
    }
    return next(bytes, itemSize, count, file);
}
