#pragma once
// One FTP control connection with its data connections.
#include "ftpd/server.h"

#include <deque>
#include <optional>

#include "ftpd/command.h"
#include "ftpd/listing.h"
#include "ftpd/vfs.h"

namespace quarno::ftpd {

class FtpSession : public std::enable_shared_from_this<FtpSession> {
 public:
  using Clock = std::chrono::steady_clock;
  FtpSession(Server& server, asio::ip::tcp::socket socket, uint32_t id);
  ~FtpSession();

  void Start();
  // Sends `reply` (if any) and closes; the session then leaves the server.
  void Close(const std::string& reply = {});
  void CheckTimeouts(Clock::time_point now);

  uint32_t id() const { return id_; }
  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }
  int64_t connected_at() const { return connected_at_; }
  bool logged_in() const { return logged_in_; }
  const std::string& user() const { return user_; }
  bool transferring() const { return transfer_.has_value(); }

 private:
  enum class Kind { kList, kNlst, kMlsd, kRetr, kStor };
  struct Transfer {
    Kind kind = Kind::kList;
    uint64_t generation = 0;
    std::string display;  // virtual path for the replies
    std::string listing;
    std::string real;     // file to open
    int fd = -1;
    uint64_t offset = 0;
    bool append = false;
    bool truncate = false;
    bool may_rewrite = false;  // FileWrite: a resume may cut the file at its offset
    bool ascii = false;
    bool pending_cr = false;
    bool started = false;  // 150 sent, data flowing
    uint64_t bytes = 0;
    std::vector<char> buffer;
    std::string out;  // converted bytes waiting to be written
  };

  void ReadMore();
  void OnRead(const asio::error_code& ec, size_t n);
  void ProcessLines();
  void Execute(const Command& cmd);
  void Reply(int code, const std::string& text);
  void Send(std::string bytes);
  void WriteNext();
  void Done();  // a command has finished: take the next queued line
  void Finalize();
  void DropTransfer();

  bool RequireLogin();
  bool FromWire(const std::string& arg, std::string& utf8);
  std::string ToWire(const std::string& utf8) const;
  std::string Quote(const std::string& virtual_path) const;
  bool ResolveOrReply(const std::string& arg, PathNode& node);
  void DropHiddenLinks(const std::string& virtual_dir, std::vector<DirItem>& items) const;

  void DoUser(const std::string& arg);
  void DoPass(const std::string& arg);
  void DoCwd(const std::string& arg);
  void DoPasv(bool extended);
  void DoPort(const std::string& arg, bool extended);
  void DoList(const std::string& arg, Kind kind);
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
  bool CollectListing(const PathNode& node, std::vector<DirItem>& items, uint16_t& rights);
  void DoOpts(const std::string& arg);
  void DoAbor();

  // Data connection.
  void ResetDataChannel();
  void AcceptPassive();
  void BeginTransfer(Transfer transfer);
  void ConnectionReady();
  void RunTransfer();
  void SendFileChunk(uint64_t generation);
  void SendAsciiChunk(uint64_t generation);
  void ReceiveChunk(uint64_t generation);
  void FinishTransfer(int code, const std::string& text);
  bool Current(uint64_t generation) const { return transfer_ && transfer_->generation == generation; }

  Server& server_;
  asio::ip::tcp::socket control_;
  uint32_t id_;
  std::string address_;
  asio::ip::address peer_;
  asio::ip::address local_;
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

  std::unique_ptr<asio::ip::tcp::acceptor> passive_;
  bool stranger_logged_ = false;
  bool epsv_all_ = false;
  std::optional<asio::ip::tcp::socket> data_;
  bool data_connecting_ = false;
  std::optional<asio::ip::tcp::endpoint> active_;
  std::optional<Transfer> transfer_;
  bool waiting_for_data_ = false;
  uint64_t generation_ = 0;

  Clock::time_point last_command_;
  Clock::time_point last_transfer_;
  Clock::time_point data_wait_started_;
  Clock::time_point last_progress_;
};

}  // namespace quarno::ftpd
