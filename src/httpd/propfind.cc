#include "httpd/propfind.h"

#include "httpd/file_response.h"

namespace quarno::httpd {

std::string MultistatusHead() {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><d:multistatus xmlns:d='DAV:'>\n";
}

std::string MultistatusEntry(const PropfindEntry& entry) {
  std::string body =
      "<d:response><d:href>" + entry.href + "</d:href><d:propstat><d:prop><d:resourcetype>";
  if (entry.collection) body += "<d:collection/>";
  body += "</d:resourcetype><d:getcontentlength>" + std::to_string(entry.length) +
          "</d:getcontentlength><d:getlastmodified>" + HttpDate(entry.modified) +
          "</d:getlastmodified></d:prop><d:status>HTTP/1.1 200 OK</d:status>"
          "</d:propstat></d:response>\n";
  return body;
}

std::string MultistatusBody(const std::vector<PropfindEntry>& entries) {
  std::string body = MultistatusHead();
  for (const PropfindEntry& entry : entries) body += MultistatusEntry(entry);
  body += kMultistatusTail;
  return body;
}

}  // namespace quarno::httpd
