// SPDX-License-Identifier: MIT
#pragma once
// A private PostgreSQL server for the tests and the benchmark: initdb and pg_ctl of the installed
// PostgreSQL in a temporary folder, on a free port of 127.0.0.1, trust authentication, no fsync.
// fsync is off (the tests stop the server, never the machine). synchronous_commit is off too, as
// on servers tuned for speed: the forwarder must ask for durable commits itself, or a server
// stopped at once loses batches it acknowledged. Run as root (CI), the server runs as the "postgres" user (or "nobody"), which PostgreSQL asks.
// The folder and the server go when the object does.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kalivor::central::test {

inline int freeLocalPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  ::close(fd);
  return port;
}

class PgCluster {
 public:
  PgCluster() = default;
  ~PgCluster() { destroy(); }
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  // Makes and starts the cluster; false with skipReason() when PostgreSQL is not installed, or
  // with error() when it is but cannot be started.
  bool create() {
    bin_ = findBinDir();
    if (bin_.empty()) {
      skipReason_ = "PostgreSQL server programs (initdb, pg_ctl) not found under "
                    "/usr/lib/postgresql/*/bin: install the postgresql package";
      return false;
    }
    if (::geteuid() == 0) {
      const passwd* pw = ::getpwnam("postgres");
      if (pw == nullptr) pw = ::getpwnam("nobody");
      if (pw == nullptr) {
        skipReason_ = "running as root without a postgres or nobody user to run the server as";
        return false;
      }
      uid_ = pw->pw_uid;
      gid_ = pw->pw_gid;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "kalivor-pg-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      error_ = "cannot make a temporary folder";
      return false;
    }
    root_ = pattern;
    if (uid_ != 0 && ::chown(root_.c_str(), uid_, gid_) != 0) {
      error_ = "cannot hand the temporary folder to the server's user";
      return false;
    }
    ::chmod(root_.c_str(), 0700);
    if (!runAsServer({(bin_ / "initdb").string(), "-D", data(), "-A", "trust", "-U", "postgres",
                      "-E", "UTF8", "--locale=C", "-N"})) {
      error_ = "initdb failed: " + readLog();
      return false;
    }
    // Another test run on this machine may take the free port before the server binds it.
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = freeLocalPort();
      if (start()) return true;
    }
    return false;
  }

  bool start() {
    const std::string options = "-p " + std::to_string(port_) + " -k " + root_.string() +
                                " -c listen_addresses=127.0.0.1 -c fsync=off"
                                " -c synchronous_commit=off -c full_page_writes=off"
                                " -c max_connections=40 -c shared_buffers=32MB";
    if (!runAsServer({(bin_ / "pg_ctl").string(), "-D", data(), "-l", (root_ / "server.log").string(),
                      "-w", "-t", "60", "-o", options, "start"})) {
      error_ = "pg_ctl start failed: " + readLog();
      return false;
    }
    running_ = true;
    return true;
  }

  // Stops the server at once (as a crash or a pulled cable would look to a client).
  bool stop() {
    if (!running_) return true;
    running_ = false;
    return runAsServer({(bin_ / "pg_ctl").string(), "-D", data(), "-m", "immediate", "-w", "stop"});
  }

  void destroy() {
    stop();
    if (!root_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(root_, ec);
      root_.clear();
    }
  }

  // psql run as the server's user (for the tests' own SQL); stdout is returned.
  std::string psql(const std::string& db, const std::string& sql, bool* ok = nullptr) {
    const std::string out = (root_ / "psql.out").string();
    const bool good = runAsServer({(bin_ / "psql").string(), "-X", "-q", "-A", "-t", "-v",
                                   "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p",
                                   std::to_string(port_), "-U", "postgres", "-d", db, "-c", sql,
                                   "-o", out});
    if (ok != nullptr) *ok = good;
    std::ifstream in(out);
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }

  std::string url(const std::string& db, int port = 0) const {
    return "postgresql://postgres@127.0.0.1:" + std::to_string(port != 0 ? port : port_) + "/" +
           db;
  }
  int port() const { return port_; }
  // The folder of the server's Unix socket.
  const std::filesystem::path& socketDir() const { return root_; }
  bool running() const { return running_; }
  const std::string& skipReason() const { return skipReason_; }
  const std::string& error() const { return error_; }
  const std::filesystem::path& bin() const { return bin_; }

 private:
  std::string data() const { return (root_ / "data").string(); }

  std::string readLog() const {
    std::ifstream in(root_ / "cmd.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  static std::filesystem::path findBinDir() {
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
      const auto bin = e.path() / "bin";
      if (std::filesystem::exists(bin / "initdb") && std::filesystem::exists(bin / "pg_ctl")) {
        found.push_back(bin);
      }
    }
    std::sort(found.begin(), found.end());
    return found.empty() ? std::filesystem::path() : found.back();
  }

  // Runs a program as the server's user, its output into cmd.log; true on exit code 0.
  bool runAsServer(const std::vector<std::string>& argv) const {
    const std::string log = (root_ / "cmd.log").string();
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
      if (uid_ != 0) {
        ::setgroups(0, nullptr);
        if (::setgid(gid_) != 0 || ::setuid(uid_) != 0) ::_exit(126);
      }
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::close(fd);
      }
      const int devnull = ::open("/dev/null", O_RDONLY);
      if (devnull >= 0) ::dup2(devnull, 0);
      // The server must not inherit the test's sockets (a relay's listener) or signals.
      for (int f = 3; f < 1024; ++f) ::close(f);
      ::chdir(root_.c_str());
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  std::filesystem::path bin_;
  std::filesystem::path root_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  int port_ = 0;
  bool running_ = false;
  std::string skipReason_;
  std::string error_;
};

}  // namespace kalivor::central::test
