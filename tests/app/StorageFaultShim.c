/* Preloaded into the bridge to make its storage fail on demand: while the file
 * named by VARNELLO_STORAGE_FAULT holds "fsync", every fsync and fdatasync
 * fails with EIO; while it holds "rename", every rename fails with ENOSPC.
 * Reading the file on each call lets a test switch faults on and off while
 * the program runs. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

static int faultActive(const char* name) {
    const char* control = getenv("VARNELLO_STORAGE_FAULT");
    if (control == NULL) {
        return 0;
    }
    /* Raw system calls: these must not recurse into the functions replaced here. */
    const int descriptor = (int)syscall(SYS_openat, AT_FDCWD, control, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return 0;
    }
    char text[32] = {0};
    const long got = syscall(SYS_read, descriptor, text, sizeof text - 1);
    syscall(SYS_close, descriptor);
    return got > 0 && strstr(text, name) != NULL;
}

int fsync(int descriptor) {
    if (faultActive("fsync")) {
        errno = EIO;
        return -1;
    }
    return (int)syscall(SYS_fsync, descriptor);
}

int fdatasync(int descriptor) {
    if (faultActive("fsync")) {
        errno = EIO;
        return -1;
    }
    return (int)syscall(SYS_fdatasync, descriptor);
}

int rename(const char* from, const char* to) {
    if (faultActive("rename")) {
        errno = ENOSPC;
        return -1;
    }
    return (int)syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to);
}
