/* A C host that links the library directly and opens a channel without login. */
#include <kelvane.h>
#include <stdio.h>

int main(int argc, char** argv)
{
    (void)argv;
    if (argc < 2)
        return 0;
    Csocketclient* channel = OpenChannelNoUser(u"127.0.0.1", 0, u"", 0, u"", u"");
    printf("%s\n", channel != NULL ? "connected" : "not connected");
    CloseChannel(channel);
    return 0;
}
