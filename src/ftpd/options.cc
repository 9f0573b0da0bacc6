#include "ftpd/options.h"

namespace quarno::ftpd {
namespace {

constexpr OptionInfo kTable[kOptionCount] = {
    {"Serverports", true, false},
    {"Number of Threads", false, false},
    {"Maximum user count", false, false},
    {"Timeout", false, false},
    {"No Transfer Timeout", false, false},
    {"Allow Incoming FXP", false, false},
    {"Allow outgoing FXP", false, false},
    {"No Strict In FXP", false, false},
    {"No Strict Out FXP", false, false},
    {"Login Timeout", false, false},
    {"Show Pass in Log", false, false},
    {"Custom PASV IP type", false, false},
    {"Custom PASV IP", true, false},
    {"Custom PASV min port", false, false},
    {"Custom PASV max port", false, false},
    {"Initial Welcome Message", true, false},
    {"Admin port", false, true},
    {"Admin Password", true, true},
    {"Admin IP Bindings", true, true},
    {"Admin IP Addresses", true, true},
    {"Enable logging", false, false},
    {"Logsize limit", false, false},
    {"Logfile type", false, false},
    {"Logfile delete time", false, false},
    {"Use GSS Support", false, false},
    {"GSS Prompt for Password", false, false},
    {"Download Speedlimit Type", false, false},
    {"Upload Speedlimit Type", false, false},
    {"Download Speedlimit", false, false},
    {"Upload Speedlimit", false, false},
    {"Buffer Size", false, false},
    {"Custom PASV IP server", true, false},
    {"Use custom PASV ports", false, false},
    {"Mode Z Use", false, false},
    {"Mode Z min level", false, false},
    {"Mode Z max level", false, false},
    {"Mode Z allow local", false, false},
    {"Mode Z disallowed IPs", true, false},
    {"IP Bindings", true, false},
    {"IP Filter Allowed", true, false},
    {"IP Filter Disallowed", true, false},
    {"Hide Welcome Message", false, false},
    {"Enable SSL", false, false},
    {"Allow explicit SSL", false, false},
    {"SSL Key file", true, false},
    {"SSL Certificate file", true, false},
    {"Implicit SSL ports", true, false},
    {"Force explicit SSL", false, false},
    {"Network Buffer Size", false, false},
    {"Force PROT P", false, false},
    {"SSL Key Password", true, false},
    {"Allow shared write", false, false},
    {"No External IP On Local", false, false},
    {"Active ignore local", false, false},
    {"Autoban enable", false, false},
    {"Autoban attempts", false, false},
    {"Autoban type", false, false},
    {"Autoban time", false, false},
    {"Service name", true, true},
    {"Service display name", true, true},
    {"Enable HASH", false, false},
    {"Disable IPv6", false, false},
};

}  // namespace

const OptionInfo& OptionTable(int id) { return kTable[id - 1]; }

int FindOption(std::string_view name) {
  for (int i = 0; i < kOptionCount; ++i)
    if (name == kTable[i].name) return i + 1;
  return 0;
}

GeneralOptions::GeneralOptions() {
  for (int i = 0; i < kOptionCount; ++i) values_[i].is_text = kTable[i].is_text;
}

}  // namespace quarno::ftpd
