#pragma once
// A screen and a world for the main window's tests: the view records what the
// window shows and answers message boxes from a script; each capability
// records its calls and answers from what the test put in.
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ddns/ddns_manager.h"
#include "ui/autostart.h"
#include "ui/capabilities.h"
#include "ui/view.h"

namespace quarno::ui::test {

class FakeView : public View {
 public:
  using Key = std::pair<Surface, int>;

  void SetText(Surface s, int id, const std::string& t) override {
    std::lock_guard l(m);
    texts[{s, id}] = t;
    history[{s, id}].push_back(t);
  }
  std::string Text(Surface s, int id) override {
    std::lock_guard l(m);
    auto it = texts.find({s, id});
    return it == texts.end() ? std::string() : it->second;
  }
  void SetNumber(Surface s, int id, int v) override {
    std::lock_guard l(m);
    numbers[{s, id}] = v;
  }
  void SetChecked(Surface s, int id, bool c) override {
    std::lock_guard l(m);
    checked[{s, id}] = c;
  }
  bool Checked(Surface s, int id) override {
    std::lock_guard l(m);
    return checked[{s, id}];
  }
  void Select(Surface s, int id, int i) override {
    std::lock_guard l(m);
    selection[{s, id}] = i;
  }
  int Selection(Surface s, int id) override {
    std::lock_guard l(m);
    auto it = selection.find({s, id});
    return it == selection.end() ? -1 : it->second;
  }
  void Enable(Surface s, int id, bool e) override {
    std::lock_guard l(m);
    enabled[{s, id}] = e;
  }
  void ShowControl(Surface s, int id, bool v) override {
    std::lock_guard l(m);
    shown[{s, id}] = v;
  }
  void Focus(Surface s, int id) override {
    std::lock_guard l(m);
    focus = {s, id};
  }
  void SetMasked(Surface s, int id, bool v) override {
    std::lock_guard l(m);
    masked[{s, id}] = v;
  }
  void SetRows(Surface, int, const std::vector<ListRow>& r) override {
    std::lock_guard l(m);
    rows = r;
  }
  void Repaint(Surface) override {}
  void ShowWindow(Surface s, bool v) override {
    std::lock_guard l(m);
    visible[s] = v;
  }
  bool IsVisible(Surface s) override {
    std::lock_guard l(m);
    auto it = visible.find(s);
    return it == visible.end() ? true : it->second;
  }
  void SetOpacity(Surface, int a) override {
    std::lock_guard l(m);
    alpha = a;
  }
  void SetDimmed(Surface, bool d) override {
    std::lock_guard l(m);
    dimmed = d;
    if (d) ++dim_count;
  }
  std::optional<Rect> WindowRect(Surface) override { return rect; }
  void MoveWindow(Surface, const Rect& r) override {
    std::lock_guard l(m);
    rect = r;
  }
  void ShowPage(int p) override { page = p; }
  void EndInit(bool ok) override { init_ok = ok; }
  void SetTrayIcon(bool present) override {
    std::lock_guard l(m);
    tray = present;
  }
  void OpenHelp(const std::string& path) override {
    std::lock_guard l(m);
    help.push_back(path);
  }
  void CopyText(const std::string& text) override {
    std::lock_guard l(m);
    clipboard = text;
  }
  void EndProgram(int code) override {
    std::lock_guard l(m);
    exit_code = code;
  }
  void MessageBox(Surface, const std::string& t) override {
    std::lock_guard l(m);
    messages.push_back(t);
  }
  Answer AskYesNo(Surface, const std::string& t, const std::string& caption, Icon icon) override {
    std::lock_guard l(m);
    questions.push_back(t);
    captions.push_back(caption);
    icons.push_back(icon);
    Answer a = answers.empty() ? Answer::kNo : answers.front();
    if (!answers.empty()) answers.pop_front();
    return a;
  }
  std::optional<std::string> ChooseFolder(Surface, const std::string& title,
                                          const std::string& start) override {
    std::lock_guard l(m);
    chooser_titles.push_back(title);
    chooser_starts.push_back(start);
    return chosen;
  }
  void StartWaiting(Surface, const std::string& t) override {
    std::lock_guard l(m);
    waiting.push_back(t);
    waiting_open = true;
  }
  void FinishWaiting() override {
    std::lock_guard l(m);
    waiting_open = false;
  }

  std::string At(int id) { return Text(Surface::kMain, id); }
  bool IsEnabled(int id) {
    std::lock_guard l(m);
    auto it = enabled.find({Surface::kMain, id});
    return it == enabled.end() ? true : it->second;
  }
  bool IsShown(int id) {
    std::lock_guard l(m);
    auto it = shown.find({Surface::kMain, id});
    return it == shown.end() ? true : it->second;
  }

  std::mutex m;
  std::map<Key, std::string> texts;
  std::map<Key, std::vector<std::string>> history;
  std::map<Key, int> numbers, selection;
  std::map<Key, bool> checked, enabled, shown, masked;
  std::map<Surface, bool> visible;
  std::optional<Key> focus;
  std::vector<ListRow> rows;
  int alpha = 255;
  bool dimmed = false;
  int dim_count = 0;
  std::optional<Rect> rect;
  int page = -1;
  std::optional<bool> init_ok;
  bool tray = false;
  std::vector<std::string> help, messages, questions, captions, waiting, chooser_titles,
      chooser_starts;
  std::string clipboard;
  std::vector<Icon> icons;
  std::deque<Answer> answers;
  std::optional<std::string> chosen;
  bool waiting_open = false;
  std::optional<int> exit_code;
};

struct FakeDdns : DdnsRegistry {
  std::optional<std::string> LocateServer() override {
    if (resolved.empty()) return std::nullopt;
    address = resolved;
    return resolved;
  }
  RegisterResult Register(const DdnsRegistration& r) override {
    registers.push_back({r.email, r.name, r.ftp_port, r.http_port});
    if (!answers.empty()) {
      last_answer = answers.front();
      answers.pop_front();
    }
    return {ClassifyRegisterAnswer(last_answer), last_answer};
  }
  bool Delete(const std::string& email, const std::string& name,
              const platform::MacAddress&) override {
    deletes.push_back({email, name});
    return delete_result;
  }
  DdnsLookup LookupByMac(const platform::MacAddress&) override {
    return {by_mac, ParseGetByMacAnswer(by_mac)};
  }
  struct Sent {
    std::string email, name;
    int ftp, http;
  };
  std::string resolved = "127.0.0.9";
  std::string address, by_mac = "null", last_answer;
  std::deque<std::string> answers;
  std::vector<Sent> registers;
  std::vector<std::pair<std::string, std::string>> deletes;
  bool delete_result = true;
};

struct FakeMapper : PortMapper {
  std::optional<UpnpControlPoint> Discover(const std::string& gateway) override {
    return UpnpControlPoint{gateway, 5000, "/ctl/IPConn"};
  }
  ServerMappingReading ClassifyServerMappings(const std::string& gateway,
                                              const std::string&) override {
    ++classified;
    ServerMappingReading reading;
    reading.kind = static_cast<MappingClass>(verdict);
    if (verdict != -1) reading.control = {gateway, 5000, "/ctl/IPConn"};
    if (!classify_ftp.empty()) reading.ftp_port = classify_ftp;
    if (!classify_http.empty()) reading.http_port = classify_http;
    return reading;
  }
  bool ReadMappings(const UpnpControlPoint& control) override {
    ++listed;
    last_control = control;
    return true;
  }
  std::vector<PortMapping> Mappings() const override { return table; }
  void RemoveServerMappings(const UpnpControlPoint&, ServerMappingScope scope) override {
    removed.push_back(scope);
  }
  UpnpActionResult AddMapping(const UpnpControlPoint&, const PortMapping& m) override {
    adds.push_back({std::stoi(m.external_port), m.description});
    last_local = m.internal_client;
    return {0};
  }
  UpnpActionResult DeleteMapping(const UpnpControlPoint&, const PortMapping& m) override {
    deletes.push_back(std::stoi(m.external_port));
    return {0};
  }
  std::optional<std::string> ExternalAddress(const UpnpControlPoint&) override {
    return external_address;
  }
  std::optional<std::string> external_address = "192.0.2.10";
  int verdict = 0, classified = 0, listed = 0;
  std::string classify_ftp, classify_http, last_local;
  UpnpControlPoint last_control;
  std::vector<PortMapping> table;
  std::vector<ServerMappingScope> removed;
  std::vector<std::pair<int, std::string>> adds;
  std::vector<int> deletes;
};

struct FakeRouter : RouterAccess {
  std::optional<std::string> Probe(const std::string&) override { return "zq300"; }
  FirmwareVersion Firmware(const std::string&) override { return {FirmwareStatus::kOk, "8.34"}; }
  PasswordQuestion WantsPassword(const std::string&) override {
    return PasswordQuestion::kNotNeeded;
  }
  CredentialCheck CheckCredentials(const std::string&, const std::string&,
                                   const std::string&) override {
    return {};
  }
  std::optional<std::string> SetDdns(const std::string&, const RouterDdnsSetting& s) override {
    calls.push_back({s.name, s.email, s.ftp_port, s.http_port});
    return "ok";
  }
  std::vector<std::vector<std::string>> calls;
};

struct FakeSettings : SettingsStore {
  std::optional<std::string> Read(std::string_view n) override {
    auto it = values.find(std::string(n));
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  bool WriteRegistration(const StoredRegistration& r) override {
    if (fail_writes) return false;
    values["Quarno"] = r.name;
    values["email"] = r.email;
    values["Ftp_Port"] = r.ftp_port;
    values["Http_Port"] = r.http_port;
    return true;
  }
  bool WriteAccount(const StoredAccount& a) override {
    if (fail_writes) return false;
    values["Ftp_user"] = a.user;
    values["Ftp_password"] = a.password;
    values["Ftp_sharedfolder"] = a.shared_folder;
    values["Ftp_charset"] = a.charset;
    return true;
  }
  bool Write(std::string_view n, std::string_view v) override {
    values[std::string(n)] = std::string(v);
    return true;
  }
  bool Remove(std::string_view n) override { return values.erase(std::string(n)) != 0; }
  std::map<std::string, std::string> values;
  bool fail_writes = false;
};

struct FakePorts : NetworkFacts {
  bool NetworkReady() override { return true; }
  std::optional<std::string> DefaultGateway() override { return "127.0.0.2"; }
  std::optional<std::string> LocalAddressFor(const std::string&) override { return "127.0.0.1"; }
  std::optional<platform::MacAddress> GatewayMac(const std::string&) override {
    return platform::MacAddress{};
  }
  bool IsPortFree(uint16_t p) override { return !taken.count(p); }
  std::optional<uint16_t> PickFreePort(uint16_t, uint16_t, uint16_t excluded) override {
    uint16_t p = next++;
    if (p == excluded) p = next++;
    return p;
  }
  std::set<uint16_t> taken;
  uint16_t next = 40001;
};

// The admin connection and the FTP server's service in one.
struct FakeFtp : AdminChannel, ftpctl::FtpServerControl {
  ftpctl::SetUpResult SetUp(int port) override {
    admin_port = port;
    return setup;
  }
  bool SendOptions(const ftpctl::CGeneralOption& o) override {
    std::lock_guard l(m);
    options.push_back(o);
    return true;
  }
  bool SendServerState(uint16_t s) override {
    std::lock_guard l(m);
    states.push_back(s);
    return true;
  }
  bool SendAccounts(const ftpctl::CUserSetting& a) override {
    std::lock_guard l(m);
    accounts.push_back(a);
    return true;
  }
  bool SendKeepAlive() override {
    std::lock_guard l(m);
    ++keep_alives;
    return true;
  }
  uint16_t ServerState() override { return state; }
  std::vector<ftpctl::ConnectionInfo> Connections() override { return connections; }

  bool ServiceExists() override { return true; }
  platform::ServiceState QueryService() override { return platform::ServiceState::kRunning; }
  bool Control(ftpctl::ControlCode code) override {
    controls.push_back(code);
    return true;
  }
  bool WritePortClosedConfig() override { return true; }
  ftpctl::FtpConfigResult WriteServerConfig(const ftpctl::FtpServerAccount&,
                                            const platform::MacAddress&, int,
                                            const ftpctl::PassiveMode&) override {
    return {};
  }
  std::optional<ftpctl::PreparedFtpServer> Prepare() override { return std::nullopt; }
  bool StartService(const std::string&) override { return true; }
  void StopService() override { ++stops; }

  std::mutex m;
  ftpctl::SetUpResult setup = ftpctl::SetUpResult::kAuthenticated;
  int admin_port = 0;
  std::vector<ftpctl::CGeneralOption> options;
  std::vector<uint16_t> states;
  std::vector<ftpctl::CUserSetting> accounts;
  int keep_alives = 0, stops = 0;
  uint16_t state = 0;
  std::vector<ftpctl::ConnectionInfo> connections;
  std::vector<int> controls;
};

struct FakeHttp : HttpServing {
  bool Start(const std::string& port) override {
    starts.push_back(port);
    running = true;
    return true;
  }
  void Stop() override {
    ++stops;
    running = false;
  }
  bool Running() override { return running; }
  void SetCharsetUtf8(bool u) override { utf8 = u; }
  void SetRouterMac(const platform::MacAddress& m) override { mac = m; }
  std::string ShareLink(const std::string& host, const std::string& port, const std::string& user,
                        const std::string& password, const std::string& share) override {
    return "https://" + host + ":" + port + "/httpstream/T(" + user + "," + password + ")/" +
           share + "/";
  }
  std::vector<std::string> starts;
  int stops = 0;
  bool running = false, utf8 = false;
  platform::MacAddress mac{};
};

struct FakeShare : ShareTree {
  bool LinkSharedFolder(const std::string& u, const std::string& p, const std::string& f,
                        ftpctl::CUserSetting& a) override {
    links.push_back(f);
    ftpctl::t_user user;
    user.userName = u;
    user.password = ftpctl::PasswordHash(p);
    a.Append(user);
    return true;
  }
  FolderKind Classify(const std::string& f) override {
    auto it = kinds.find(f);
    return it == kinds.end() ? FolderKind::kFolder : it->second;
  }
  std::string JunctionPath(const std::string& f) override {
    return "/home/zelhome/" + f.substr(f.find_last_of('/') + 1);
  }
  void SetCurrentJunctionPath(const std::string& p) override { current = p; }
  void RemoveCurrentJunction() override { ++removed; }
  std::vector<std::string> links;
  std::map<std::string, FolderKind> kinds;
  std::string current;
  int removed = 0;
};

struct FakeFirewall : Firewall {
  void Check(const std::vector<int>& ports) override { checks.push_back(ports); }
  std::vector<std::vector<int>> checks;
};

struct FakeAutoStart : AutoStart {
  bool BootServiceExecutablePresent() override { return present; }
  bool IsAutoStartRegistered() override { return registered; }
  AutoStartProblem ApplyAutoStart(bool enabled) override {
    applied.push_back(enabled);
    return problem;
  }
  bool present = true, registered = false;
  AutoStartProblem problem = AutoStartProblem::kNone;
  std::vector<bool> applied;
};

// Timers that never fire on their own: tests post WM_TIMER themselves.
struct ManualTimers : Timers {
  void Start(unsigned id, std::chrono::milliseconds period, MessageSink*) override {
    std::lock_guard l(m);
    running[id] = period;
  }
  void Kill(unsigned id) override {
    std::lock_guard l(m);
    running.erase(id);
  }
  void Sleep(std::chrono::milliseconds d) override { now += d; }
  std::chrono::steady_clock::time_point Now() override { return now; }
  bool Running(unsigned id) {
    std::lock_guard l(m);
    return running.count(id) != 0;
  }
  std::mutex m;
  std::map<unsigned, std::chrono::milliseconds> running;
  std::chrono::steady_clock::time_point now{};
};

}  // namespace quarno::ui::test
