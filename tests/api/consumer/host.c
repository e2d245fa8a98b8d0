/* A C host that links the installed library and calls it: the library itself refuses a channel
 * to a server text of blanks, so the call needs no network. Prints what the library answered. */
#include <kelvane.h>
#include <stdio.h>

int main(void)
{
    Csocketclient* channel = OpenChannelNoUser(u" ", 0, u"", 0, u"", u"");
    CloseChannel(channel);
    printf("%s\n", channel == NULL ? "refused" : "opened");
    return 0;
}
