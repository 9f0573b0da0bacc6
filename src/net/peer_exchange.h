#pragma once
// Pieces shared by the clients of the outside peers (router, DDNS server,
// UPnP gateway): the Content-length rule, text helpers, form encoding and the
// socket steps of a one-request exchange. Each client keeps its own time-outs
// and chunk sizes and passes them in.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/tcp_socket.h"

namespace quarno {

// Body bytes still missing after `first_chunk`, from its "Content-length"
// header: L + H + 4 - n, with H the offset of the first "\r\n\r\n" (-1 when
// absent) and n the chunk's length. -1 when the chunk has no such header or
// its value is not a decimal number of at most 9 digits (so a hostile length
// never overflows nor makes a caller wait for gigabytes).
long long RemainingContentLength(std::string_view first_chunk);

// Letters, digits and ". - _ @ :" stay as they are; every other byte becomes
// %XX (upper-case hex). Plain values therefore go out byte-identical.
std::string PercentEncode(std::string_view value);

std::string AsciiLower(std::string_view text);
// Strips blanks, tabs, CR, LF, VT and FF at both ends.
std::string TrimWhite(std::string_view text);
// The lower-cased, trimmed text between the first "<body>" and the first
// "</body>" (markers matched in any letter case); `found` false when either
// is missing or they come in the wrong order.
std::string BodyBetweenMarkers(std::string_view response, bool& found);
// The first line (up to the first "\r\n") of the lower-cased response; empty
// with `found` false when there is no "\r\n".
std::string LowerFirstLine(std::string_view response, bool& found);
// Text after the first "\r\n\r\n", trimmed; `found` false without a blank line.
std::string TrimmedBodyAfterHeader(std::string_view response, bool& found);

// Why a receive brought nothing.
enum class RecvOutcome { kData, kTimeout, kError, kClosed };

// Connects with a time-out; false when the address is bad, the peer refused
// or the time-out passed. `no_socket`, when given, tells whether the failure
// was that no socket could be made at all (descriptors or memory exhausted),
// which the clients report apart from an unreachable peer.
bool ConnectPeer(platform::TcpSocket& socket, const std::string& address, uint16_t port,
                 std::chrono::milliseconds timeout, bool* no_socket = nullptr);

// One UDP datagram out, one answer back (platform::UdpRequest), with the same
// `no_socket` report as ConnectPeer.
long UdpExchange(const std::string& address, uint16_t port, std::string_view datagram,
                 std::string& answer, std::size_t max, std::chrono::milliseconds timeout,
                 bool* no_socket = nullptr);

// One receive of at most `max` bytes, appended to `response`. A receive
// that fails after the whole time-out counts as kTimeout, an earlier one as
// kError; kClosed when the peer closed without data.
RecvOutcome ReceiveChunk(platform::TcpSocket& socket, std::string& response, std::size_t max,
                         std::chrono::milliseconds timeout);

// After the first chunk: receives chunks of at most `chunk` bytes until
// `remaining` more bytes arrived. Stops with the failing outcome (partial data
// kept) on a failed receive, or with kError when the response would pass
// `max_total` bytes.
RecvOutcome ReceiveAnnouncedRest(platform::TcpSocket& socket, std::string& response,
                                 long long remaining, std::size_t chunk,
                                 std::chrono::milliseconds timeout,
                                 std::size_t max_total = 1 << 20);

}  // namespace quarno

namespace quarno {

// Which program runs a client: they differ only in how failures are shown.
enum class Program {
  kServer,  // log lines and message boxes
  kBootup,  // lines on standard output, nothing shown
};

// Shows a plain OK message box with the given text (Quarno_Server's user
// interface sets it; empty means nothing is shown).
using UserMessageSink = std::function<void(const std::string& text)>;

}  // namespace quarno
