// SPDX-License-Identifier: MIT
#pragma once
// A thin RAII layer over libpq: one connection, results that free themselves, and failure texts
// that never show a password.
#include <libpq-fe.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"

namespace kalivor::central {

struct PgResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using PgResult = std::unique_ptr<PGresult, PgResultFree>;

// What a host-name lookup found: the host's addresses as numeric text, in the order to try them,
// or why there are none (the name service's own words, e.g. "Name or service not known").
struct HostAddresses {
  std::vector<std::string> addresses;
  std::string error;
};
// Looks a host name up; may block for as long as the name service takes.
using HostResolver = std::function<HostAddresses(const std::string& host)>;
// The system's lookup (getaddrinfo).
HostAddresses systemResolve(const std::string& host);
// The lookup every connect uses from now on (default: systemResolve); returns the one before.
HostResolver setHostResolver(HostResolver resolver);
// Lookups still running on a thread of their own: a connect that was stopped or timed out does
// not wait for the name service, whose answer then goes unused.
int hostLookupsRunning();

// The URL as it may be shown: any password in it (user:secret@ or password=...) is replaced.
std::string maskedUrl(std::string_view url);

class PgConnection {
 public:
  PgConnection() = default;
  ~PgConnection() { close(); }
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Every wait for the server (connecting, sending, awaiting an answer) looks at `cancel` a few
  // times a second; once it is set the wait ends, the connection is closed (the server rolls back
  // what was under way) and the call fails. So whoever owns the thread can end it promptly even
  // while the server is silent. The flag must outlive the connection's use.
  void setCancel(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  // Whether the last failure was a cancel rather than the server or the network.
  bool cancelled() const { return cancelled_; }

  // Connects to a "postgresql://user@host:port/db" URL (or a key=value string). The password comes
  // from ~/.pgpass or libpq's environment, or from the URL itself, never from us. Connection and
  // TCP time-outs are set so that a dead server or a cut network is noticed in seconds; the URL's
  // own settings win. Host names are looked up on a thread the connect does not have to wait for
  // (a cancel or the connect time-out ends the wait), then handed to libpq as addresses beside
  // the names. False with error() set when it fails.
  bool connect(const std::string& url);
  void close();
  bool ok() const;
  PGconn* handle() const { return conn_; }

  // Runs SQL with text parameters (nullopt = NULL). Returns the result when its status is
  // COMMAND_OK or TUPLES_OK, otherwise nullptr with error() set.
  PgResult exec(const std::string& sql,
                const std::vector<std::optional<std::string>>& params = {});
  // Runs SQL without parameters (several statements allowed); false with error() set.
  bool run(const std::string& sql);
  // COPY ... FROM STDIN with `data` in COPY's text format.
  bool copyIn(const std::string& copySql, std::string_view data);

  const std::string& error() const { return error_; }

 private:
  void setError(std::string_view what, const PGresult* result);
  // The hosts handed to libpq after the lookup, one entry each (no address: libpq's own, for a
  // socket or a numeric host; no ports: the port setting stays as it is); `unresolved` says which
  // names had no address.
  struct HostLists {
    std::vector<std::string> names, addresses, ports;
    std::string unresolved;
  };
  // Looks up the names among `hosts` on threads of their own, waiting in slices while watching
  // the cancel flag and `deadline`; false with error() set when it stopped or nothing resolved.
  bool lookUpHosts(const std::vector<std::string>& hosts, const std::vector<std::string>& ports,
                   LocalMs deadline, std::string_view what, HostLists& out);
  enum class Wait { Ready, Cancelled, TimedOut, Failed };
  // Waits until the socket can be read (or written, with `write`), the cancel flag is set or
  // `deadline` (on the clock; 0 for none) passes.
  Wait waitSocket(short events, LocalMs deadline);
  // Fails the call under way: `what` names it; a cancel also closes the connection.
  bool failWait(Wait why, std::string_view what);
  // Pushes what libpq queued to the server, reading whatever arrives meanwhile.
  bool flush(std::string_view what);
  // Reads until a result is ready; false when the wait failed.
  bool awaitResult(std::string_view what);
  // Every result of the statement sent: the last one when all succeeded, else nullptr.
  PgResult collect(std::string_view what);

  PGconn* conn_ = nullptr;
  std::string error_;
  const std::atomic<bool>* cancel_ = nullptr;
  bool cancelled_ = false;
};

// A text cell of a result (empty for NULL) and whether it is NULL.
std::string cell(const PGresult* r, int row, int column);
bool isNull(const PGresult* r, int row, int column);

// COPY text format: backslash, tab, line feed and carriage return escaped; "\N" is NULL.
void appendCopyField(std::string& out, std::string_view text);
inline void appendCopyNull(std::string& out) { out += "\\N"; }

}  // namespace kalivor::central
