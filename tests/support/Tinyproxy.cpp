#include "support/Tinyproxy.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const char kTinyproxy[] = "/usr/bin/tinyproxy";

sockaddr_in LoopbackAddress(unsigned port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port that was free a moment ago on 127.0.0.1.
unsigned FreePort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    unsigned port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

bool Accepts(unsigned port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = LoopbackAddress(port);
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

}

Tinyproxy::~Tinyproxy()
{
    Kill();
}

bool Tinyproxy::Start(const std::string& user, const std::string& password,
                      unsigned connectPort)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (Launch(user, password, connectPort))
            return true;
        Kill();
    }
    return false;
}

bool Tinyproxy::Launch(const std::string& user, const std::string& password,
                       unsigned connectPort)
{
    m_port = FreePort();
    if (m_port == 0)
        return false;
    std::string config = (m_dir.path() / "tinyproxy.conf").string();
    std::string output = (m_dir.path() / "tinyproxy.out").string();
    {
        std::ofstream file(config);
        file << "Port " << m_port << "\n"
             << "Listen 127.0.0.1\n"
             << "Timeout 60\n"
             << "MaxClients 32\n"
             << "LogFile \"" << (m_dir.path() / "tinyproxy.log").string() << "\"\n"
             << "LogLevel Info\n"
             << "Allow 127.0.0.1\n"
             << "ConnectPort " << connectPort << "\n";
        if (!user.empty())
            file << "BasicAuth " << user << " " << password << "\n";
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::string arguments[] = {"tinyproxy", "-d", "-c", config};
    char* argv[] = {arguments[0].data(), arguments[1].data(), arguments[2].data(),
                    arguments[3].data(), nullptr};
    int rc = posix_spawn(&m_pid, kTinyproxy, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        return false;
    }
    for (int wait = 0; wait < 500; ++wait) {
        if (Accepts(m_port))
            return true;
        int status;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void Tinyproxy::Kill()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    for (int wait = 0; wait < 200; ++wait) {
        int status;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string Tinyproxy::Log() const
{
    std::ostringstream text;
    for (const char* name : {"tinyproxy.out", "tinyproxy.log"}) {
        std::ifstream file(m_dir.path() / name);
        text << file.rdbuf();
    }
    return text.str();
}
