#include "tools/server/CommandTable.h"

#include "tools/server/CommandHandlers.h"

CommandTable::CommandTable()
{
    m_handlers[kDisconnect] = Disconnect;
    m_handlers[kGetCommandIndex] = GetCommandIndex;
    RegisterCommandHandlers(*this);
}

void CommandTable::Set(DWORD code, CommandHandler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handlers[code] = std::move(handler);
}

CommandHandler CommandTable::Find(DWORD code) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_handlers.find(code);
    return found != m_handlers.end() ? found->second : CommandHandler{};
}

void CommandTable::Dispatch(RequestReader& request, ReplyWriter& reply, ServerModel& model) const
{
    CommandHandler handler = Find(request.Code());
    if (!handler) {
        reply.PutU32(0);
        reply.PutU32(0);
        return;
    }
    handler(request, reply, model);
}

// The farewell of a client: no reply, the connection ends.
void CommandTable::Disconnect(RequestReader&, ReplyWriter& reply, ServerModel&)
{
    reply.NoReply();
    reply.CloseConnection();
}

// Result 1, the connection's command index, a word the client keeps. The connection keeps
// its index: its logins are sealed with it, whatever other connections were handed since.
void CommandTable::GetCommandIndex(RequestReader& request, ReplyWriter& reply, ServerModel& model)
{
    request.Connection().commandIndex = model.NextCommandIndex();
    reply.PutU32(1);
    reply.PutU64(request.Connection().commandIndex);
    reply.PutU32(0);
}
