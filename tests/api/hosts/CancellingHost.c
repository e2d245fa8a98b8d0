/* A host that cancels one of its threads while the thread waits inside OpenChannelNoUser for a
 * server that accepts the connection and never answers, then goes on using the library. The
 * silent server is this program's own listener on port 443 of the address given as argument. */
#include <arpa/inet.h>
#include <kelvane.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "HostText.h"

static int ListenSilently(const char* address)
{
    struct sockaddr_in local;
    memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_port = htons(443);
    if (inet_pton(AF_INET, address, &local.sin_addr) != 1)
        return -1;
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int reuse = 1;
    if (listener < 0 || setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
        bind(listener, (struct sockaddr*)&local, sizeof local) != 0 || listen(listener, 1) != 0) {
        if (listener >= 0)
            close(listener);
        return -1;
    }
    return listener;
}

static void* OpenChannelThread(void* server)
{
    Csocketclient* channel = OpenChannelNoUser(server, 0, u"", 0, u"", u"");
    CloseChannel(channel);
    return NULL;
}

int main(int argc, char** argv)
{
    char16_t server[kHostTextSize];
    if (argc != 2 || !WidenAscii(argv[1], server))
        return 2;
    int listener = ListenSilently(argv[1]);
    if (listener < 0)
        return 3;
    pthread_t thread;
    if (pthread_create(&thread, NULL, OpenChannelThread, server) != 0)
        return 4;
    /* Once the connection is accepted the thread is inside the export, on its way to waiting
     * for the server's answer; the cancellation takes effect at its next wait. */
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
