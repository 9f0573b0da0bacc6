#pragma once
// The vocabulary the admin client (src/ftpctl) and the FTP server daemon
// (src/ftpd) share: control codes, admin command ids and versions, the option
// table, and the configuration file's element names. Header only, so the
// daemon takes the words without the client; each side keeps its own codec.
#include <cstdint>

namespace quarno::ftpctl {

// Control codes the FTP server acts on, delivered through its service's
// control channel.
enum ControlCode : int {
  kControlStartFtp = 200,   // take up the configuration file, serve FTP
  kControlStartHttp = 190,  // start HTTP serving
  kControlStopHttp = 191,   // stop HTTP serving
};

// --- Admin protocol ---

// The version the server announces in its greeting and the one of the protocol.
inline constexpr uint32_t kServerVersion = 0x00094100;
inline constexpr uint32_t kProtocolVersion = 0x00010D00;
// Longest payload of one message (its length field has 24 usable bits).
inline constexpr uint32_t kMaxPayloadLength = 0xFFFFFF;

// Admin command ids (both directions).
enum AdminCommand : int {
  kCmdAuth = 0,
  kCmdServerState = 2,
  kCmdConnections = 3,
  kCmdOptions = 5,
  kCmdAccounts = 6,
  kCmdKeepAlive = 8,
};

// --- The option set (admin command 5, and the configuration file's <Item>s) ---

enum class OptionType : uint8_t { kString = 0, kNumeric = 1 };

struct OptionDef {
  const char* name;  // also the item name in the configuration file
  OptionType type;
  bool local;  // only the configuration file may change it, never a remote admin
};

inline constexpr int kOptionCount = 62;

// Option numbers, 1-based as on the wire.
enum Option : int {
  OPTION_SERVERPORT = 1,
  OPTION_THREADNUM,
  OPTION_MAXUSERS,
  OPTION_TIMEOUT,
  OPTION_NOTRANSFERTIMEOUT,
  OPTION_INFXP,
  OPTION_OUTFXP,
  OPTION_NOINFXPSTRICT,
  OPTION_NOOUTFXPSTRICT,
  OPTION_LOGINTIMEOUT,
  OPTION_LOGSHOWPASS,
  OPTION_CUSTOMPASVIPTYPE,
  OPTION_CUSTOMPASVIP,
  OPTION_CUSTOMPASVMINPORT,
  OPTION_CUSTOMPASVMAXPORT,
  OPTION_WELCOMEMESSAGE,
  OPTION_ADMINPORT,
  OPTION_ADMINPASS,
  OPTION_ADMINIPBINDINGS,
  OPTION_ADMINIPADDRESSES,
  OPTION_ENABLELOGGING,
  OPTION_LOGLIMITSIZE,
  OPTION_LOGTYPE,
  OPTION_LOGDELETETIME,
  OPTION_USEGSS,
  OPTION_GSSPROMPTPASSWORD,
  OPTION_DOWNLOADSPEEDLIMITTYPE,
  OPTION_UPLOADSPEEDLIMITTYPE,
  OPTION_DOWNLOADSPEEDLIMIT,
  OPTION_UPLOADSPEEDLIMIT,
  OPTION_BUFFERSIZE,
  OPTION_CUSTOMPASVIPSERVER,
  OPTION_USECUSTOMPASVPORT,
  OPTION_MODEZ_USE,
  OPTION_MODEZ_LEVELMIN,
  OPTION_MODEZ_LEVELMAX,
  OPTION_MODEZ_ALLOWLOCAL,
  OPTION_MODEZ_DISALLOWED_IPS,
  OPTION_IPBINDINGS,
  OPTION_IPFILTER_ALLOWED,
  OPTION_IPFILTER_DISALLOWED,
  OPTION_WELCOMEMESSAGE_HIDE,
  OPTION_ENABLESSL,
  OPTION_ALLOWEXPLICITSSL,
  OPTION_SSLKEYFILE,
  OPTION_SSLCERTFILE,
  OPTION_SSLPORTS,
  OPTION_SSLFORCEEXPLICIT,
  OPTION_BUFFERSIZE2,
  OPTION_FORCEPROTP,
  OPTION_SSLKEYPASS,
  OPTION_SHAREDWRITE,
  OPTION_NOEXTERNALIPONLOCAL,
  OPTION_ACTIVE_IGNORELOCAL,
  OPTION_AUTOBAN_ENABLE,
  OPTION_AUTOBAN_ATTEMPTS,
  OPTION_AUTOBAN_TYPE,
  OPTION_AUTOBAN_BANTIME,
  OPTION_SERVICE_NAME,
  OPTION_SERVICE_DISPLAY_NAME,
  OPTION_ENABLE_HASH,
  OPTION_DISABLE_IPV6,
};
static_assert(OPTION_DISABLE_IPV6 == kOptionCount);

// In option-number order: kOptionTable[number - 1].
inline constexpr OptionDef kOptionTable[kOptionCount] = {
    {"Serverports", OptionType::kString, false},
    {"Number of Threads", OptionType::kNumeric, false},
    {"Maximum user count", OptionType::kNumeric, false},
    {"Timeout", OptionType::kNumeric, false},
    {"No Transfer Timeout", OptionType::kNumeric, false},
    {"Allow Incoming FXP", OptionType::kNumeric, false},
    {"Allow outgoing FXP", OptionType::kNumeric, false},
    {"No Strict In FXP", OptionType::kNumeric, false},
    {"No Strict Out FXP", OptionType::kNumeric, false},
    {"Login Timeout", OptionType::kNumeric, false},
    {"Show Pass in Log", OptionType::kNumeric, false},
    {"Custom PASV IP type", OptionType::kNumeric, false},
    {"Custom PASV IP", OptionType::kString, false},
    {"Custom PASV min port", OptionType::kNumeric, false},
    {"Custom PASV max port", OptionType::kNumeric, false},
    {"Initial Welcome Message", OptionType::kString, false},
    {"Admin port", OptionType::kNumeric, true},
    {"Admin Password", OptionType::kString, true},
    {"Admin IP Bindings", OptionType::kString, true},
    {"Admin IP Addresses", OptionType::kString, true},
    {"Enable logging", OptionType::kNumeric, false},
    {"Logsize limit", OptionType::kNumeric, false},
    {"Logfile type", OptionType::kNumeric, false},
    {"Logfile delete time", OptionType::kNumeric, false},
    {"Use GSS Support", OptionType::kNumeric, false},
    {"GSS Prompt for Password", OptionType::kNumeric, false},
    {"Download Speedlimit Type", OptionType::kNumeric, false},
    {"Upload Speedlimit Type", OptionType::kNumeric, false},
    {"Download Speedlimit", OptionType::kNumeric, false},
    {"Upload Speedlimit", OptionType::kNumeric, false},
    {"Buffer Size", OptionType::kNumeric, false},
    {"Custom PASV IP server", OptionType::kString, false},
    {"Use custom PASV ports", OptionType::kNumeric, false},
    {"Mode Z Use", OptionType::kNumeric, false},
    {"Mode Z min level", OptionType::kNumeric, false},
    {"Mode Z max level", OptionType::kNumeric, false},
    {"Mode Z allow local", OptionType::kNumeric, false},
    {"Mode Z disallowed IPs", OptionType::kString, false},
    {"IP Bindings", OptionType::kString, false},
    {"IP Filter Allowed", OptionType::kString, false},
    {"IP Filter Disallowed", OptionType::kString, false},
    {"Hide Welcome Message", OptionType::kNumeric, false},
    {"Enable SSL", OptionType::kNumeric, false},
    {"Allow explicit SSL", OptionType::kNumeric, false},
    {"SSL Key file", OptionType::kString, false},
    {"SSL Certificate file", OptionType::kString, false},
    {"Implicit SSL ports", OptionType::kString, false},
    {"Force explicit SSL", OptionType::kNumeric, false},
    {"Network Buffer Size", OptionType::kNumeric, false},
    {"Force PROT P", OptionType::kNumeric, false},
    {"SSL Key Password", OptionType::kString, false},
    {"Allow shared write", OptionType::kNumeric, false},
    {"No External IP On Local", OptionType::kNumeric, false},
    {"Active ignore local", OptionType::kNumeric, false},
    {"Autoban enable", OptionType::kNumeric, false},
    {"Autoban attempts", OptionType::kNumeric, false},
    {"Autoban type", OptionType::kNumeric, false},
    {"Autoban time", OptionType::kNumeric, false},
    {"Service name", OptionType::kString, true},
    {"Service display name", OptionType::kString, true},
    {"Enable HASH", OptionType::kNumeric, false},
    {"Disable IPv6", OptionType::kNumeric, false},
};

// --- Configuration file ("FileZilla Server.xml") ---
namespace config_xml {
inline constexpr char kRoot[] = "FileZillaServer";
inline constexpr char kSettings[] = "Settings";
inline constexpr char kItem[] = "Item";
inline constexpr char kItemName[] = "name";  // attribute of <Item>
inline constexpr char kItemType[] = "type";  // "string" or "numeric"
inline constexpr char kUsers[] = "Users";
inline constexpr char kUser[] = "User";
inline constexpr char kOption[] = "Option";
inline constexpr char kName[] = "Name";  // attribute of <User> and <Option>
inline constexpr char kPermissions[] = "Permissions";
inline constexpr char kPermission[] = "Permission";
inline constexpr char kDir[] = "Dir";  // attribute of <Permission>
inline constexpr char kAliases[] = "Aliases";
inline constexpr char kAlias[] = "Alias";
// User options.
inline constexpr char kPass[] = "Pass";
inline constexpr char kGroup[] = "Group";
inline constexpr char kComments[] = "Comments";
inline constexpr char kUserLimit[] = "User Limit";
inline constexpr char kIpLimit[] = "IP Limit";
inline constexpr char kEnabled[] = "Enabled";
inline constexpr char kBypassUserLimit[] = "Bypass server userlimit";
// Permission options, in the order the configuration file lists them.
inline constexpr int kRightCount = 10;
inline constexpr const char* kRights[kRightCount] = {
    "FileRead",  "FileWrite", "FileDelete", "FileAppend", "DirCreate",
    "DirDelete", "DirList",   "DirSubdirs", "IsHome",     "AutoCreate"};
}  // namespace config_xml

}  // namespace quarno::ftpctl
