// SPDX-License-Identifier: MIT
#pragma once
// A TCP relay for the tests: passes a client's connection on to a server on 127.0.0.1 and cuts it
// after a random number of bytes (either way), as a flaky network or a failing switch would.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace kalivor::central::test {

class TcpRelay {
 public:
  // Connections are cut after a number of bytes drawn from [minCut, maxCut].
  TcpRelay(int serverPort, std::size_t minCut, std::size_t maxCut, unsigned seed)
      : serverPort_(serverPort), random_(seed), cut_(minCut, maxCut) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::listen(listen_, 16) == 0 &&
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
      port_ = ntohs(a.sin_port);
    }
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~TcpRelay() {
    stop_ = true;
    acceptor_.join();
    ::close(listen_);
    std::lock_guard lock(mutex_);
    for (auto& t : pipes_) t.join();
  }
  int port() const { return port_; }
  int cuts() const { return cuts_; }
  int connections() const { return connections_; }

 private:
  static sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
  }

  void acceptLoop() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int client = ::accept(listen_, nullptr, nullptr);
      if (client < 0) continue;
      const int server = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a = loopback(serverPort_);
      if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(client);
        ::close(server);
        continue;
      }
      ++connections_;
      std::size_t limit;
      {
        std::lock_guard lock(mutex_);
        limit = cut_(random_);
      }
      std::lock_guard lock(mutex_);
      pipes_.emplace_back([this, client, server, limit] { pump(client, server, limit); });
    }
  }

  void pump(int client, int server, std::size_t limit) {
    std::size_t passed = 0;
    char buf[16384];
    bool open = true;
    while (open && !stop_) {
      pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      if (::poll(p, 2, 50) <= 0) continue;
      for (int i = 0; i < 2 && open; ++i) {
        if ((p[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
        if (n <= 0) {
          open = false;
          break;
        }
        // The cut may fall inside a message: only part of it gets through.
        std::size_t give = static_cast<std::size_t>(n);
        if (passed + give > limit) give = limit - passed;
        const int to = i == 0 ? server : client;
        if (give > 0 && ::write(to, buf, give) != static_cast<ssize_t>(give)) open = false;
        passed += give;
        if (passed >= limit) {
          ++cuts_;
          open = false;
        }
      }
    }
    ::shutdown(client, SHUT_RDWR);
    ::shutdown(server, SHUT_RDWR);
    ::close(client);
    ::close(server);
  }

  int serverPort_;
  int port_ = 0;
  int listen_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> cuts_{0};
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::mt19937 random_;
  std::uniform_int_distribution<std::size_t> cut_;
  std::thread acceptor_;
  std::vector<std::thread> pipes_;
};

}  // namespace kalivor::central::test
