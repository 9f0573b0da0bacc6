#pragma once
// One request as the engine parsed it, and the answer the request handling
// queues for it. The handling never touches a socket: it appends pieces, and
// the engine sends them at the client's pace (a file with sendfile, a
// listing one bounded piece at a time), so no thread waits on a slow client.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "httpd/share_files.h"

namespace quarno::httpd {

struct AnswerPiece {
  std::string bytes;  // sent first
  // Then `length` bytes of `file` from `offset`, when `file` is set.
  std::shared_ptr<UniqueFd> file;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  // Then, when set: called until it returns false, each call appending at
  // most a bounded piece to its argument (listings, PROPFIND).
  std::function<bool(std::string&)> more;
};

class Exchange {
 public:
  std::string method;
  std::string target;  // as sent: percent escapes and query included
  unsigned version = 11;
  std::vector<std::pair<std::string, std::string>> headers;
  // False when the engine cannot keep the connection (an unread body): the
  // answer then says close.
  bool may_keep_alive = true;
  // Facts of the connection, kept across its requests.
  bool tls = false;
  std::string peer;  // the client's address, as text

  // The first header of that name (any case), or nullptr.
  const char* Header(std::string_view name) const;
  int CountHeader(std::string_view name) const;
  // The query after the first "?", or nullptr.
  const char* QueryString() const;

  // Set by the handling: the connection closes once the answer is out.
  bool close_after = false;
  // Set by the handling when it cannot answer yet (too many listings being
  // built): the engine asks again a moment later, nothing queued.
  bool retry_later = false;

  void Send(std::string bytes);
  void SendFile(std::shared_ptr<UniqueFd> file, std::uint64_t offset, std::uint64_t length);
  void SendStream(std::function<bool(std::string&)> more);
  std::deque<AnswerPiece>& pieces() { return pieces_; }
  void Reset();

 private:
  mutable std::string query_;
  std::deque<AnswerPiece> pieces_;
};

}  // namespace quarno::httpd
