#pragma once
// One FTP control connection.
#include <deque>
#include <optional>

#include "ftpd/command.h"
#include "ftpd/data_channel.h"
#include "ftpd/ftp_tls.h"
#include "ftpd/listing.h"
#include "ftpd/server.h"
#include "ftpd/vfs.h"
#include "platform/admission.h"

namespace quarno::ftpd {

// The command side: reads command lines, checks rights, answers. What moves
// over data connections is the DataChannel's business.
class FtpSession : public std::enable_shared_from_this<FtpSession>, public DataChannel::Listener {
 public:
  using Clock = std::chrono::steady_clock;
  FtpSession(Server& server, asio::ip::tcp::socket socket, uint32_t id);
  ~FtpSession() override;

  void Start();
  // Sends `reply` (if any) and closes; the session then leaves the server.
  void Close(const std::string& reply = {});
  void CheckTimeouts(Clock::time_point now);
  // The place this connection holds until it logs in.
  void HoldPreLoginTicket(platform::Admission::Ticket ticket) { prelogin_ = std::move(ticket); }

  uint32_t id() const { return id_; }
  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }
  int64_t connected_at() const { return connected_at_; }
  bool logged_in() const { return logged_in_; }
  bool closing() const { return closing_; }
  const std::string& user() const { return user_; }
  bool transferring() const { return data_ && data_->busy(); }

  // DataChannel::Listener
  void OnDataReply(int code, const std::string& text) override;
  void OnTransferEnded(int code, const std::string& text, TransferKind kind) override;

 private:
  enum class ListStyle { kList, kNlst, kMlsd, kStat };
  struct ListingJob;

  void ReadMore();
  void OnRead(const asio::error_code& ec, size_t n);
  void ProcessLines();
  void Execute(const Command& cmd);
  void Reply(int code, const std::string& text);
  void Send(std::string bytes);
  void WriteNext();
  void Done();  // a command has finished: take the next queued line
  void Finalize();

  bool RequireLogin();
  bool FromWire(const std::string& arg, std::string& utf8);
  std::string ToWire(const std::string& utf8) const;
  std::string Quote(const std::string& virtual_path) const;
  bool ResolveOrReply(const std::string& arg, PathNode& node);
  bool HiddenLink(const std::string& virtual_dir, const DirItem& item) const;

  void DoUser(const std::string& arg);
  void DoPass(const std::string& arg);
  void CheckPassword(const std::string& arg);
  void DoCwd(const std::string& arg);
  void DoPasv(bool extended);
  void DoPort(const std::string& arg, bool extended);
  void DoList(const std::string& arg, ListStyle style);
  void DoMlst(const std::string& arg);
  void DoRetr(const std::string& arg);
  void DoStor(const std::string& arg, bool append);
  void DoDele(const std::string& arg);
  void DoMkd(const std::string& arg);
  void DoRmd(const std::string& arg);
  void DoRnfr(const std::string& arg);
  void DoRnto(const std::string& arg);
  void DoSize(const std::string& arg, bool mdtm);
  void DoStat(const std::string& arg);
  void DoMfmt(const std::string& arg);
  void DoSite(const std::string& arg);
  void SetModified(const std::string& path_wire, int64_t when, int code,
                   const std::string& done_text);
  // Checks and opens what a LIST/NLST/MLSD/STAT argument names (a pattern
  // in its last component lists the matches); replies and returns nullptr
  // when it may not or cannot be listed.
  ListingSource PrepareListing(const std::string& arg, ListStyle style, std::string& quoted);
  bool NextListingPart(ListingJob& job, std::string& out);
  void DoOpts(const std::string& arg);
  void DoAbor();
  // TLS (session_tls.cc).
  void DoTls(const Command& cmd);
  void MaybeStartTls();
  void OnReadWhileStartingTls(const asio::error_code& ec, size_t n);
  bool TlsRefusesLogin();
  bool TlsRefusesData();
  void StartTransfer(TransferRequest request);
  std::string PassiveAddressFor() const;

  Server& server_;
  asio::ip::tcp::socket control_;
  uint32_t id_;
  std::string address_;
  asio::ip::address peer_;
  asio::ip::address local_;
  bool lan_peer_ = true;
  uint16_t port_ = 0;
  int64_t connected_at_ = 0;
  bool closed_ = false;
  bool closing_ = false;
  Clock::time_point started_at_;
  Clock::time_point closing_since_;
  bool close_after_write_ = false;

  std::array<char, 4096> read_buffer_{};
  std::string line_;
  std::deque<std::string> pending_lines_;
  bool busy_ = false;
  std::deque<std::string> out_;
  size_t out_bytes_ = 0;
  bool writing_ = false;
  ListingSource status_source_;  // a STAT listing still being written

  std::string user_;
  bool logged_in_ = false;
  int failed_logins_ = 0;
  std::shared_ptr<const Account> account_;
  VirtualTree tree_;
  std::string cwd_ = "/";
  bool utf8_ = true;
  bool ascii_ = false;
  uint64_t rest_ = 0;
  std::optional<PathNode> rename_from_;
  asio::steady_timer login_delay_;
  bool epsv_all_ = false;

  std::shared_ptr<DataChannel> data_;
  platform::Admission::Ticket prelogin_;

  struct ControlTls {
    TlsCommandState state;
    bool starting = false;  // 234 sent: no more plain reads, the handshake comes next
    bool reading = false;   // a read of the control connection is under way
    std::string early;      // handshake bytes read before the handshake began
    std::shared_ptr<asio::ssl::context> context;  // data connections resume in its cache
    std::unique_ptr<TlsStream> stream;
    std::string session_id;
  } tls_;

  Clock::time_point last_command_;
  Clock::time_point last_transfer_;
};

}  // namespace quarno::ftpd
