/* A host with functions of its own named VerifyServer and AuthenticateMachine, exported from
 * the program as a plug-in host exports its symbols. It logs a user and a machine in at the
 * server given as argument; the library's logins must run its own steps, not the host's. */
#include <kelvane.h>
#include <stdio.h>

#include "HostText.h"

static int hostFunctionCalls;

bool VerifyServer(Csocketclient* channel, char* dataServer, uint32_t* maintenance)
{
    (void)channel;
    (void)dataServer;
    (void)maintenance;
    ++hostFunctionCalls;
    return false;
}

bool AuthenticateMachine(Csocketclient* channel, uint32_t* maintenance, uint32_t* lockedout)
{
    (void)channel;
    (void)maintenance;
    (void)lockedout;
    ++hostFunctionCalls;
    return false;
}

static void Report(const char* what, Csocketclient* channel, uint32_t flags)
{
    printf("%s %s, flags 0x%x\n", what, channel != NULL ? "opened" : "not opened", flags);
    CloseChannel(channel);
}

int main(int argc, char** argv)
{
    char16_t server[kHostTextSize];
    if (argc != 2 || !WidenAscii(argv[1], server))
        return 2;
    uint32_t flags = 0;
    Csocketclient* channel =
        OpenChannel(server, u"alice", u"secret", &flags, 0, u"", 0, u"", u"");
    Report("user", channel, flags);
    flags = 0;
    channel = OpenChannelEx(server, "machine-key", &flags, 0, u"", 0, u"", u"");
    Report("machine", channel, flags);
    printf("host functions called %d times\n", hostFunctionCalls);
    return 0;
}
