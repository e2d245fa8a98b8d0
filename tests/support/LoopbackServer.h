// Stand-in servers for tests, each on a loopback address of its own (127.x.y.z) so that
// tests running side by side in several processes do not collide on port 443.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/server/StandinServer.h"

// A loopback address that no other test of this process has been given; addresses of
// different processes differ too, as far as their process ids do.
std::string NextLoopbackAddress();

// Starts a stand-in server on port (443 unless told otherwise) of a fresh loopback address,
// trying further addresses while one is taken. Null when none could be bound.
std::unique_ptr<StandinServer> StartLoopbackServer(DWORD port = StandinServer::kDefaultPort);

// The command is answered by exactly these bytes from now on.
void AnswerWithBytes(StandinServer& server, DWORD code, const std::vector<BYTE>& bytes);
