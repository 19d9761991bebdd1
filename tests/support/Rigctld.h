#pragma once

// A real rigctld for tests: `rigctld -m 1` started on 127.0.0.1 at a free port. The test's
// CMakeLists defines QUILLON_RIGCTLD, the daemon's path.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace quillon::test {

// A TCP port on 127.0.0.1 that nothing listened on a moment ago.
inline int freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

// A connection to 127.0.0.1:port, or -1.
inline int connectTo(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
        return s;
    ::close(s);
    return -1;
}

// `rigctld -m 1` (hamlib's dummy rig) on 127.0.0.1 at a free port, ended with the test. The
// connection that found it listening stays open while it runs: rigctld 4.5 closes a
// departed client's socket more than once, which can close a connection being accepted.
class Rigctld
{
public:
    Rigctld()
    {
        for (int attempt = 0; attempt < 5 && m_pid <= 0; ++attempt)
            start();
    }
    ~Rigctld()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            ::close(m_ready);
        }
    }
    Rigctld(const Rigctld &) = delete;
    Rigctld &operator=(const Rigctld &) = delete;

    bool running() const { return m_pid > 0; }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }
    void signal(int sig) { ::kill(m_pid, sig); }

private:
    void start()
    {
        m_port = freePort();
        const std::string port = std::to_string(m_port);
        const char *argv[] = {"rigctld", "-m", "1", "-T", "127.0.0.1", "-t", port.c_str(), nullptr};
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, QUILLON_RIGCTLD, &files, nullptr,
                                        const_cast<char *const *>(argv), environ);
        posix_spawn_file_actions_destroy(&files);
        if (spawned != 0)
            return;
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
            if (::waitpid(pid, nullptr, WNOHANG) == pid)
                return; // the port was taken meanwhile: another one
            m_ready = connectTo(m_port);
            if (m_ready >= 0) {
                m_pid = pid;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }

    pid_t m_pid = -1;
    int m_port = 0;
    int m_ready = -1;
};

} // namespace quillon::test
