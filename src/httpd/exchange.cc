#include "httpd/exchange.h"

#include <strings.h>

namespace quarno::httpd {

const char* Exchange::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && !strncasecmp(key.data(), name.data(), name.size()))
      return value.c_str();
  }
  return nullptr;
}

int Exchange::CountHeader(std::string_view name) const {
  int count = 0;
  for (const auto& header : headers) {
    const std::string& key = header.first;
    if (key.size() == name.size() && !strncasecmp(key.data(), name.data(), name.size())) ++count;
  }
  return count;
}

const char* Exchange::QueryString() const {
  const std::size_t mark = target.find('?');
  if (mark == std::string::npos) return nullptr;
  query_ = target.substr(mark + 1);
  return query_.c_str();
}

void Exchange::Send(std::string bytes) {
  if (bytes.empty()) return;
  if (!pieces_.empty() && !pieces_.back().file && !pieces_.back().more) {
    pieces_.back().bytes += bytes;
    return;
  }
  pieces_.push_back(AnswerPiece{std::move(bytes), nullptr, 0, 0, {}});
}

void Exchange::SendFile(std::shared_ptr<UniqueFd> file, std::uint64_t offset,
                        std::uint64_t length) {
  if (length == 0) return;
  if (!pieces_.empty() && !pieces_.back().file && !pieces_.back().more) {
    pieces_.back().file = std::move(file);
    pieces_.back().offset = offset;
    pieces_.back().length = length;
    return;
  }
  pieces_.push_back(AnswerPiece{{}, std::move(file), offset, length, {}});
}

void Exchange::SendStream(std::function<bool(std::string&)> more) {
  if (!pieces_.empty() && !pieces_.back().file && !pieces_.back().more) {
    pieces_.back().more = std::move(more);
    return;
  }
  pieces_.push_back(AnswerPiece{{}, nullptr, 0, 0, std::move(more)});
}

void Exchange::Reset() {
  method.clear();
  target.clear();
  version = 11;
  headers.clear();
  may_keep_alive = true;
  close_after = false;
  retry_later = false;
  pieces_.clear();
}

}  // namespace quarno::httpd
