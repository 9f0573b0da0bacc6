#pragma once
// The request head as the engine takes it from Beast's parser: its limits
// and the answers to heads it refuses. Apart from the sockets so that tests
// and the fuzzer reach it with plain bytes.
#include <boost/beast/http.hpp>
#include <cstddef>
#include <string>
#include <string_view>

#include "httpd/exchange.h"
#include "platform/asio.h"

namespace quarno::httpd {

// The whole head: request line and every header line.
inline constexpr std::size_t kHeadLimit = 16384;
inline constexpr std::size_t kMaxHeaders = 100;
// A body no larger than this is read and dropped so that its connection can
// be kept; a larger one ends its connection after the answer.
inline constexpr std::uint64_t kDrainLimit = 1u << 20;

using RequestParser = boost::beast::http::request_parser<boost::beast::http::buffer_body>;

enum class HeadVerdict {
  kTaken,     // the exchange holds the request
  kTooLarge,  // 431, then close
  kBad,       // 400, then close
  kGone,      // nothing to answer: the client left or the read failed
};

// Sets the limits on a fresh parser.
void LimitParser(RequestParser& parser);
// What a failed head read means.
HeadVerdict VerdictForError(const asio::error_code& error);
// Takes the parsed head into `exchange` (reset first), counting its headers.
HeadVerdict TakeHead(const RequestParser& parser, Exchange& exchange);
// The whole answer for kTooLarge and kBad.
std::string RefusalAnswer(HeadVerdict verdict);

// Parses one head from `bytes` as the engine would; `used` is what it took.
HeadVerdict ParseHead(std::string_view bytes, Exchange& exchange, std::size_t* used = nullptr);

}  // namespace quarno::httpd
