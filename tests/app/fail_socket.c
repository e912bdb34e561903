/* Preloaded into the application by its process test: every socket() call
 * fails, as in a sandbox without network access. */
#include <errno.h>
#include <sys/socket.h>

int socket(int domain, int type, int protocol) {
    (void)domain;
    (void)type;
    (void)protocol;
    errno = EACCES;
    return -1;
}
