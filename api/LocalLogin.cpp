#include "api/LocalLogin.h"

#include "api/ChannelOpening.h"
#include "api/DataServer.h"
#include "api/ExportFrame.h"
#include "kelvane.h"

int32_t ConnectServer(Csocketclient* channel)
{
    ExportFrame frame(u"ConnectServer", u"22");
    if (!channel->IsConnected()) {
        WCHAR text[kConnectTextSize] = {};
        if (channel->Connect(text) == 0)
            return frame.Return(u"31", 0);
    }
    return frame.Return(u"35", 1);
}

int32_t AuthenticateUser(Csocketclient* channel, uint32_t* maintenance, uint32_t* lockedout)
{
    ExportFrame frame(u"AuthenticateUser", u"42");
    char dataServer[kDataServerSize] = {};
    channel->SetAutoSession(1);
    if (!channel->LoginUser(maintenance, lockedout)) {
        frame.Var(u"maintenance", *maintenance);
        frame.Var(u"lockedout", *lockedout);
        frame.Error(55, u"Execute Authenticate User has failed.");
        return frame.Return(u"56", 0);
    }
    CopyServerHost(*channel, dataServer);
    uint32_t dataServerMaintenance = 0;
    if (!VerifyServer(channel, dataServer, &dataServerMaintenance)) {
        frame.Error(63, u"Unable to verify server.");
        channel->Disconnect(1);
        return frame.Return(u"65", 0);
    }
    if (IsCurrentHost(*channel, dataServer)) {
        *maintenance = dataServerMaintenance;
        return frame.Return(u"71", 1);
    }
    channel->Disconnect(1);
    PointChannelAt(*channel, dataServer);
    if (!ConnectServer(channel)) {
        frame.Error(78, u"ConnectServer has failed.");
        return frame.Return(u"79", 0);
    }
    if (!channel->LoginUser(maintenance, lockedout)) {
        frame.Error(84, u"Execute Authenticate User has failed.");
        return frame.Return(u"85", 0);
    }
    return frame.Return(u"88", 1);
}
