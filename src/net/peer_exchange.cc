#include "net/peer_exchange.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace quarno {
namespace {

bool IsTokenBreak(char c) { return c == '\r' || c == '\n' || c == ':' || c == ' '; }

// What socket() reports when no descriptor or buffer is left for a new socket.
bool IsNoSocketError(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

long long RemainingContentLength(std::string_view chunk) {
  const std::size_t blank = chunk.find("\r\n\r\n");
  const long long header_end = blank == std::string_view::npos ? -1 : static_cast<long long>(blank);

  std::size_t pos = 0;
  bool found_name = false;
  while (pos < chunk.size()) {
    while (pos < chunk.size() && IsTokenBreak(chunk[pos])) ++pos;
    std::size_t end = pos;
    while (end < chunk.size() && !IsTokenBreak(chunk[end])) ++end;
    if (end == pos) break;
    const std::string_view token = chunk.substr(pos, end - pos);
    if (found_name) {
      // The value must be a plain decimal count; anything else counts as no header.
      if (token.empty() || token.size() > 9) return -1;
      long long length = 0;
      for (char c : token) {
        if (c < '0' || c > '9') return -1;
        length = length * 10 + (c - '0');
      }
      return length + header_end + 4 - static_cast<long long>(chunk.size());
    }
    if (EqualsNoCase(token, "Content-length")) found_name = true;
    pos = end;
  }
  return -1;
}

std::string PercentEncode(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) && c < 0x80) {
      out += ch;
    } else if (c == '.' || c == '-' || c == '_' || c == '@' || c == ':') {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string TrimWhite(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsWhite(text[begin])) ++begin;
  while (end > begin && IsWhite(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string BodyBetweenMarkers(std::string_view response, bool& found) {
  const std::string lower = AsciiLower(response);
  const std::size_t open = lower.find("<body>");
  const std::size_t close = lower.find("</body>");
  found = open != std::string::npos && close != std::string::npos && close >= open + 6;
  if (!found) return {};
  return TrimWhite(std::string_view(lower).substr(open + 6, close - open - 6));
}

std::string LowerFirstLine(std::string_view response, bool& found) {
  const std::size_t end = response.find("\r\n");
  found = end != std::string_view::npos;
  if (!found) return {};
  return AsciiLower(response.substr(0, end));
}

std::string TrimmedBodyAfterHeader(std::string_view response, bool& found) {
  const std::size_t blank = response.find("\r\n\r\n");
  found = blank != std::string_view::npos;
  if (!found) return {};
  return TrimWhite(response.substr(blank + 4));
}

bool ConnectPeer(platform::TcpSocket& socket, const std::string& address, uint16_t port,
                 std::chrono::milliseconds timeout, bool* no_socket) {
  errno = 0;
  const bool connected = socket.Connect(address, port, timeout);
  if (no_socket) *no_socket = !connected && IsNoSocketError(errno);
  return connected;
}

long UdpExchange(const std::string& address, uint16_t port, std::string_view datagram,
                 std::string& answer, std::size_t max, std::chrono::milliseconds timeout,
                 bool* no_socket) {
  errno = 0;
  const long got = platform::UdpRequest(address, port, datagram, answer, max, timeout);
  if (no_socket) *no_socket = got < 0 && IsNoSocketError(errno);
  return got;
}

RecvOutcome ReceiveChunk(platform::TcpSocket& socket, std::string& response, std::size_t max,
                         std::chrono::milliseconds timeout) {
  std::string chunk;
  const auto start = std::chrono::steady_clock::now();
  const long got = socket.Recv(chunk, max, timeout);
  if (got > 0) {
    response.append(chunk.data(), static_cast<std::size_t>(got));
    return RecvOutcome::kData;
  }
  if (got == 0) return RecvOutcome::kClosed;
  // The socket reports time-out and error alike; the clock tells them apart.
  const auto waited = std::chrono::steady_clock::now() - start;
  return waited + std::chrono::milliseconds(5) >= timeout ? RecvOutcome::kTimeout
                                                          : RecvOutcome::kError;
}

RecvOutcome ReceiveAnnouncedRest(platform::TcpSocket& socket, std::string& response,
                                 long long remaining, std::size_t chunk,
                                 std::chrono::milliseconds timeout, std::size_t max_total) {
  long long received = 0;
  while (received < remaining) {
    if (response.size() >= max_total) return RecvOutcome::kError;
    const std::size_t before = response.size();
    const std::size_t room = std::min(chunk, max_total - response.size());
    const RecvOutcome outcome = ReceiveChunk(socket, response, room, timeout);
    if (outcome != RecvOutcome::kData) return outcome;
    received += static_cast<long long>(response.size() - before);
  }
  return RecvOutcome::kData;
}

}  // namespace quarno
