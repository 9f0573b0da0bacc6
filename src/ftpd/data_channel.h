#pragma once
// The data side of one FTP session: the passive listener or the active
// target, the data connection, and the transfer that runs over it. The
// session keeps the command side (parsing, rights, replies); the two meet in
// DataChannel::Listener, so a slow data peer never holds up command I/O and
// the transfer code never sees a command.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ftpd/server.h"
#include "platform/asio.h"
#include <boost/asio/ssl.hpp>

namespace quarno::ftpd {

enum class TransferKind { kListing, kRetr, kStor };

// Appends the next part of a listing to `out`; false once nothing is left.
// Called in small steps, so a huge folder never blocks the loop for long.
using ListingSource = std::function<bool(std::string& out)>;

struct TransferRequest {
  TransferKind kind = TransferKind::kListing;
  std::string quoted;  // the path as the replies show it, already quoted
  ListingSource listing;
  std::string real;  // file to open (uploads)
  int fd = -1;       // open file (downloads); the channel closes it
  uint64_t offset = 0;
  bool append = false;
  bool truncate = false;
  bool may_rewrite = false;  // a resume may cut the file at its offset
  bool ascii = false;
};

class DataChannel : public std::enable_shared_from_this<DataChannel> {
 public:
  using Clock = std::chrono::steady_clock;

  // The session's side. Begin() may already call back before it returns
  // (the connection stood, or the upload file could not be opened).
  class Listener {
   public:
    virtual ~Listener() = default;
    virtual void OnDataReply(int code, const std::string& text) = 0;
    // The transfer is over (done, failed or timed out); `code` and `text`
    // are the final reply.
    virtual void OnTransferEnded(int code, const std::string& text, TransferKind kind) = 0;
  };

  DataChannel(asio::io_context& io, std::weak_ptr<Listener> listener, asio::ip::address peer,
              asio::ip::address local, uint32_t session_id);
  ~DataChannel();

  // PASV/EPSV: a listener on the session's local address, on a port of
  // [min, max] (any free port when min is 0). False when none is free.
  bool Listen(uint16_t min, uint16_t max, uint16_t& port);
  // The address's share of open passive listeners, given back when the
  // listener closes (used, reset, or unused for Doors::kPassiveUnusedLimit).
  void HoldPassiveSlot(std::shared_ptr<void> slot) { passive_slot_ = std::move(slot); }
  // PORT/EPRT: the data connection will go to `target`.
  void Target(const asio::ip::tcp::endpoint& target);
  // Drops the listener, the target, the connection and any transfer.
  void Reset();
  // PROT P: the next connections run TLS and must resume the control connection's
  // session `session_id` of `context`'s cache. A null context: in clear.
  void Protect(std::shared_ptr<asio::ssl::context> context, std::string session_id);

  // Runs `request` once the data connection stands. False (and the file
  // closed) when neither PASV nor PORT came first.
  bool Begin(TransferRequest request);
  bool busy() const { return transfer_.has_value(); }
  uint64_t bytes() const { return transfer_ ? transfer_->bytes : 0; }
  // Ends a transfer that waits too long for its connection or stalls.
  void CheckTimeouts(Clock::time_point now, int stall_seconds);

 private:
  struct Transfer {
    TransferRequest request;
    uint64_t generation = 0;
    uint64_t bytes = 0;
    bool pending_cr = false;
    bool source_done = false;
    std::vector<char> buffer;
    std::string out;
  };

  void Accept();
  void ConnectionReady();
  void Run();
  void SendListing(uint64_t generation);
  void SendFileChunk(uint64_t generation);
  void SendAsciiChunk(uint64_t generation);
  void ReceiveChunk(uint64_t generation);
  void Finish(int code, const std::string& text);
  // TLS (data_tls.cc).
  using TlsDataStream = asio::ssl::stream<asio::ip::tcp::socket>;
  void SecureThenRun();
  void SendTlsFileChunk(uint64_t generation);
  bool CloseTlsFirst(int code, const std::string& text);
  template <typename Buffer, typename Handler>
  void Write(const Buffer& buffer, Handler&& handler) {
    if (tls_)
      asio::async_write(*tls_, buffer, [keep = tls_, h = std::forward<Handler>(handler)](
                                           const asio::error_code& ec, size_t n) { h(ec, n); });
    else
      asio::async_write(*data_, buffer, std::forward<Handler>(handler));
  }
  template <typename Buffer, typename Handler>
  void ReadSome(const Buffer& buffer, Handler&& handler) {
    if (tls_)
      tls_->async_read_some(buffer, [keep = tls_, h = std::forward<Handler>(handler)](
                                        const asio::error_code& ec, size_t n) { h(ec, n); });
    else
      data_->async_read_some(buffer, std::forward<Handler>(handler));
  }
  bool PrepareUpload();
  void Announce();
  void Drop();
  bool Current(uint64_t generation) const {
    return transfer_ && transfer_->generation == generation;
  }

  asio::io_context& io_;
  std::weak_ptr<Listener> listener_;
  asio::ip::address peer_;
  asio::ip::address local_;
  uint32_t session_id_;

  std::unique_ptr<asio::ip::tcp::acceptor> passive_;
  std::shared_ptr<void> passive_slot_;
  Clock::time_point listened_at_;
  bool stranger_logged_ = false;
  std::optional<asio::ip::tcp::socket> data_;
  bool connecting_ = false;
  std::optional<asio::ip::tcp::endpoint> active_;
  std::optional<Transfer> transfer_;
  bool waiting_ = false;
  uint64_t generation_ = 0;
  Clock::time_point wait_started_;
  Clock::time_point last_progress_;

  std::shared_ptr<asio::ssl::context> tls_context_;
  std::string tls_session_;
  // Shared with its handlers: the TLS engine must outlive every operation on it.
  std::shared_ptr<TlsDataStream> tls_;
  bool tls_up_ = false;  // handshake done
  bool tls_closing_ = false;
  int tls_final_code_ = 0;
  std::string tls_final_text_;
  Clock::time_point tls_closing_since_;
};

// The address without its IPv4-mapped IPv6 dress.
asio::ip::address PlainAddress(const asio::ip::address& a);

}  // namespace quarno::ftpd
