#pragma once
// Blocking IPv4 TCP client socket with explicit time-outs: the one socket type
// behind every fixed-byte exchange of the system (router, DDNS, UPnP, raw HTTP).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarno::platform {

class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Dotted IPv4 only (no name lookup). False on a bad address, refusal or time-out.
  bool Connect(const std::string& ipv4, uint16_t port, std::chrono::milliseconds timeout);
  // One send call's worth: sends all of `data` (looping over partial sends); false on error.
  bool Send(std::string_view data);
  // Receives up to `max` bytes into `out` (replacing it). Returns the count,
  // 0 when the peer closed, -1 on error or when `timeout` passed without data.
  long Recv(std::string& out, std::size_t max, std::chrono::milliseconds timeout);
  // Like Recv but leaves the bytes queued (MSG_PEEK).
  long Peek(std::string& out, std::size_t max, std::chrono::milliseconds timeout);
  // Close with an RST instead of FIN (SO_LINGER 0), as some exchanges require.
  void SetLingerZero();
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Sends one UDP datagram from an ephemeral port and waits for one answer.
// Returns the answer's length, or -1 on error/time-out.
long UdpRequest(const std::string& ipv4, uint16_t port, std::string_view datagram,
                std::string& answer, std::size_t max, std::chrono::milliseconds timeout);

// Resolves a host name to a dotted IPv4 address (first A record); empty on failure.
std::string ResolveIPv4(const std::string& host);

}  // namespace quarno::platform
