#pragma once
// A TCP client socket for a receive thread: non-blocking sends and receives,
// and a wait for incoming data that another thread can interrupt. The admin
// client of the FTP server uses it; Recv, WaitReadable and Close belong to one
// thread, Send may come from any thread under the caller's lock.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quarno::platform {

class EventSocket {
 public:
  enum class Io { kOk, kWouldBlock, kClosed, kError };
  enum class Wait { kReadable, kWoken, kTimeout, kError };

  EventSocket();
  ~EventSocket();
  EventSocket(const EventSocket&) = delete;
  EventSocket& operator=(const EventSocket&) = delete;

  // Blocking connect with a time-out to a dotted IPv4 address; the socket is
  // non-blocking afterwards.
  bool Connect(const std::string& ipv4, uint16_t port, std::chrono::milliseconds timeout);
  bool IsOpen() const { return fd_ >= 0; }
  // This end's port; 0 when not connected.
  uint16_t LocalPort() const;

  Io Send(const void* data, std::size_t length, std::size_t& sent);
  Io Recv(void* buffer, std::size_t length, std::size_t& received);
  // A negative time-out waits without limit.
  Wait WaitReadable(std::chrono::milliseconds timeout);
  // Makes the current or next WaitReadable return kWoken; thread-safe.
  void Wake();
  void Close();

 private:
  int fd_ = -1;
  int wake_fd_ = -1;
};

// Whether a TCP listener could be opened on `ipv4`:`port` right now. A port
// that no socket lists as in use can still be held by a closing connection.
bool CanListenTcp(const std::string& ipv4, uint16_t port);

}  // namespace quarno::platform
