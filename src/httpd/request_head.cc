#include "httpd/request_head.h"

#include <iterator>

namespace quarno::httpd {

namespace http = boost::beast::http;

void LimitParser(RequestParser& parser) {
  parser.header_limit(kHeadLimit);
  parser.body_limit(kDrainLimit);
  parser.eager(false);
}

HeadVerdict VerdictForError(const asio::error_code& error) {
  if (error == http::error::header_limit || error == http::error::buffer_overflow)
    return HeadVerdict::kTooLarge;
  if (error == http::error::end_of_stream || error == http::error::partial_message)
    return HeadVerdict::kGone;
  // Any other complaint of the parser's is about the bytes sent.
  if (error.category() == http::make_error_code(http::error::bad_method).category())
    return HeadVerdict::kBad;
  return HeadVerdict::kGone;
}

HeadVerdict TakeHead(const RequestParser& parser, Exchange& exchange) {
  const auto& head = parser.get();
  exchange.Reset();
  std::size_t count = 0;
  for (const auto& field : head) {
    if (++count > kMaxHeaders) return HeadVerdict::kTooLarge;
    exchange.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
  }
  exchange.method = std::string(head.method_string());
  exchange.target = std::string(head.target());
  exchange.version = head.version();
  if (exchange.target.empty() || exchange.target.find('\0') != std::string::npos)
    return HeadVerdict::kBad;
  // Two lengths, even equal ones, or a length beside chunked coding: two
  // parsers on the way could frame the body differently.
  const int lengths = exchange.CountHeader("Content-Length");
  if (lengths > 1 || (lengths > 0 && exchange.CountHeader("Transfer-Encoding") > 0))
    return HeadVerdict::kBad;
  return HeadVerdict::kTaken;
}

std::string RefusalAnswer(HeadVerdict verdict) {
  const bool large = verdict == HeadVerdict::kTooLarge;
  const std::string body = large ? "Error 431: Request Header Fields Too Large\nHead too large"
                                 : "Error 400: Bad Request\nBad Request";
  return std::string(large ? "HTTP/1.1 431 Request Header Fields Too Large"
                           : "HTTP/1.1 400 Bad Request") +
         "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

HeadVerdict ParseHead(std::string_view bytes, Exchange& exchange, std::size_t* used) {
  RequestParser parser;
  LimitParser(parser);
  asio::error_code error;
  std::size_t taken = 0;
  while (!parser.is_header_done()) {
    const std::size_t n = parser.put(asio::buffer(bytes.data() + taken, bytes.size() - taken), error);
    taken += n;
    if (error == http::error::need_more) {
      if (taken >= bytes.size() || n == 0) {
        // What a closed connection would leave.
        if (taken > kHeadLimit) return HeadVerdict::kTooLarge;
        return HeadVerdict::kGone;
      }
      error = {};
      continue;
    }
    if (error) return VerdictForError(error);
  }
  if (used) *used = taken;
  return TakeHead(parser, exchange);
}

}  // namespace quarno::httpd
