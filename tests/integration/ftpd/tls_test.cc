// FTP over TLS (explicit, AUTH TLS) with real clients: Python's ftplib, curl and
// lftp, the session-resumption rule for data connections, and bad orders.
#include <sys/stat.h>

#include <filesystem>

#include "ftpd_fixture.h"
#include "platform/paths.h"
#include "platform/tls_identity.h"
#include "support/ftps_python.h"

namespace {

const std::string kTlsPython = std::string("\nimport hashlib, ssl") + quarno::test::kPythonReusingFtpTls + R"(
def tls_login(cls=Reusing, prot_p=True):
    f = cls(context=CTX, timeout=10)
    f.connect(HOST, PORT)
    f.auth()
    f.login('ftp', 'pw')
    if prot_p:
        f.prot_p()
    return f
def raw(lines, tls=False):
    # Sends `lines` one by one and returns the replies, b'' once the server closed.
    s = socket.create_connection((HOST, PORT), timeout=10)
    r = s.makefile('rb')
    out = [r.readline()]
    for line in lines:
        if line == 'TLS':
            r.close()
            s = CTX.wrap_socket(s)
            r = s.makefile('rb')
            continue
        s.sendall(line.encode() + b'\r\n')
        out.append(r.readline())
    s.settimeout(1)
    try:
        out.append(r.readline())  # b'' when the server closed
    except TimeoutError:
        out.append(b'open')
    s.close()
    return out
)";

class FtpdTls : public FtpdTest {
 protected:
  std::string ExtraSettings() override {
    return "<Item name=\"Enable SSL\" type=\"numeric\">1</Item>"
           "<Item name=\"Allow explicit SSL\" type=\"numeric\">1</Item>" +
           Forced();
  }
  virtual std::string Forced() { return ""; }
  RunResult TlsPython(const std::string& code) { return Python(kTlsPython + code); }
};

TEST_F(FtpdTls, PythonCurlAndLftpMoveFilesOverTls) {
  const std::string data = RandomBytes(3 << 20, 11);
  WriteFile(share_ + "/big.bin", data);
  RunResult py = TlsPython(R"(
f = tls_login()
assert ' AUTH TLS' in f.sendcmd('FEAT'), 'FEAT'
out = []
f.retrbinary('RETR /DISK_E/big.bin', out.append)
assert b''.join(out) == open(SHARE + '/big.bin', 'rb').read()
import io
f.storbinary('STOR /DISK_E/up.bin', io.BytesIO(b''.join(out)))
assert sorted(f.nlst('/DISK_E')) == ['big.bin', 'up.bin'], f.nlst('/DISK_E')
# Clear data beside an encrypted control connection, when asked for.
f.prot_c()
assert len(f.nlst('/DISK_E')) == 2
f.quit()
# The stock class brings a fresh session to the data connection: refused.
g = tls_login(ftplib.FTP_TLS)
refused(g.retrbinary, 'RETR /DISK_E/big.bin', lambda b: None, code='522')
assert g.voidcmd('NOOP').startswith('200')
g.quit()
)");
  EXPECT_EQ(py.exit_code, 0) << py.output;
  EXPECT_TRUE(ReadFile(share_ + "/up.bin") == data);

  const std::string got = xdg_->root() + "/curl.bin";
  RunResult down = RunShell("curl -sS -k --ssl-reqd -o " + got + " " + FtpUrl("/DISK_E/big.bin"));
  ASSERT_EQ(down.exit_code, 0) << down.output;
  EXPECT_TRUE(ReadFile(got) == data);
  RunResult up =
      RunShell("curl -sS -k --ssl-reqd -T " + got + " " + FtpUrl("/DISK_E/curl-up.bin"));
  ASSERT_EQ(up.exit_code, 0) << up.output;
  EXPECT_TRUE(ReadFile(share_ + "/curl-up.bin") == data);

  RunResult lftp = RunShell(
      "cd " + xdg_->root() +
      " && lftp -c 'set net:max-retries 1; set net:timeout 10; set ftp:ssl-force true; "
      "set ftp:ssl-protect-data true; set ssl:verify-certificate no; open -u ftp,pw -p " +
      std::to_string(ftp_port_) +
      " 127.0.0.1; get /DISK_E/big.bin -o lftp.bin; put lftp.bin -o /DISK_E/lftp-up.bin'");
  ASSERT_EQ(lftp.exit_code, 0) << lftp.output;
  EXPECT_TRUE(ReadFile(xdg_->root() + "/lftp.bin") == data);
  EXPECT_TRUE(ReadFile(share_ + "/lftp-up.bin") == data);
}

TEST_F(FtpdTls, BadOrdersGetAClearReplyAndTheServerStaysUp) {
  struct Case {
    const char* name;
    const char* lines;     // Python list for raw()
    const char* expected;  // the replies' codes, '' for a closed connection
  } cases[] = {
      {"PBSZ and PROT before AUTH", "['PBSZ 0', 'PROT P', 'NOOP']", "503 503 200"},
      {"unknown mechanism", "['AUTH KERBEROS', 'NOOP']", "504 200"},
      {"PROT before PBSZ closes", "['AUTH TLS', 'TLS', 'PROT P']", "234 503 ''"},
      {"AUTH twice closes", "['AUTH TLS', 'TLS', 'AUTH TLS']", "234 503 ''"},
      {"PBSZ needs a number", "['AUTH TLS', 'TLS', 'PBSZ x', 'PBSZ 0', 'PROT Q', 'PROT S', 'CCC']",
       "234 501 200 504 536 534"},
      {"a clear PASV after AUTH is not run", "['AUTH TLS\\r\\nPASV', 'TLS', 'NOOP']", "234 200"},
  };
  std::string script;
  for (const auto& c : cases) {
    script += std::string("got = [l[:3].decode() or \"''\" for l in raw(") + c.lines + ")][1:]\n" +
              "want = '" + c.expected + "'.split()\n" + "assert got[:len(want)] == want, ('" +
              c.name + "', got)\n";
  }
  // A handshake of garbage, then a client that says nothing at all.
  script += R"(
s = socket.create_connection((HOST, PORT), timeout=10)
s.recv(1000)
s.sendall(b'AUTH TLS\r\n')
assert s.recv(1000).startswith(b'234')
s.sendall(os.urandom(3000))
s.settimeout(10)
try:
    assert s.recv(1000) == b''
except ConnectionResetError:
    pass
f = tls_login()
assert f.nlst('/DISK_E') == []
f.quit()
)";
  RunResult r = TlsPython(script);
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

TEST_F(FtpdTls, TheCertificateIsMadeOnceAndItsFingerprintLoggedAtEachStart) {
  const std::string folder = quarno::platform::TlsIdentityFolder();
  struct stat st {};
  ASSERT_EQ(::stat((folder + "/key.pem").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::string error;
  auto identity = quarno::platform::LoadOrMakeTlsIdentity(folder, "", "", "", &error);
  ASSERT_TRUE(identity) << error;
  CaptureLog(xdg_->root() + "/tls-log");
  StopServer();
  StartServer();
  const std::string log = TakeLog();
  EXPECT_NE(log.find(identity->fingerprint_sha256), std::string::npos) << log;
  std::string hex = identity->fingerprint_sha256;
  std::erase(hex, ':');
  RunResult r = TlsPython(R"(
f = tls_login()
seen = hashlib.sha256(f.sock.getpeercert(binary_form=True)).hexdigest().upper()
assert seen == ')" + hex + R"(', seen
assert f.sock.version() in ('TLSv1.2', 'TLSv1.3')
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

class FtpdTlsForced : public FtpdTls {
 protected:
  std::string Forced() override {
    return "<Item name=\"Force explicit SSL\" type=\"numeric\">1</Item>"
           "<Item name=\"Force PROT P\" type=\"numeric\">1</Item>";
  }
};

TEST_F(FtpdTlsForced, PlainLoginsAndClearDataAreRefused) {
  RunResult r = TlsPython(R"(
f = ftplib.FTP(timeout=10)
f.connect(HOST, PORT)
refused(f.login, 'ftp', 'pw', code='530')
f.close()
g = tls_login(prot_p=False)
g.voidcmd('PBSZ 0')
refused(g.nlst, '/DISK_E', code='521')
refused(g.sendcmd, 'PROT C', code='534')
g.prot_p()
assert g.nlst('/DISK_E') == []
g.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  RunResult plain = Lftp("ls /DISK_E");
  EXPECT_NE(plain.exit_code, 0) << plain.output;
}

}  // namespace
