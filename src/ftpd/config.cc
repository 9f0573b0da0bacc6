#include "ftpd/config.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quarno::ftpd {
namespace {

namespace xml = ftpctl::config_xml;

constexpr size_t kMaxConfigBytes = 4 << 20;

bool IsEntityAt(std::string_view text, size_t amp) {
  size_t end = text.find(';', amp);
  if (end == std::string_view::npos || end - amp > 10) return false;
  std::string_view name = text.substr(amp + 1, end - amp - 1);
  if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos")
    return true;
  if (name.size() >= 2 && name[0] == '#') {
    bool hex = name[1] == 'x';
    std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return false;
    return std::all_of(digits.begin(), digits.end(), [hex](char c) {
      return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
    });
  }
  return false;
}

// Escapes what unescaping writers leave behind: bare ampersands anywhere, and
// quotes or '<' inside the last attribute of <User Name="..."> and
// <Permission Dir="...">, whose value runs up to the closing '">'.
std::string RepairXml(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 64);
  size_t i = 0;
  while (i < text.size()) {
    bool in_attr = false;
    for (std::string_view open :
         {std::string_view("<User Name=\""), std::string_view("<Permission Dir=\"")}) {
      if (text.substr(i, open.size()) == open) {
        size_t close = text.find("\">", i + open.size());
        if (close == std::string_view::npos) break;
        out.append(open);
        for (size_t k = i + open.size(); k < close; ++k) {
          char c = text[k];
          if (c == '"')
            out += "&quot;";
          else if (c == '<')
            out += "&lt;";
          else if (c == '&' && !IsEntityAt(text, k))
            out += "&amp;";
          else
            out += c;
        }
        out += "\">";
        i = close + 2;
        in_attr = true;
        break;
      }
    }
    if (in_attr) continue;
    if (text[i] == '&' && !IsEntityAt(text, i))
      out += "&amp;";
    else
      out += text[i];
    ++i;
  }
  return out;
}

bool ParseNumber(const char* text, int64_t& value) {
  if (text == nullptr) {
    value = 0;
    return true;
  }
  std::string s(text);
  s.erase(0, s.find_first_not_of(" \t\r\n"));
  s.erase(s.find_last_not_of(" \t\r\n") + 1);
  if (s.empty()) {
    value = 0;
    return true;
  }
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  value = v;
  return true;
}

const char* Text(const tinyxml2::XMLElement* e) {
  const char* t = e->GetText();
  return t ? t : "";
}

bool ParseUser(const tinyxml2::XMLElement* user, Account& account, std::string& why) {
  const char* name = user->Attribute(xml::kName);
  if (name == nullptr || *name == '\0') {
    why = "a <User> without a name";
    return false;
  }
  account.user_name = name;
  for (auto* opt = user->FirstChildElement(xml::kOption); opt;
       opt = opt->NextSiblingElement(xml::kOption)) {
    const char* oname = opt->Attribute(xml::kName);
    if (oname == nullptr) continue;
    std::string_view n(oname);
    int64_t v = 0;
    if (n == xml::kPass) {
      account.password = Text(opt);
    } else if (n == xml::kGroup) {
      account.group_name = Text(opt);
    } else if (n == xml::kComments) {
      account.comment = Text(opt);
    } else if (n == xml::kUserLimit || n == xml::kIpLimit || n == xml::kEnabled ||
               n == xml::kBypassUserLimit) {
      if (!ParseNumber(opt->GetText(), v) || v < 0 || v > 0xFFFFFFFFLL) {
        why = "bad value of user option \"" + std::string(n) + "\"";
        return false;
      }
      if (n == xml::kUserLimit)
        account.user_limit = static_cast<uint32_t>(v);
      else if (n == xml::kIpLimit)
        account.address_limit = static_cast<uint32_t>(v);
      else if (n == xml::kEnabled)
        account.enabled = static_cast<uint8_t>(v == 1 ? 1 : 0);
      else
        account.bypass_user_limit = static_cast<uint8_t>(v & 3);
    }
  }
  static constexpr struct {
    const char* name;
    uint16_t bit;
  } kRights[] = {{xml::kRights[0], kFileRead},   {xml::kRights[1], kFileWrite},
                 {xml::kRights[2], kFileDelete}, {xml::kRights[3], kFileAppend},
                 {xml::kRights[4], kDirCreate},  {xml::kRights[5], kDirDelete},
                 {xml::kRights[6], kDirList},    {xml::kRights[7], kDirSubdirs},
                 {xml::kRights[8], kIsHome},     {xml::kRights[9], kAutoCreate}};
  if (auto* perms = user->FirstChildElement(xml::kPermissions)) {
    for (auto* p = perms->FirstChildElement(xml::kPermission); p;
         p = p->NextSiblingElement(xml::kPermission)) {
      DirectoryPermission perm;
      const char* dir = p->Attribute(xml::kDir);
      if (dir == nullptr || *dir == '\0') {
        why = "a <Permission> without a directory";
        return false;
      }
      perm.directory = dir;
      for (auto* opt = p->FirstChildElement(xml::kOption); opt;
           opt = opt->NextSiblingElement(xml::kOption)) {
        const char* oname = opt->Attribute(xml::kName);
        if (oname == nullptr) continue;
        for (const auto& r : kRights) {
          if (std::string_view(oname) != r.name) continue;
          int64_t v = 0;
          if (!ParseNumber(opt->GetText(), v)) {
            why = std::string("bad value of permission option ") + r.name;
            return false;
          }
          if (v != 0) perm.rights |= r.bit;
        }
      }
      if (auto* aliases = p->FirstChildElement(xml::kAliases))
        for (auto* a = aliases->FirstChildElement(xml::kAlias); a;
             a = a->NextSiblingElement(xml::kAlias))
          perm.aliases.push_back(Text(a));
      account.permissions.push_back(std::move(perm));
    }
  }
  return true;
}

bool ParseDocument(tinyxml2::XMLDocument& doc, ServerConfig& out, std::string& why) {
  auto* root = doc.FirstChildElement(xml::kRoot);
  if (root == nullptr) {
    why = "no <FileZillaServer> element";
    return false;
  }
  ServerConfig config;
  if (auto* settings = root->FirstChildElement(xml::kSettings)) {
    for (auto* item = settings->FirstChildElement(xml::kItem); item;
         item = item->NextSiblingElement(xml::kItem)) {
      const char* name = item->Attribute(xml::kItemName);
      int id = name ? FindOption(name) : 0;
      if (id == 0) continue;  // items of other versions are no reason to refuse the file
      if (id == kOptAdminPort) config.admin_port_given = true;
      OptionValue& value = config.options.At(id);
      if (value.is_text) {
        value.text = Text(item);
      } else if (!ParseNumber(item->GetText(), value.number)) {
        why = std::string("bad number in item \"") + name + "\"";
        return false;
      }
    }
  }
  std::vector<uint16_t> ports;
  if (!ParsePortList(config.options.Text(kOptServerports), ports)) {
    why = "bad Serverports \"" + config.options.Text(kOptServerports) + "\"";
    return false;
  }
  int64_t admin = config.options.Number(kOptAdminPort);
  if (admin < 0 || admin > 65535) {
    why = "admin port out of range";
    return false;
  }
  if (auto* users = root->FirstChildElement(xml::kUsers)) {
    for (auto* u = users->FirstChildElement(xml::kUser); u; u = u->NextSiblingElement(xml::kUser)) {
      Account account;
      if (!ParseUser(u, account, why)) return false;
      config.users.push_back(std::move(account));
    }
  }
  out = std::move(config);
  return true;
}

}  // namespace

ServerConfig::ServerConfig() {
  options.SetNumber(kOptTimeout, 120);
  options.SetNumber(kOptNoTransferTimeout, 600);
  options.SetNumber(kOptLoginTimeout, 60);
  // Guessing is held back even when the file does not name the protections.
  options.SetNumber(ftpctl::OPTION_AUTOBAN_ENABLE, 1);
  options.SetNumber(ftpctl::OPTION_AUTOBAN_ATTEMPTS, 5);
  options.SetNumber(ftpctl::OPTION_AUTOBAN_TYPE, 0);
  options.SetNumber(ftpctl::OPTION_AUTOBAN_BANTIME, 15);
  // Explicit TLS offered, never forced: plain clients keep working.
  options.SetNumber(ftpctl::OPTION_ENABLESSL, 1);
  options.SetNumber(ftpctl::OPTION_ALLOWEXPLICITSSL, 1);
}

bool ParsePortList(std::string_view text, std::vector<uint16_t>& ports) {
  std::vector<uint16_t> result;
  constexpr std::string_view kBlank = " ,\t\r\n";
  if (auto first = text.find_first_not_of(kBlank); first != std::string_view::npos) {
    std::string_view trimmed = text.substr(first, text.find_last_not_of(kBlank) - first + 1);
    if (trimmed == "0") {
      ports.clear();
      return true;
    }
  }
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    unsigned long v = 0;
    size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 6)
      v = v * 10 + static_cast<unsigned>(text[i++] - '0');
    if (i == start || v == 0 || v > 65535) return false;
    if (i < text.size() && !(text[i] == ' ' || text[i] == ',' || text[i] == '\t' ||
                             text[i] == '\r' || text[i] == '\n'))
      return false;
    if (std::find(result.begin(), result.end(), v) == result.end())
      result.push_back(static_cast<uint16_t>(v));
  }
  ports = std::move(result);
  return true;
}

bool ParseConfigText(std::string_view text, ServerConfig& out, std::string& why) {
  tinyxml2::XMLDocument doc;
  if (doc.Parse(text.data(), text.size()) == tinyxml2::XML_SUCCESS)
    return ParseDocument(doc, out, why);
  std::string first_error = doc.ErrorStr() ? doc.ErrorStr() : "parse error";
  std::string repaired = RepairXml(text);
  tinyxml2::XMLDocument again;
  if (again.Parse(repaired.data(), repaired.size()) != tinyxml2::XML_SUCCESS) {
    why = "malformed XML: " + first_error;
    return false;
  }
  return ParseDocument(again, out, why);
}

bool LoadConfigFile(const std::string& path, ServerConfig& out, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = "cannot open " + path;
    return false;
  }
  std::string text;
  text.resize(kMaxConfigBytes + 1);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > kMaxConfigBytes) {
    why = "configuration file larger than 4 MiB";
    return false;
  }
  if (in.bad()) {
    why = "cannot read " + path;
    return false;
  }
  return ParseConfigText(text, out, why);
}

}  // namespace quarno::ftpd
