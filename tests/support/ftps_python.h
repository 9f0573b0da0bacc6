#pragma once
// Python's stock FTP_TLS opens each data connection with a fresh TLS session,
// which the FTP server refuses (522, so that nobody can take over another's
// data connection); `Reusing` hands the data socket the control connection's
// session, as curl and lftp do. `CTX` trusts any certificate (each install's is
// self-signed). Expects ftplib and ssl imported.

namespace quarno::test {

inline constexpr char kPythonReusingFtpTls[] = R"(
CTX = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
CTX.check_hostname = False
CTX.verify_mode = ssl.CERT_NONE
class Reusing(ftplib.FTP_TLS):
    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host,
                                            session=self.sock.session)
        return conn, size
)";

}  // namespace quarno::test
