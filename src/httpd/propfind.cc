#include "httpd/propfind.h"

#include <civetweb.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace quarno::httpd {
namespace {

namespace fs = std::filesystem;

std::string HttpDate(long long seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return text;
}

bool Describe(const fs::path& path, const std::string& href, PropfindEntry& entry) {
  std::error_code error;
  fs::file_status status = fs::status(path, error);  // follows the share link
  if (error || !fs::exists(status)) return false;
  entry.href = href;
  entry.collection = fs::is_directory(status);
  entry.length = entry.collection ? 0 : fs::file_size(path, error);
  if (error) entry.length = 0;
  auto modified = fs::last_write_time(path, error);
  if (!error) {
    auto system = std::chrono::file_clock::to_sys(modified);
    entry.modified =
        std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
  }
  return true;
}

}  // namespace

std::string MultistatusBody(const std::vector<PropfindEntry>& entries) {
  std::string body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><d:multistatus xmlns:d='DAV:'>\n";
  for (const PropfindEntry& entry : entries) {
    body += "<d:response><d:href>" + entry.href +
            "</d:href><d:propstat><d:prop><d:resourcetype>";
    if (entry.collection) body += "<d:collection/>";
    body += "</d:resourcetype><d:getcontentlength>" + std::to_string(entry.length) +
            "</d:getcontentlength><d:getlastmodified>" + HttpDate(entry.modified) +
            "</d:getlastmodified></d:prop><d:status>HTTP/1.1 200 OK</d:status>"
            "</d:propstat></d:response>\n";
  }
  body += "</d:multistatus>\n";
  return body;
}

int ServePropfind(mg_connection* connection, const std::string& real_root,
                  const PrefaceDecision& decision) {
  const fs::path target = fs::path(real_root) / fs::path(decision.path).relative_path();
  std::vector<PropfindEntry> entries(1);
  const std::string self_href = PercentEncodePath(decision.client_prefix + decision.path);
  if (!Describe(target, self_href, entries[0])) return 0;

  std::error_code error;
  const fs::path folder = entries[0].collection ? target : target.parent_path();
  const std::string password_file = (folder / ".htpasswd").string();
  if (fs::exists(password_file, error) &&
      mg_check_digest_access_authentication(connection, nullptr, password_file.c_str()) <= 0) {
    mg_send_digest_access_authentication_request(connection, nullptr);
    return 401;
  }

  const char* depth = mg_get_header(connection, "Depth");
  const bool members = entries[0].collection && !(depth && std::string(depth) == "0");
  if (members) {
    std::string base = self_href;
    if (base.empty() || base.back() != '/') base += '/';
    for (fs::directory_iterator it(target, error), end; !error && it != end; it.increment(error)) {
      const std::string name = it->path().filename().string();
      if (name == ".htpasswd") continue;
      PropfindEntry entry;
      if (!Describe(it->path(), base + PercentEncodePath(name), entry)) continue;
      if (entry.collection) entry.href += '/';
      entries.push_back(std::move(entry));
    }
  }

  const std::string body = MultistatusBody(entries);
  const std::string head =
      "HTTP/1.1 207 Multi-Status\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  mg_write(connection, head.data(), head.size());
  mg_write(connection, body.data(), body.size());
  return 207;
}

}  // namespace quarno::httpd
