#pragma once
// The vocabulary the admin client (src/ftpctl) and the FTP server daemon
// (src/ftpd) share: control codes, admin command ids, the option table and
// the configuration file's element names. Header only, so the daemon takes
// the words without the client.
namespace quarno::ftpctl {

// Control codes the FTP server acts on, delivered through its service's
// control channel.
enum ControlCode : int {
  kControlStartFtp = 200,   // take up the configuration file, serve FTP
  kControlStartHttp = 190,  // start HTTP serving
  kControlStopHttp = 191,   // stop HTTP serving
};

}  // namespace quarno::ftpctl
