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
  std::optional<std::string> ChooseFolder(Surface, const std::string& title) override {
    std::lock_guard l(m);
    chooser_titles.push_back(title);
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
  std::vector<std::string> help, messages, questions, captions, waiting, chooser_titles;
  std::vector<Icon> icons;
  std::deque<Answer> answers;
  std::optional<std::string> chosen;
  bool waiting_open = false;
  std::optional<int> exit_code;
};

struct FakeDdns : DdnsRegistry {
  std::string Resolve() override { return resolved; }
  void SetServerAddress(const std::string& d) override { address = d; }
  std::string GetByMac(const platform::MacAddress&) override { return by_mac; }
  std::string RegisterHost(const std::string& email, const std::string& name,
                           const platform::MacAddress&, int ftp, int http) override {
    registers.push_back({email, name, ftp, http});
    if (answers.empty()) return last_answer;
    last_answer = answers.front();
    answers.pop_front();
    return last_answer;
  }
  bool DeleteHost(const std::string& email, const std::string& name,
                  const platform::MacAddress&) override {
    deletes.push_back({email, name});
    return delete_result;
  }
  struct Register {
    std::string email, name;
    int ftp, http;
  };
  std::string resolved = "127.0.0.9";
  std::string address, by_mac = "null", last_answer;
  std::deque<std::string> answers;
  std::vector<Register> registers;
  std::vector<std::pair<std::string, std::string>> deletes;
  bool delete_result = true;
};

struct FakeMapper : PortMapper {
  int Classify(const std::string&, const std::string&, std::string& ftp,
               std::string& http) override {
    ++classified;
    if (!classify_ftp.empty()) ftp = classify_ftp;
    if (!classify_http.empty()) http = classify_http;
    return verdict;
  }
  std::vector<Mapping> List(const std::string&) override {
    ++listed;
    return table;
  }
  void RemoveServerMappings(const std::string&) override { ++removed_server; }
  int Add(const std::string&, int port, const std::string& d, const std::string& local) override {
    adds.push_back({port, d});
    last_local = local;
    return 0;
  }
  int Delete(const std::string&, int port) override {
    deletes.push_back(port);
    return 0;
  }
  int verdict = 0, classified = 0, listed = 0, removed_server = 0;
  std::string classify_ftp, classify_http, last_local;
  std::vector<Mapping> table;
  std::vector<std::pair<int, std::string>> adds;
  std::vector<int> deletes;
};

struct FakeRouter : RouterDdns {
  std::string Set(const std::string&, const std::string& name, const std::string& email,
                  const std::string& ftp, const std::string& http) override {
    calls.push_back({name, email, ftp, http});
    return "ok";
  }
  std::vector<std::vector<std::string>> calls;
};

struct FakeSettings : SettingsStore {
  bool Read(const std::string& n, std::string& v) override {
    auto it = values.find(n);
    if (it == values.end()) return false;
    v = it->second;
    return true;
  }
  bool WriteRegistration(const std::string& n, const std::string& e, const std::string& f,
                         const std::string& h) override {
    if (fail_writes) return false;
    values["Quarno"] = n;
    values["email"] = e;
    values["Ftp_Port"] = f;
    values["Http_Port"] = h;
    return true;
  }
  bool WriteAccount(const std::string& u, const std::string& p, const std::string& f,
                    const std::string& c) override {
    if (fail_writes) return false;
    values["Ftp_user"] = u;
    values["Ftp_password"] = p;
    values["Ftp_sharedfolder"] = f;
    values["Ftp_charset"] = c;
    return true;
  }
  bool Write(const std::string& n, const std::string& v) override {
    values[n] = v;
    return true;
  }
  std::map<std::string, std::string> values;
  bool fail_writes = false;
};

struct FakePorts : Ports {
  bool IsPortFree(uint16_t p) override { return !taken.count(p); }
  uint16_t PickFreePort(uint16_t, uint16_t, uint16_t excluded) override {
    uint16_t p = next++;
    if (p == excluded) p = next++;
    return p;
  }
  std::set<uint16_t> taken;
  uint16_t next = 40001;
};

struct FakeFtp : FtpServer {
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
  bool Control(int code) override {
    controls.push_back(code);
    return true;
  }
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
  std::string HomeFolder() override { return "/home/zelhome"; }
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
  bool ApplyAutoStart(bool enabled) override {
    applied.push_back(enabled);
    return true;
  }
  bool present = true, registered = false;
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
