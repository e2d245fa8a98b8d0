// The one place that maps command codes to their handlers in the stand-in server. A handler
// reads the request's fields, consults or changes the model, and writes the reply.
#pragma once

#include <functional>
#include <map>
#include <mutex>

#include "tools/server/ReplyWriter.h"
#include "tools/server/RequestReader.h"
#include "tools/server/ServerModel.h"

using CommandHandler =
    std::function<void(RequestReader& request, ReplyWriter& reply, ServerModel& model)>;

class CommandTable {
public:
    // Command codes the server answers.
    static constexpr DWORD kDisconnect = 0;
    static constexpr DWORD kGetCommandIndex = 75;

    CommandTable();

    // Adds or replaces the handler of a code.
    void Set(DWORD code, CommandHandler handler);
    // The handler of a code, empty when it has none: lets a handler wrap the one it replaces.
    CommandHandler Find(DWORD code) const;
    // Runs the handler of the request's code; an unknown code is answered with result 0 and
    // status 0.
    void Dispatch(RequestReader& request, ReplyWriter& reply, ServerModel& model) const;

private:
    static void Disconnect(RequestReader& request, ReplyWriter& reply, ServerModel& model);
    static void GetCommandIndex(RequestReader& request, ReplyWriter& reply, ServerModel& model);

    mutable std::mutex m_mutex;
    std::map<DWORD, CommandHandler> m_handlers;
};
