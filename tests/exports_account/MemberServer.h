// The login server of the interface tests with a member in its store: the user "alice", whose
// member authentication text is kMemberAuth, among the taken user names "alice" and "bob". It
// opens channels to itself through the library's exports and closes them at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kelvane.h"
#include "support/LoginServer.h"
#include "support/WireBytes.h"

class MemberServer : public LoginServer {
public:
    static constexpr const char* kMemberAuth = "member-auth-7";

    MemberServer();
    ~MemberServer();

    // Works with the member's data while no connection touches it.
    template <typename Work>
    auto Store(Work work)
    {
        return Server().Model().Service().With(work);
    }

    // Answers every later request with this code with exactly these bytes.
    void AnswerWith(DWORD code, const std::vector<BYTE>& payload);

    // A channel logged in as the member, or one that is only connected.
    Csocketclient* OpenUser();
    Csocketclient* OpenNoUser();

private:
    Csocketclient* Keep(Csocketclient* channel);

    std::vector<Csocketclient*> m_channels;
};
