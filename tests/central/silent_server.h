// SPDX-License-Identifier: MIT
#pragma once
// Network ends for the central tests that need no PostgreSQL at all:
// - SilentServer: a host that takes connections and then never says a word (a server hung or a
//   firewall that swallows packets looks the same to a client: it waits for its time-out);
// - RefusingPort: a port held bound but not listening, so connecting is refused at once and no
//   other program on the machine can take the port meanwhile (a port found free and let go can).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace kalivor::central::test {

inline int boundLoopbackSocket(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  port = 0;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  return fd;
}

class SilentServer {
 public:
  SilentServer() {
    listen_ = boundLoopbackSocket(port_);
    if (listen_ < 0 || ::listen(listen_, 16) != 0) port_ = 0;
  }
  ~SilentServer() {
    for (int fd : accepted_) ::close(fd);
    if (listen_ >= 0) ::close(listen_);
  }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& user = "postgres") const {
    return "postgresql://" + user + "@127.0.0.1:" + std::to_string(port_) + "/silent";
  }
  // Waits up to `seconds` for a client to connect, and keeps its connection open, unanswered.
  // True when one came.
  bool acceptOne(double seconds) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0) return false;
    const int fd = ::accept(listen_, nullptr, nullptr);
    if (fd < 0) return false;
    accepted_.push_back(fd);
    return true;
  }
  int accepted() const { return static_cast<int>(accepted_.size()); }

 private:
  int listen_ = -1;
  int port_ = 0;
  std::vector<int> accepted_;
};

class RefusingPort {
 public:
  RefusingPort() { fd_ = boundLoopbackSocket(port_); }
  ~RefusingPort() {
    if (fd_ >= 0) ::close(fd_);
  }
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Seconds `call` took, in real time: the network's waits are real, so are these measures.
template <typename Call>
double secondsTaken(Call&& call) {
  const auto from = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

}  // namespace kalivor::central::test
