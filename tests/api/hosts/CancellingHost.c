/* A host that cancels one of its threads while the thread waits inside OpenChannelNoUser for a
 * server that accepts the connection and never answers, then goes on using the library. The
 * silent server is this program's own listener on port 443 of a loopback address it picks. */
#include <arpa/inet.h>
#include <kelvane.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "HostText.h"

enum {
    kAddressSize = 16,
    /* Other test processes may hold an address: a few fresh ones are tried. */
    kAddressAttempts = 32,
    /* The thread's connection comes at once; a host that waits longer has lost it. */
    kAcceptWaitMs = 10000
};

/* Listens on port 443 of one of this process's own loopback addresses, spread over its
 * process id as the test servers' are (127.0.0.0/16 is left alone), and writes the address
 * taken; -1 when none could be bound. */
static int ListenSilently(char* address)
{
    for (unsigned attempt = 0; attempt < kAddressAttempts; ++attempt) {
        unsigned value = (unsigned)getpid() * kAddressAttempts + attempt;
        snprintf(address, kAddressSize, "127.%u.%u.%u", 1 + value / 254 / 256 % 254,
                 value / 254 % 256, 1 + value % 254);
        struct sockaddr_in local;
        memset(&local, 0, sizeof local);
        local.sin_family = AF_INET;
        local.sin_port = htons(443);
        inet_pton(AF_INET, address, &local.sin_addr);
        int listener = socket(AF_INET, SOCK_STREAM, 0);
        if (listener < 0)
            return -1;
        int reuse = 1;
        if (setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) == 0 &&
            bind(listener, (struct sockaddr*)&local, sizeof local) == 0 &&
            listen(listener, 1) == 0)
            return listener;
        close(listener);
    }
    return -1;
}

static void* OpenChannelThread(void* server)
{
    Csocketclient* channel = OpenChannelNoUser(server, 0, u"", 0, u"", u"");
    CloseChannel(channel);
    return NULL;
}

int main(void)
{
    char address[kAddressSize];
    char16_t server[kHostTextSize];
    int listener = ListenSilently(address);
    if (listener < 0 || !WidenAscii(address, server)) {
        printf("no loopback address free for port 443\n");
        return 3;
    }
    pthread_t thread;
    if (pthread_create(&thread, NULL, OpenChannelThread, server) != 0)
        return 4;
    /* Once the connection is accepted the thread is inside the export, on its way to waiting
     * for the server's answer; the cancellation takes effect at its next wait. */
    struct pollfd waiting = {listener, POLLIN, 0};
    if (poll(&waiting, 1, kAcceptWaitMs) != 1) {
        printf("the thread did not connect within %d s\n", kAcceptWaitMs / 1000);
        return 5;
    }
    int client = accept(listener, NULL, NULL);
    void* result = NULL;
    pthread_cancel(thread);
    pthread_join(thread, &result);
    printf("thread %s\n", result == PTHREAD_CANCELED ? "cancelled" : "returned");
    Csocketclient* blank = OpenChannelNoUser(u" ", 0, u"", 0, u"", u"");
    printf("blank server %s\n", blank != NULL ? "opened" : "not opened");
    CloseChannel(blank);
    close(client);
    close(listener);
    return 0;
}
