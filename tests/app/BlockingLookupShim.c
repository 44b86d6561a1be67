/* Preloaded into the bridge to make a name lookup hang, as one does when the
 * network's resolver never answers: getaddrinfo for a name under ".invalid"
 * never returns and never asks any resolver; it first creates the file named by
 * VARNELLO_BLOCKED_LOOKUP_MARK, so that a test knows the lookup has begun. Every
 * other lookup goes to the C library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

typedef int (*Lookup)(const char*, const char*, const struct addrinfo*, struct addrinfo**);

static int isUnderInvalid(const char* node) {
    static const char suffix[] = ".invalid";
    const size_t length = node == NULL ? 0 : strlen(node);
    return length >= sizeof suffix - 1 && strcmp(node + length - (sizeof suffix - 1), suffix) == 0;
}

int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                struct addrinfo** result) {
    if (!isUnderInvalid(node)) {
        const Lookup next = (Lookup)dlsym(RTLD_NEXT, "getaddrinfo");
        return next == NULL ? EAI_SYSTEM : next(node, service, hints, result);
    }
    const char* mark = getenv("VARNELLO_BLOCKED_LOOKUP_MARK");
    if (mark != NULL) {
        const int descriptor =
            (int)syscall(SYS_openat, AT_FDCWD, mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (descriptor >= 0) {
            syscall(SYS_close, descriptor);
        }
    }
    /* Until the process ends. */
    for (;;) {
        const struct timespec hour = {3600, 0};
        nanosleep(&hour, NULL);
    }
}
