#include "ui/main_window.h"

#include <gtest/gtest.h>

#include "ui/texts.h"
#include "unit/ui/fakes.h"

namespace quarno::ui {
namespace {

using test::FakeView;

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    caps.ddns = &ddns;
    caps.mapper = &mapper;
    caps.heal_mapper = &heal_mapper;
    caps.router = &router;
    caps.settings = &settings;
    caps.network = &ports;
    caps.ftp_service = &ftp;
    caps.admin = &ftp;
    caps.http = &http;
    caps.share = &share;
    caps.firewall = &firewall;
    dlg = std::make_unique<CQuarnoUIDlg>(view, timers, sink, caps, autostart);
    auto& f = dlg->Facts();
    f.gateway = "127.0.0.2";
    f.local_address = "127.0.0.1";
    f.mac = {0x00, 0x11, 0x22, 0x1A, 0x2B, 0x3C};
    f.admin_port = 31000;
    f.program_folder = "/opt/quarno";
  }

  void TypeRegistration(const std::string& name, const std::string& email,
                        const std::string& port) {
    view.SetText(Surface::kMain, ctl::kName, name);
    view.SetText(Surface::kMain, ctl::kEmail, email);
    view.SetText(Surface::kMain, ctl::kPort, port);
  }
  void TypeAccount(const std::string& user, const std::string& password,
                   const std::string& folder) {
    view.SetText(Surface::kMain, ctl::kFtpUser, user);
    view.SetText(Surface::kMain, ctl::kFtpPassword, password);
    view.SetText(Surface::kMain, ctl::kSharedFolder, folder);
  }
  void StoreRegistration() {
    settings.values = {{"Quarno", "myhome"},
                       {"email", "me@example.com"},
                       {"Ftp_Port", "2121"},
                       {"Http_Port", "40500"},
                       {"Ftp_user", "user"},
                       {"Ftp_password", "secret"},
                       {"Ftp_sharedfolder", "/srv/share"},
                       {"Ftp_charset", "UTF-8"}};
  }
  static std::optional<DdnsRecord> Rec(const std::string& answer) {
    return ParseGetByMacAnswer(answer);
  }
  // Drains what the window posted to itself, as the toolkit's loop would.
  void Pump() {
    while (auto m = sink.Wait(std::chrono::milliseconds(0))) dlg->OnMessage(*m);
  }
  void StartAfterInterruptedRenewal(const char* record, const char* served);
  bool HealerMappedHttp(int http_port) const {
    for (const auto& [port, description] : heal_mapper.adds)
      if (port == http_port && description == kHttpMappingDescription) return true;
    return false;
  }
  std::vector<std::string> StatusHistory() {
    return view.history[{Surface::kMain, drawn::kRegistrationStatus}];
  }

  FakeView view;
  test::ManualTimers timers;
  QueueSink sink;
  test::FakeDdns ddns;
  test::FakeMapper mapper;
  test::FakeMapper heal_mapper;
  test::FakeRouter router;
  test::FakeSettings settings;
  test::FakePorts ports;
  test::FakeFtp ftp;
  test::FakeHttp http;
  test::FakeShare share;
  test::FakeFirewall firewall;
  test::FakeAutoStart autostart;
  Capabilities caps;
  std::unique_ptr<CQuarnoUIDlg> dlg;
  CancelFlag no_cancel;
};

// ---- first registration ----

TEST_F(MainWindowTest, NameOfAnotherUserOrBadParametersStopAfterOneAttempt) {
  for (const auto& [answer, status] :
       {std::pair<std::string, std::string>{"!yours", "다른 사용자가 사용중인 Quarno 주소입니다."},
        {"err !badsys", "입력 파라미터 오류입니다."}}) {
    ddns.registers.clear();
    mapper.deletes.clear();
    view.history.clear();
    view.messages.clear();
    TypeRegistration("myhome", "me@example.com", "2121");
    ddns.answers = {answer, "good;1;1"};
    dlg->RegisterAddress(nullptr, no_cancel);
    EXPECT_EQ(ddns.registers.size(), 1u) << answer;
    // The refused attempt leaves no forwarding behind: FTP, HTTP and the passive range.
    ASSERT_EQ(mapper.deletes.size(), 12u);
    EXPECT_EQ(mapper.deletes[0], 2121);
    EXPECT_EQ(mapper.deletes[2], PassivePortRange(2121).low);
    const auto history = StatusHistory();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0], status);
    EXPECT_EQ(history[1], "등록실패");
    EXPECT_EQ(view.messages, std::vector<std::string>{"DDNS 서버 등록에 실패했습니다."});
  }
}

TEST_F(MainWindowTest, FailedRenewalOfARegisteredPcKeepsTheRecord) {
  StoreRegistration();
  mapper.verdict = 1;
  dlg->StartupDecision(Rec("myhome.quarno.example;me@example.com;2121;40500"), no_cancel);
  ASSERT_TRUE(dlg->Registered());
  ddns.answers = {"fail"};
  int mode = 1;
  dlg->RegisterAddress(&mode, no_cancel);
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(ddns.registers.size(), 5u);
  EXPECT_EQ(ddns.registers[0].ftp, 2121);
  EXPECT_TRUE(ddns.deletes.empty());
}

TEST_F(MainWindowTest, EndingTheProgramStopsTheAttempts) {
  TypeRegistration("myhome", "me@example.com", "2121");
  CancelFlag ending;
  ending.Set();
  dlg->RegisterAddress(nullptr, ending);
  EXPECT_TRUE(ddns.registers.empty());
  EXPECT_FALSE(dlg->FtpOnline());
  EXPECT_FALSE(dlg->Registered());
}

TEST_F(MainWindowTest, RegistrationInputIsCheckedInOrder) {
  struct Case {
    std::string name, email, port;
    std::string message;
    int focus;
  };
  ports.taken = {2121};
  const Case cases[] = {
      {"", "me@example.com", "21", "Quarno 주소를 입력하세요", ctl::kName},
      {"my_home", "", "", "under bar(\"_\") 문자는 Quarno 주소명에 포함될 수 없습니다.",
       ctl::kName},
      {"myhome", "", "21", "Quarno E-mail 주소를 입력하세요", ctl::kEmail},
      {"myhome", "me.example.com", "21", "Quarno E-mail 주소형식에 맞게 입력하세요", ctl::kEmail},
      {"myhome", "@x", "", "Quarno Server Port를 입력하세요", ctl::kPort},
      {"myhome", "@x", "0", "사용가능한 Port 범위를 벗어났습니다.", ctl::kPort},
      {"myhome", "@x", "70000", "사용가능한 Port 범위를 벗어났습니다.", ctl::kPort},
      {"myhome", "@x", "abc", "사용가능한 Port 범위를 벗어났습니다.", ctl::kPort},
      {"myhome", "@x", "99999999999999999999", "사용가능한 Port 범위를 벗어났습니다.", ctl::kPort},
      {"myhome", "@x", "2121", "다른 응용 프로그램에서 사용 중인 포트입니다.", ctl::kPort},
  };
  for (const Case& c : cases) {
    view.messages.clear();
    TypeRegistration(c.name, c.email, c.port);
    dlg->RegisterAddress(nullptr, no_cancel);
    EXPECT_EQ(view.messages, std::vector<std::string>{c.message}) << c.name << c.port;
    ASSERT_TRUE(view.focus);
    EXPECT_EQ(view.focus->second, c.focus);
  }
  EXPECT_TRUE(ddns.registers.empty());
  // The servers went off before the first check and stayed so.
  EXPECT_FALSE(dlg->FtpOnline());
}

TEST_F(MainWindowTest, FtpSettingsCarryPortTimeoutsWelcomeAndAdminPort) {
  TypeRegistration("myhome", "me@example.com", "65535");
  ddns.answers = {"good;1;1"};
  dlg->RegisterAddress(nullptr, no_cancel);
  ASSERT_FALSE(ftp.options.empty());
  const auto& o = ftp.options.front();
  EXPECT_EQ(o.Text(ftpctl::OPTION_SERVERPORT), "65535");
  EXPECT_EQ(o.Number(ftpctl::OPTION_TIMEOUT), 300);
  EXPECT_EQ(o.Number(ftpctl::OPTION_NOTRANSFERTIMEOUT), 0);
  EXPECT_EQ(o.Text(ftpctl::OPTION_WELCOMEMESSAGE), "Ralmek_FTPD && Host-AB1222 1A2B3C");
  EXPECT_EQ(o.Number(ftpctl::OPTION_ADMINPORT), 31000);
}

// A set replaces the whole set: one without the protections would switch off
// the server's TLS and its ban of guessing addresses.
TEST_F(MainWindowTest, FtpSettingsKeepTheProtectionsOnAndForceTlsOnlyWhenAsked) {
  for (const char* force : {"", "1"}) {
    settings.values["Ftp_force_tls"] = force;
    TypeRegistration("myhome", "me@example.com", "2121");
    ddns.answers = {"good;1;1"};
    ftp.options.clear();
    dlg->RegisterAddress(nullptr, no_cancel);
    ASSERT_FALSE(ftp.options.empty()) << force;
    const auto& o = ftp.options.back();
    const int forced = *force ? 1 : 0;
    EXPECT_EQ(o.Number(ftpctl::OPTION_ENABLESSL), 1) << force;
    EXPECT_EQ(o.Number(ftpctl::OPTION_ALLOWEXPLICITSSL), 1) << force;
    EXPECT_EQ(o.Number(ftpctl::OPTION_SSLFORCEEXPLICIT), forced) << force;
    EXPECT_EQ(o.Number(ftpctl::OPTION_FORCEPROTP), forced) << force;
    EXPECT_EQ(o.Number(ftpctl::OPTION_AUTOBAN_ENABLE), 1) << force;
    EXPECT_EQ(o.Number(ftpctl::OPTION_AUTOBAN_ATTEMPTS), 5) << force;
    EXPECT_EQ(o.Number(ftpctl::OPTION_AUTOBAN_BANTIME), 15) << force;
  }
}

// ---- passive mode through the router, mappings kept ----

TEST_F(MainWindowTest, PassiveRangeIsMappedAndAnnouncedWithTheRoutersAddress) {
  dlg->StartupDecision(std::nullopt, no_cancel);  // a PC not registered yet
  TypeRegistration("myhome", "me@example.com", "2121");
  ddns.answers = {"good;1;1"};
  dlg->RegisterAddress(nullptr, no_cancel);
  ASSERT_TRUE(dlg->Registered());
  std::vector<int> passive;
  for (const auto& [port, description] : mapper.adds)
    if (description == kPassiveMappingDescription) passive.push_back(port);
  ASSERT_EQ(passive.size(), 10u);
  EXPECT_EQ(passive.front(), 29900);
  EXPECT_EQ(passive.back(), 29909);

  ASSERT_FALSE(ftp.options.empty());
  const auto& o = ftp.options.back();
  EXPECT_EQ(o.Number(ftpctl::OPTION_USECUSTOMPASVPORT), 1);
  EXPECT_EQ(o.Number(ftpctl::OPTION_CUSTOMPASVMINPORT), 29900);
  EXPECT_EQ(o.Number(ftpctl::OPTION_CUSTOMPASVMAXPORT), 29909);
  EXPECT_EQ(o.Number(ftpctl::OPTION_CUSTOMPASVIPTYPE), 1);
  EXPECT_EQ(o.Text(ftpctl::OPTION_CUSTOMPASVIP), "192.0.2.10");

  const auto served = dlg->Healer().Served();
  ASSERT_TRUE(served);
  EXPECT_EQ(served->ftp_port, 2121);
  EXPECT_EQ(served->http_port, ddns.registers.back().http);
  EXPECT_EQ(served->passive.low, 29900);
  EXPECT_EQ(served->external_address, "192.0.2.10");

  // A new WAN address reaches the server in a whole option set: the server
  // replaces its set, so the port and welcome must ride along.
  heal_mapper.verdict = 1;
  heal_mapper.external_address = "192.0.2.99";
  const std::size_t workflow_adds = mapper.adds.size();
  EXPECT_TRUE(dlg->Healer().CheckNow().address_changed);
  const auto& changed = ftp.options.back();
  EXPECT_EQ(changed.Text(ftpctl::OPTION_CUSTOMPASVIP), "192.0.2.99");
  EXPECT_EQ(changed.Text(ftpctl::OPTION_SERVERPORT), "2121");
  EXPECT_EQ(changed.Text(ftpctl::OPTION_WELCOMEMESSAGE), "Ralmek_FTPD && Host-AB1222 1A2B3C");
  // The check repaired through its own mapper.
  EXPECT_EQ(mapper.adds.size(), workflow_adds);
  EXPECT_EQ(heal_mapper.adds.size(), 12u);
}

TEST_F(MainWindowTest, MappingKeptByTheRouterGetsThePassiveRangeBesideIt) {
  StoreRegistration();
  mapper.verdict = 1;
  mapper.external_address = std::nullopt;  // a router that does not tell
  heal_mapper.external_address = std::nullopt;
  dlg->StartupDecision(Rec("myhome.quarno.example;me@example.com;2121;40500"), no_cancel);
  ASSERT_EQ(mapper.adds.size(), 10u);
  EXPECT_EQ(mapper.adds.front().second, kPassiveMappingDescription);
  ASSERT_FALSE(ftp.options.empty());
  EXPECT_EQ(ftp.options.back().Number(ftpctl::OPTION_CUSTOMPASVMINPORT), 29900);
  // Without the router's address every client keeps getting the LAN address.
  EXPECT_EQ(ftp.options.back().Number(ftpctl::OPTION_CUSTOMPASVIPTYPE), 0);
  const auto served = dlg->Healer().Served();
  ASSERT_TRUE(served);
  EXPECT_EQ(served->http_port, 40500);
}

// The boot-up service stopped by the program's start during a renewal that
// mapped HTTP port 45000: `record` is what the DDNS server has, `served` the
// HTTP port that must be stored, served and mapped at once (not one healing
// period later).
void MainWindowTest::StartAfterInterruptedRenewal(const char* record, const char* served) {
  StoreRegistration();
  mapper.verdict = 1;
  mapper.classify_ftp = "2121";
  mapper.classify_http = "45000";
  heal_mapper.verdict = 1;
  dlg->StartupDecision(Rec(record), no_cancel);
  EXPECT_EQ(settings.values["Http_Port"], served);
  ASSERT_FALSE(http.starts.empty());
  EXPECT_EQ(http.starts.back(), served);
  EXPECT_TRUE(HealerMappedHttp(std::atoi(served)));
}

TEST_F(MainWindowTest, PortsTheDdnsServerAndRouterAgreeOnReplaceStaleStoredOnes) {
  StartAfterInterruptedRenewal("myhome.quarno.example;me@example.com;2121;45000", "45000");
}

TEST_F(MainWindowTest, StoredPortsStayWhenOnlyTheRouterMapsAnotherHttpPort) {
  StartAfterInterruptedRenewal("myhome.quarno.example;me@example.com;2121;40500", "40500");
}

TEST_F(MainWindowTest, HealerStopsWhereTheMappingsGoAndOnExit) {
  StoreRegistration();
  mapper.verdict = 1;
  const auto record = Rec("myhome.quarno.example;me@example.com;2121;40500");
  dlg->StartupDecision(record, no_cancel);
  ASSERT_TRUE(dlg->Healer().Served());
  view.SetText(Surface::kMain, ctl::kEmail, "me@example.com");
  dlg->DeleteExistingAccount();
  EXPECT_EQ(mapper.removed.size(), 1u);
  EXPECT_FALSE(dlg->Healer().Served());

  // A renewal that fails leaves nothing for the healer to put back.
  dlg->StartupDecision(record, no_cancel);
  ASSERT_TRUE(dlg->Healer().Served());
  ddns.answers = {"fail"};
  int mode = 1;
  dlg->RegisterAddress(&mode, no_cancel);
  EXPECT_FALSE(dlg->Healer().Served());

  dlg->StartupDecision(record, no_cancel);
  ASSERT_TRUE(dlg->Healer().Served());
  dlg->OnCommand(kCmdTrayExit);
  dlg->Runner().WaitIdle();
  EXPECT_FALSE(dlg->Healer().Served());
}

TEST_F(MainWindowTest, ServerStateWordKeepsOnlyTheLockBitWhenGoingOnline) {
  ftp.state = 0x0017;
  dlg->SwitchServers(nullptr, true, true, "40001");
  EXPECT_EQ(ftp.states.back(), 0x0011);
  dlg->SwitchServers(nullptr, false, false, {});
  EXPECT_EQ(ftp.states.back(), 0x0017 | 0x0002);
  EXPECT_EQ(http.stops, 1);
  // The boot-up service's FTP server is told once to leave HTTP to this program.
  dlg->Facts().ftp_server_running = true;
  dlg->SwitchServers(nullptr, false, false, {});
  dlg->SwitchServers(nullptr, false, false, {});
  EXPECT_EQ(ftp.controls, std::vector<int>{191});
}

// ---- start-up decision ----

TEST_F(MainWindowTest, RecordWithoutMappingAndMatchingStoredAccountRegistersAgainAndApplies) {
  StoreRegistration();
  mapper.verdict = 0;
  ddns.answers = {"good;2121;40001"};
  dlg->StartupDecision(Rec("myhome.quarno.example;me@example.com;0;0"), no_cancel);
  EXPECT_EQ(dlg->StatusText(), "등록됨");
  ASSERT_EQ(ddns.registers.size(), 1u);
  // Ports "0" in the record are replaced by the stored ones.
  EXPECT_EQ(ddns.registers[0].ftp, 2121);
  EXPECT_EQ(share.links, std::vector<std::string>{"/srv/share"});
  EXPECT_EQ(ftp.accounts.size(), 1u);
  EXPECT_TRUE(dlg->AccountApplied());
  EXPECT_TRUE(http.utf8);
  EXPECT_FALSE(view.IsEnabled(ctl::kRegister));
  EXPECT_FALSE(view.IsShown(ctl::kDeleteAccount));
  // Start-up mode shows no success box, neither for the registration (it
  // would hold the account's restore) nor for the account.
  EXPECT_TRUE(view.messages.empty()) << ::testing::PrintToString(view.messages);
}

TEST_F(MainWindowTest, ShareLinkIsCopiedOnlyOnceRegisteredWithAnAccount) {
  dlg->OnCommand(kCmdCopyShareLink);
  EXPECT_EQ(view.clipboard, "");
  EXPECT_EQ(view.messages, std::vector<std::string>{text::kShareLinkNotReady});
  view.messages.clear();
  StoreRegistration();
  mapper.verdict = 0;
  ddns.answers = {"good;2121;40001"};
  dlg->StartupDecision(Rec("myhome.quarno.example;me@example.com;0;0"), no_cancel);
  ASSERT_TRUE(dlg->AccountApplied());
  dlg->OnCommand(kCmdCopyShareLink);
  EXPECT_EQ(view.clipboard, "https://myhome.quarno.ralmek.co.kr:" + dlg->HttpPortText() +
                                "/httpstream/T(user,secret)/share/");
  EXPECT_EQ(view.messages, std::vector<std::string>{text::kShareLinkCopied});
}

TEST_F(MainWindowTest, StartUpAppliesTheStoredAccountWithoutAskingAboutKnockingClients) {
  // Internet clients retrying their login while the program starts must not
  // hold the start-up at a question nobody answers.
  dlg->StartServices(no_cancel);
  ftp.connections = {{2, "", "192.0.3.1", "t2"}};
  sink.Post(WM_FTP_CONNECTIONS, 0, 1);
  Pump();
  StoreRegistration();
  mapper.verdict = 0;
  ddns.answers = {"good;2121;40001"};
  dlg->StartupDecision(Rec("myhome.quarno.example;me@example.com;2121;40001"), no_cancel);
  EXPECT_TRUE(view.questions.empty());
  EXPECT_EQ(ftp.accounts.size(), 1u);
  EXPECT_TRUE(dlg->AccountApplied());
}

TEST_F(MainWindowTest, RecordWithoutMappingWhoseRenewalFailsShowsFailure) {
  StoreRegistration();
  ddns.answers = {"fail"};
  dlg->StartupDecision(Rec("myhome.quarno.example;me@example.com;2121;40500"), no_cancel);
  EXPECT_EQ(dlg->StatusText(), "등록실패");
  EXPECT_TRUE(view.IsEnabled(ctl::kRegister));
  EXPECT_FALSE(view.IsEnabled(ctl::kApply));
  EXPECT_TRUE(ftp.accounts.empty());
}

TEST_F(MainWindowTest, RecordOfAnotherRegistrationShowsTheOtherPcState) {
  StoreRegistration();
  view.SetText(Surface::kMain, ctl::kEmail, "typed@example.com");
  dlg->StartupDecision(Rec("friend.quarno.example;friend@example.com;2200;40600"), no_cancel);
  EXPECT_EQ(dlg->StatusText(), "다른 PC에서 등록됨");
  EXPECT_EQ(view.At(ctl::kName), "friend");
  EXPECT_FALSE(view.IsEnabled(ctl::kName));
  EXPECT_EQ(view.At(ctl::kPort), "2200");
  EXPECT_EQ(view.At(ctl::kEmail), "");
  EXPECT_FALSE(view.IsShown(ctl::kRegister));
  EXPECT_TRUE(view.IsShown(ctl::kRegisterToThisPc));
  EXPECT_TRUE(view.IsShown(ctl::kDeleteAccount));
}

TEST_F(MainWindowTest, MappingOfThisPcAfterTheBootServiceKeepsItsServersAndLink) {
  StoreRegistration();
  mapper.verdict = 1;
  dlg->Facts().ftp_server_running = true;
  ports.taken = {2121, 40500};  // its own servers hold the ports
  dlg->StartupDecision(Rec("myhome.quarno.example;me@example.com;2121;40500"), no_cancel);
  EXPECT_EQ(dlg->StatusText(), "등록됨");
  EXPECT_TRUE(http.starts.empty());
  EXPECT_TRUE(share.links.empty());
  EXPECT_EQ(share.current, "/home/zelhome/share");
  EXPECT_TRUE(dlg->AccountApplied());
}

TEST_F(MainWindowTest, StoredFtpPortTakenFailsTheStartUp) {
  StoreRegistration();
  mapper.verdict = 1;
  ports.taken = {2121};
  dlg->StartupDecision(Rec("myhome.quarno.example;me@example.com;2121;40500"), no_cancel);
  EXPECT_EQ(dlg->StatusText(), "등록실패");
  EXPECT_EQ(view.messages,
            std::vector<std::string>{"등록된 FTP Port가 다른 응용프로그램에서 사용중입니다.\r\n\r\n"
                                     "다른 포트로 다시 등록하시기 바랍니다"});
  EXPECT_TRUE(view.IsEnabled(ctl::kRegister));
  EXPECT_FALSE(view.IsEnabled(ctl::kApply));
  EXPECT_TRUE(http.starts.empty());
}

TEST_F(MainWindowTest, ReRegistrationKeepsThePortItsOwnFtpServerHolds) {
  StoreRegistration();
  mapper.verdict = 1;
  dlg->StartupDecision(Rec("myhome.quarno.example;me@example.com;2121;40500"), no_cancel);
  ASSERT_EQ(dlg->StatusText(), "등록됨");
  // The offline FTP server keeps its listener; another program holds 2200.
  ports.taken = {2121, 2200};
  for (const auto& [port, refused] : {std::pair{"2121", false}, {"2200", true}}) {
    view.messages.clear();
    ddns.registers.clear();
    ddns.answers = {std::string("good;") + port + ";40001"};
    TypeRegistration("myhome", "new@example.com", port);
    dlg->RegisterAddress(nullptr, no_cancel);
    if (refused) {
      EXPECT_EQ(view.messages, std::vector<std::string>{"다른 응용 프로그램에서 사용 중인 포트입니다."});
      EXPECT_TRUE(ddns.registers.empty());
    } else {
      EXPECT_EQ(view.messages, std::vector<std::string>{"Quarno 계정이 등록되었습니다."});
      ASSERT_EQ(ddns.registers.size(), 1u);
      EXPECT_EQ(ddns.registers[0].ftp, 2121);
      EXPECT_TRUE(dlg->FtpOnline());
    }
  }
}

TEST_F(MainWindowTest, ReRegistrationThatFailsFiveTimesTellsTheUser) {
  StoreRegistration();
  mapper.verdict = 1;
  ports.taken = {40500};
  ddns.answers = {"fail"};
  dlg->StartupDecision(Rec("myhome.quarno.example;me@example.com;2121;40500"), no_cancel);
  EXPECT_EQ(ddns.registers.size(), 5u);
  EXPECT_EQ(view.messages,
            (std::vector<std::string>{"DDNS 서버 재등록에 실패했습니다.",
                                      "DDNS 자동 재등록에 실패하였습니다.\r\n\r\n다른 포트로 다시 "
                                      "등록 하시기 바랍니다."}));
  EXPECT_TRUE(ddns.deletes.empty());
}

// ---- the FTP account ----

TEST_F(MainWindowTest, AccountInputIsCheckedInOrder) {
  share.kinds = {{"/nowhere", FolderKind::kInvalid},
                 {"/mnt/nfs/x", FolderKind::kNetwork},
                 {"/media/cdrom/x", FolderKind::kCdrom}};
  struct Case {
    std::string user, password, folder, message;
  };
  const Case cases[] = {
      {"", "pw", "/srv", "사용자 ID를 입력하세요"},
      {"u", "pw", "", "서버폴더를 설정하세요"},
      {"u", "pw", "/nowhere", "잘못된 공유 디렉토리 경로입니다. 다시 설정하시기 바랍니다"},
      {"u", "pw", "/mnt/nfs/x", "네트워크 드라이브를 공유 디렉토리로 설정할 수 없습니다"},
      {"u", "pw", "/media/cdrom/x", "CD-ROM 드라이브를 공유 디렉토리로 설정할 수 없습니다"},
      {"u", "", "/srv", "사용자 암호를 입력하세요"},
  };
  for (const Case& c : cases) {
    view.messages.clear();
    TypeAccount(c.user, c.password, c.folder);
    dlg->ApplyFtpAccount(nullptr);
    EXPECT_EQ(view.messages, std::vector<std::string>{c.message});
  }
  EXPECT_TRUE(share.links.empty());
  EXPECT_TRUE(ftp.accounts.empty());
  EXPECT_TRUE(dlg->Account().user.empty());
}

TEST_F(MainWindowTest, AccountApplySendsStoresAndSetsTheCharset) {
  ddns.by_mac = "null";
  TypeAccount("user", "secret", "/srv/share");
  view.Select(Surface::kMain, ctl::kCharset, 1);
  dlg->OnCharsetChanged();
  EXPECT_FALSE(http.utf8);  // only an applied account changes what HTTP reports
  dlg->ApplyFtpAccount(nullptr);
  ASSERT_EQ(ftp.accounts.size(), 1u);
  EXPECT_EQ(ftp.accounts[0].users()[0].password, ftpctl::PasswordHash("secret"));
  EXPECT_EQ(settings.values["Ftp_charset"], "UTF-8");
  EXPECT_EQ(settings.values["Ftp_sharedfolder"], "/srv/share");
  EXPECT_TRUE(http.utf8);
  EXPECT_EQ(dlg->FtpCharset(), 1);
  EXPECT_TRUE(dlg->AccountApplied());
  EXPECT_FALSE(view.IsEnabled(ctl::kApply));
  EXPECT_EQ(view.messages, std::vector<std::string>{"사용자 설정을 저장하였습니다."});
  EXPECT_TRUE(dlg->FtpOnline());

  view.messages.clear();
  settings.fail_writes = true;
  view.Select(Surface::kMain, ctl::kCharset, 0);
  dlg->OnCharsetChanged();
  dlg->ApplyFtpAccount(nullptr);
  EXPECT_FALSE(http.utf8);
  EXPECT_EQ(view.messages,
            (std::vector<std::string>{"FTP 사용자 정보를 레지스트리에 저장하는데 실패하였습니다.",
                                      "사용자 설정을 저장하였습니다."}));
}

TEST_F(MainWindowTest, OnlyTheRegistrationServersOwnConnectionAsksNothing) {
  dlg->StartServices(no_cancel);
  ftp.connections = {{2, "u", "127.0.0.9", "t2"}};
  sink.Post(WM_FTP_CONNECTIONS, 0, 1);
  Pump();
  TypeAccount("user", "secret", "/srv/share");
  dlg->ApplyFtpAccount(nullptr);
  EXPECT_TRUE(view.questions.empty());
  EXPECT_EQ(ftp.accounts.size(), 1u);
}

TEST_F(MainWindowTest, ApplyIsEnabledByEditsOnlyAfterTheFirstApply) {
  TypeAccount("user", "secret", "/srv/share");
  view.Enable(Surface::kMain, ctl::kApply, false);
  dlg->OnEditChanged(ctl::kFtpUser);
  EXPECT_FALSE(view.IsEnabled(ctl::kApply));
  dlg->ApplyFtpAccount(nullptr);
  view.SetText(Surface::kMain, ctl::kFtpUser, "other");
  dlg->OnEditChanged(ctl::kFtpUser);
  EXPECT_TRUE(view.IsEnabled(ctl::kApply));
  view.SetText(Surface::kMain, ctl::kFtpUser, " user ");
  dlg->OnEditChanged(ctl::kFtpUser);
  EXPECT_FALSE(view.IsEnabled(ctl::kApply));
}

TEST_F(MainWindowTest, RegisterButtonFollowsTheEdits) {
  // Not registered: enabled once name, e-mail and port are all there.
  TypeRegistration("myhome", "", "");
  dlg->OnEditChanged(ctl::kName);
  EXPECT_TRUE(view.IsEnabled(ctl::kRegister));  // differs from the (empty) stored name
  view.SetText(Surface::kMain, ctl::kName, " ");
  dlg->OnEditChanged(ctl::kName);
  EXPECT_FALSE(view.IsEnabled(ctl::kRegister));
  // Registered: enabled only while the edits differ from the registration.
  TypeRegistration("myhome", "me@example.com", "2121");
  ddns.answers = {"good;2121;40001"};
  dlg->RegisterAddress(nullptr, no_cancel);
  EXPECT_FALSE(view.IsEnabled(ctl::kRegister));
  view.SetText(Surface::kMain, ctl::kPort, "2122");
  dlg->OnEditChanged(ctl::kPort);
  EXPECT_TRUE(view.IsEnabled(ctl::kRegister));
  view.SetText(Surface::kMain, ctl::kPort, "2121 ");
  dlg->OnEditChanged(ctl::kPort);
  EXPECT_FALSE(view.IsEnabled(ctl::kRegister));
  // The automatic-port box keeps it enabled and takes the port edit away.
  view.SetChecked(Surface::kMain, ctl::kAutoPort, true);
  dlg->OnAutoPortToggled();
  EXPECT_FALSE(view.IsEnabled(ctl::kPort));
  dlg->OnEditChanged(ctl::kPort);
  EXPECT_TRUE(view.IsEnabled(ctl::kRegister));
}

TEST_F(MainWindowTest, PasswordBoxAndFolderChooser) {
  view.SetChecked(Surface::kMain, ctl::kShowPassword, true);
  dlg->OnShowPasswordToggled();
  EXPECT_FALSE((view.masked[{Surface::kMain, ctl::kFtpPassword}]));
  view.SetChecked(Surface::kMain, ctl::kShowPassword, false);
  dlg->OnShowPasswordToggled();
  EXPECT_TRUE((view.masked[{Surface::kMain, ctl::kFtpPassword}]));

  view.SetText(Surface::kMain, ctl::kSharedFolder, "/srv/old");
  view.chosen = "";
  dlg->OnBrowseClicked();  // nothing chosen: the text stays
  EXPECT_EQ(view.At(ctl::kSharedFolder), "/srv/old");
  view.chosen = "/srv/new";
  dlg->OnBrowseClicked();
  EXPECT_EQ(view.At(ctl::kSharedFolder), "/srv/new");
  EXPECT_EQ(view.chooser_titles.back(), "[FTP] 공개할 폴더를 선택하세요.");
  // The chooser is handed the folder shared so far, each time as it then reads.
  EXPECT_EQ(view.chooser_starts, (std::vector<std::string>{"/srv/old", "/srv/old"}));
  dlg->OnBrowseClicked();
  EXPECT_EQ(view.chooser_starts.back(), "/srv/new");
}

// ---- window messages, timers, tray, exit ----

TEST_F(MainWindowTest, ServerStateWordDecidesTheServerStatus) {
  for (const auto& [word, text] : {std::pair<uint16_t, std::string>{0x0011, "서버실행중"},
                                   {0x0001, "서버실행중"},
                                   {0x0003, "서버준비중"},
                                   {0x0012, "서버준비중"},
                                   {0x0009, "서버준비중"}}) {
    ftp.state = word;
    dlg->OnMessage({WM_FTP_STATE, 0, 0});
    EXPECT_EQ(dlg->ServerStatusText(), text) << word;
    EXPECT_EQ(view.Text(Surface::kMain, drawn::kServerStatus), text);
  }
}

TEST_F(MainWindowTest, UsersListSkipsTheRegistrationServerAndNumbersRowsContiguously) {
  dlg->StartServices(no_cancel);
  ftp.connections = {{1, "u", "127.0.0.9", "a"},
                     {2, "u", "203.0.113.5", "b"},
                     {3, "u", "127.0.0.9", "c"},
                     {4, "u", "198.51.100.7", "d"}};
  dlg->OnMessage({WM_FTP_CONNECTIONS, 0, 1});
  ASSERT_EQ(view.rows.size(), 2u);
  EXPECT_EQ(view.rows[0], (ListRow{{" 1", "203.0.113.5", "b"}}));
  EXPECT_EQ(view.rows[1], (ListRow{{" 2", "198.51.100.7", "d"}}));
  ftp.connections.clear();
  dlg->OnMessage({WM_FTP_CONNECTIONS, 0, 0});  // no list: nothing changes
  EXPECT_EQ(view.rows.size(), 2u);
}

TEST_F(MainWindowTest, StartUpStageArmsKeepAliveAfterAuthentication) {
  dlg->OnInitDialog();
  EXPECT_TRUE(timers.Running(kTimerStartServices));
  EXPECT_EQ((view.masked[{Surface::kMain, ctl::kFtpPassword}]), true);
  EXPECT_EQ(view.Selection(Surface::kMain, ctl::kCharset), 0);
  dlg->OnMessage({WM_TIMER, kTimerStartServices, 0});
  dlg->Runner().WaitIdle();
  EXPECT_FALSE(timers.Running(kTimerStartServices));
  EXPECT_TRUE(view.tray);
  EXPECT_EQ(ftp.admin_port, 31000);
  EXPECT_EQ(ddns.address, "127.0.0.9");
  EXPECT_TRUE(timers.Running(kTimerKeepAlive));
  EXPECT_EQ(view.waiting.front(),
            "DDNS 서버 IP주소를 받아오는 중입니다.|잠시만 기다려 주시기 바랍니다.");
  EXPECT_EQ(dlg->StatusText(), "미등록");
  EXPECT_GE(view.dim_count, 1);
  EXPECT_FALSE(view.dimmed);

  dlg->OnMessage({WM_TIMER, kTimerKeepAlive, 0});
  dlg->OnMessage({WM_TIMER, kTimerKeepAlive, 0});
  EXPECT_EQ(ftp.keep_alives, 2);
}

TEST_F(MainWindowTest, StartUpErrorsShowTheirTextAndEndTheProgram) {
  dlg->Facts().tray_start = true;
  view.visible[Surface::kMain] = false;
  ddns.resolved = "";
  dlg->StartServices(no_cancel);
  EXPECT_TRUE(view.visible[Surface::kMain]);  // the box needs an owner on screen
  Pump();
  EXPECT_EQ(view.messages, std::vector<std::string>{
                               "DDNS 서버의 주소를 가져오는데 실패했습니다.\r\n네트워크 상태를 "
                               "확인하시기 바랍니다."});
  EXPECT_EQ(view.exit_code, 0);

  view.messages.clear();
  dlg->OnMessage({WM_FATAL_START_ERROR, 2, 0});
  EXPECT_EQ(view.messages, std::vector<std::string>{
                               "FTP 서버 초기화에 실패하였습니다.\r\n잠시 후 다시 실행하여 주시기 "
                               "바랍니다."});
  view.messages.clear();
  dlg->OnMessage({WM_FATAL_START_ERROR, 7, 0});
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(MainWindowTest, FailedAdminSetUpEndsTheStageWithoutKeepAlive) {
  ftp.setup = ftpctl::SetUpResult::kFailed;
  dlg->StartServices(no_cancel);
  EXPECT_FALSE(timers.Running(kTimerKeepAlive));
  EXPECT_EQ(mapper.classified, 0);
}

TEST_F(MainWindowTest, TrayExitSwitchesOffRemovesTheLinkAndStopsTheFtpService) {
  dlg->OnInitDialog();
  dlg->SwitchServers(nullptr, true, true, "40001");
  timers.Start(kTimerKeepAlive, std::chrono::milliseconds(10000), &sink);
  view.tray = true;
  dlg->OnCommand(kCmdTrayExit);
  dlg->Runner().WaitIdle();
  EXPECT_FALSE(dlg->FtpOnline());
  EXPECT_EQ(http.stops, 1);
  EXPECT_EQ(share.removed, 1);
  EXPECT_FALSE(timers.Running(kTimerKeepAlive));
  EXPECT_FALSE(view.tray);
  EXPECT_EQ(ftp.stops, 1);
  EXPECT_EQ(view.exit_code, 0);
  // Nothing starts once the program is ending.
  dlg->OnRegisterClicked();
  dlg->Runner().WaitIdle();
  EXPECT_TRUE(ddns.registers.empty());
}

TEST_F(MainWindowTest, CloseHidesToTrayAndTheTrayBringsItBack) {
  dlg->OnCloseToTray();
  EXPECT_TRUE(dlg->HiddenToTray());
  EXPECT_FALSE(view.IsVisible(Surface::kMain));
  dlg->OnMessage({WM_TRAY_NOTIFY, 0, kTrayRightUp});
  EXPECT_TRUE(dlg->HiddenToTray());
  dlg->OnMessage({WM_TRAY_NOTIFY, 0, kTrayDoubleClick});
  EXPECT_FALSE(dlg->HiddenToTray());
  EXPECT_TRUE(view.IsVisible(Surface::kMain));
}

TEST_F(MainWindowTest, StartOptionBoxes) {
  TypeAccount("user", "secret", "/srv/share");
  view.Enable(Surface::kMain, ctl::kApply, false);
  view.SetChecked(Surface::kMain, ctl::kTrayStart, true);
  dlg->OnTrayStartClicked();
  EXPECT_EQ(settings.values["tray_execution"], "true");
  EXPECT_TRUE(view.IsEnabled(ctl::kApply));
  EXPECT_TRUE(dlg->SettingsPending());
  view.SetChecked(Surface::kMain, ctl::kTrayStart, false);
  dlg->OnTrayStartClicked();
  EXPECT_EQ(settings.values["tray_execution"], "false");

  view.SetChecked(Surface::kMain, ctl::kAutoRun, true);
  dlg->OnAutoRunClicked();
  EXPECT_FALSE(view.IsEnabled(ctl::kAutoRun));
  auto done = sink.Wait(std::chrono::seconds(5));
  ASSERT_TRUE(done);
  EXPECT_EQ(done->id, WM_AUTOSTART_DONE);
  dlg->OnMessage(*done);
  EXPECT_TRUE(view.IsEnabled(ctl::kAutoRun));
  EXPECT_EQ(autostart.applied, std::vector<bool>{true});

  autostart.present = false;
  dlg->OnAutoRunClicked();
  EXPECT_EQ(view.messages.back(),
            "Quarno_Bootup_Service 실행파일을 찾을 수 없습니다.\n\n해당 경로에 파일이 존재하는지 "
            "확인하시기 바랍니다.");
  EXPECT_FALSE(view.Checked(Surface::kMain, ctl::kAutoRun));
}

// A boot start that cannot work is told once the option is on; a failure to
// write the records is only logged, as before.
TEST_F(MainWindowTest, AutoStartTellsWhatKeepsTheBootStartAway) {
  const std::pair<AutoStartProblem, std::string> cases[] = {
      {AutoStartProblem::kNone, ""},
      {AutoStartProblem::kFailed, ""},
      {AutoStartProblem::kLingerRefused,
       "로그인하기 전에는 서버가 자동으로 시작되지 않습니다.\n\n부팅 시 바로 시작되게 하려면 "
       "관리자 권한으로 \"sudo loginctl enable-linger $USER\" 명령을 실행하시기 바랍니다."},
      {AutoStartProblem::kNoBootStart,
       "부팅 시 서버를 시작할 systemd나 cron이 없어 로그인한 후에만 서버가 시작됩니다.\n\n"
       "cron 패키지를 설치한 후 다시 설정하시기 바랍니다."},
      {AutoStartProblem::kCronRefused,
       "cron에 부팅 시 시작을 등록하지 못해 로그인한 후에만 서버가 시작됩니다.\n\n"
       "관리자에게 cron 사용 권한을 요청하시기 바랍니다."},
  };
  for (const auto& [problem, message] : cases) {
    view.messages.clear();
    autostart.problem = problem;
    view.SetChecked(Surface::kMain, ctl::kAutoRun, true);
    dlg->OnAutoRunClicked();
    auto done = sink.Wait(std::chrono::seconds(5));
    ASSERT_TRUE(done);
    dlg->OnMessage(*done);
    EXPECT_EQ(view.messages,
              message.empty() ? std::vector<std::string>{} : std::vector<std::string>{message});
    EXPECT_TRUE(view.IsEnabled(ctl::kAutoRun));
    EXPECT_TRUE(view.Checked(Surface::kMain, ctl::kAutoRun));  // the logon start is there
  }
}

TEST_F(MainWindowTest, HelpRequestOpensTheShippedPage) {
  dlg->OnHelpClicked();
  Pump();
  EXPECT_EQ(view.help, std::vector<std::string>{"/opt/quarno/help_quarno.html"});
}

}  // namespace
}  // namespace quarno::ui
