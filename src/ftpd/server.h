#pragma once
// The daemon: FTP listeners, the admin interface on 127.0.0.1, the local
// control channel, the server state word and the HTTP serving of code 190.
// Everything runs on one Asio event loop; only Stop() may be called from
// another thread.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ftpd/account.h"
#include "ftpd/admin_codec.h"
#include "ftpd/config.h"
#include "ftpd/ftp_tls.h"
#include "platform/asio.h"
#include "platform/autoban.h"

namespace quarno::ftpd {

class FtpSession;
class AdminConnection;
class Doors;

// State word bits as the admin protocol carries them.
enum StateBit : uint16_t {
  kStateOnline = 0x01,
  kStateGoingOfflineNow = 0x02,  // users are logged out at once
  kStateWaitTransfers = 0x04,    // offline once running transfers end
  kStateWaitLogout = 0x08,       // offline once every user has left
  kStateLocked = 0x10,           // no new connections
};

// HTTP serving of the home folder (control codes 190/191).
class HttpServing {
 public:
  virtual ~HttpServing() = default;
  virtual bool Start(int port, const std::string& home, std::string& why) = 0;
  virtual void Stop() = 0;
  virtual bool Running() const = 0;
  // Failed HTTP logins feed the same ban as FTP ones.
  virtual void SetAutoban(std::shared_ptr<platform::Autoban> /*autoban*/) {}
};
// The main program's HTTP server (same request handling); `listen_address`
// empty means all local addresses.
// The charset and router MAC come from the daemon's owner, read per request.
using CharsetProvider = std::function<std::optional<std::string>()>;
using MacProvider = std::function<std::array<uint8_t, 6>()>;
std::unique_ptr<HttpServing> MakeHttpServing(const std::string& listen_address,
                                             CharsetProvider ftp_charset, MacProvider router_mac);

struct ServerOptions {
  std::string config_path;     // "FileZilla Server.xml"
  std::string listen_address;  // FTP listeners; empty: all addresses (IPv6 and IPv4)
  std::string control_socket;  // Unix socket for the control codes; empty: none
  std::string home_folder;     // served over HTTP by code 190
  std::function<bool(std::string&)> http_port;  // reads BOOT_HTTP; false when unset
  // The stored FTP charset (nullopt when missing), read when a session starts
  // and on OPTS UTF8 OFF; one rule for FTP and HTTP: httpd::FtpCharsetIsUtf8.
  CharsetProvider ftp_charset;
  // The router MAC that HTTP serving's identification answer shows.
  MacProvider router_mac;
  std::unique_ptr<HttpServing> http;
  // How long a failed login waits before its answer; tests shorten it.
  std::chrono::milliseconds failed_login_delay{1000};
  int max_sessions_when_unlimited = 512;
  // Connections from one address that have not logged in yet: beyond this
  // one address could fill every session place until the login time-out.
  int max_unauthenticated_per_address = 64;
  // Tests run their admin client inside the daemon's process.
  bool admin_from_own_process = false;
  // Whether a client at `peer`, reached on the local address `local`, is on
  // the LAN (it gets the LAN address in PASV). Empty: PeerOnLan with the
  // interface's prefix.
  std::function<bool(const asio::ip::address& peer, const asio::ip::address& local)> lan_peer;
  // Where the TLS certificate is made; empty: platform::TlsIdentityFolder().
  std::string tls_folder;
};

// Loopback, link-local and private-range peers are on the LAN, and so is
// any peer inside the local address's own network (`prefix` bits).
bool PeerOnLan(const asio::ip::address& peer, const asio::ip::address& local,
               std::optional<int> prefix);

// Settings the sessions read, derived from the option set.
struct SessionSettings {
  int timeout_s = 120;
  int no_transfer_timeout_s = 600;
  int login_timeout_s = 60;
  std::string welcome;
  bool hide_welcome = false;
  std::string
      pasv_address;  // for clients outside the LAN; empty: the control connection's own address
  uint16_t pasv_min = 0, pasv_max = 0;  // 0: any free port
};

class Server {
 public:
  explicit Server(ServerOptions options);
  ~Server();

  // Loads the configuration (a missing or bad file leaves the defaults and is
  // logged), opens the control channel, the admin port and the FTP ports.
  // False when the control channel cannot be opened (another daemon holds it).
  bool Start(std::string& why);
  void Run();
  void Stop();  // any thread

  asio::io_context& io() { return io_; }

  // For sessions.
  const SessionSettings& settings() const { return settings_; }
  const FtpTls& tls() const { return tls_; }
  // Whether sessions name files in UTF-8 (else CP949) until OPTS UTF8 ON.
  bool NamesInUtf8() const;
  bool AcceptsLogins() const;
  std::shared_ptr<const Account> FindAccount(const std::string& user) const;
  int LoggedInCount(const std::string& user) const;
  // Sessions of `user` logged in from `address`.
  int LoggedInCountFrom(const std::string& user, const std::string& address) const;
  bool IsLanPeer(const asio::ip::address& peer, const asio::ip::address& local) const;
  const ServerOptions& options() const { return options_; }
  Doors& doors() { return *doors_; }
  void OnLoggedIn(FtpSession& session);
  void OnSessionClosed(uint32_t id);
  void OnTransferEnded(FtpSession& session);

  // For the admin connections.
  void HandleAdmin(const std::shared_ptr<AdminConnection>& conn, const AdminMessage& message);
  void OnAdminClosed(AdminConnection* conn);

  // Introspection for tests (loop thread only).
  uint16_t state() const { return state_; }
  std::vector<uint16_t> ftp_ports() const;
  uint16_t admin_port() const { return admin_port_; }
  size_t session_count() const { return sessions_.size(); }

  // Control codes, as the control channel runs them: "OK" or "ERR <reason>".
  std::string RunControl(int code);

 private:
  void ApplyConfig(const ServerConfig& config, bool from_file, std::string* error);
  bool ApplyOptions(std::string* error);
  bool OpenAdmin(uint16_t port, std::string* error);
  bool RebindFtp(const std::vector<uint16_t>& ports, std::string* error);
  void AcceptFtp(const std::shared_ptr<asio::ip::tcp::acceptor>& acceptor);
  void AcceptAdmin();
  bool AdminPeerAllowed(const asio::ip::tcp::socket& socket);
  void AcceptControl();
  void SetState(uint16_t word);
  void SettleState();
  void BroadcastStatus(uint8_t id, const Bytes& payload);
  void ScheduleSweep();
  bool ReloadFile(std::string& why);
  int UnauthenticatedFrom(const asio::ip::tcp::socket& socket) const;
  size_t SessionCap() const;

  ServerOptions options_;
  asio::io_context io_;
  asio::signal_set signals_;
  asio::steady_timer sweep_;
  ServerConfig config_;
  std::vector<std::shared_ptr<const Account>> accounts_;
  SessionSettings settings_;
  FtpTls tls_;
  uint16_t state_ = kStateOnline;
  std::map<uint16_t, std::shared_ptr<asio::ip::tcp::acceptor>> ftp_acceptors_;
  std::unique_ptr<asio::ip::tcp::acceptor> admin_acceptor_;
  uint16_t admin_port_ = 0;
  std::unique_ptr<asio::local::stream_protocol::acceptor> control_acceptor_;
  std::map<uint32_t, std::shared_ptr<FtpSession>> sessions_;
  std::vector<std::shared_ptr<AdminConnection>> admins_;
  uint32_t next_id_ = 1;
  bool stopping_ = false;
  uint16_t http_port_ = 0;
  std::unique_ptr<Doors> doors_;
};

}  // namespace quarno::ftpd
