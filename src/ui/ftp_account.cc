// The FTP account: its validation, the share link, sending it to the FTP
// server, and the enabling of "설정저장" as the user edits.
#include <cstdio>

#include "core/log.h"
#include "core/settings.h"
#include "ftpctl/account.h"
#include "net/peer_exchange.h"
#include "ui/main_window.h"
#include "ui/texts.h"

namespace quarno::ui {

void CQuarnoUIDlg::ApplyFtpAccount(const FtpAccount* given) {
  const bool interactive = given == nullptr;
  FtpAccount account;
  int charset = 0;
  if (interactive) {
    account.user = view_.Text(Surface::kMain, ctl::kFtpUser);
    if (account.user.empty()) {
      ShowMessage(text::kEnterUser);
      view_.Focus(Surface::kMain, ctl::kFtpUser);
      return;
    }
    account.folder = view_.Text(Surface::kMain, ctl::kSharedFolder);
    if (account.folder.empty()) {
      ShowMessage(text::kEnterFolder);
      view_.Focus(Surface::kMain, ctl::kSharedFolder);
      return;
    }
    switch (caps_.share->Classify(account.folder)) {
      case FolderKind::kFolder:
        break;
      case FolderKind::kInvalid:
        ShowMessage(text::kBadFolder);
        return;
      case FolderKind::kNetwork:
        ShowMessage(text::kNetworkFolder);
        return;
      case FolderKind::kCdrom:
        ShowMessage(text::kCdromFolder);
        return;
    }
    account.password = view_.Text(Surface::kMain, ctl::kFtpPassword);
    if (account.password.empty()) {
      ShowMessage(text::kEnterPassword);
      view_.Focus(Surface::kMain, ctl::kFtpPassword);
      return;
    }
    charset = charset_index_ == 1 ? 1 : 0;
    account.charset = charset == 1 ? text::kCharsetUtf8 : text::kCharsetEucKr;
  } else {
    account = *given;
    charset = account.charset == text::kCharsetUtf8 ? 1 : 0;
  }

  // Ask before anything changes: the share link is what connected users see.
  // Restoring the stored account at start-up asks nothing: nobody can be
  // logged in to a server that has no account yet, only knocking, and the
  // question would hold the start-up (hidden in the tray) until answered.
  int connected = 0;
  if (interactive) {
    std::lock_guard lock(users_mutex_);
    for (const auto& user : users_) {
      if (user.address != ddns_server_address_) ++connected;
    }
  }
  if (connected > 0) {
    char question[512];
    std::snprintf(question, sizeof question, text::kUsersConnected, connected);
    if (view_.AskYesNo(Surface::kMain, question, text::kNoticeCaption, Icon::kExclamation) !=
        Answer::kYes) {
      return;
    }
  }

  ftpctl::CUserSetting accounts;
  if (!caps_.share->LinkSharedFolder(account.user, account.password, account.folder, accounts)) {
    WriteLog("공유폴더 링크를 만들지 못했습니다. [%s]", account.folder.c_str());
    if (interactive) ShowMessage(text::kBadFolder);
    return;
  }
  SwitchServers(nullptr, false, false, {});
  if (!ftpctl::SerializeAccounts(accounts)) {
    ShowMessage(text::kAccountSerializeFailed);
    return;
  }
  caps_.admin->SendAccounts(accounts);
  account_ = account;
  ftp_charset_ = charset;
  caps_.http->SetCharsetUtf8(charset == 1);

  const std::string folder_text = view_.Text(Surface::kMain, ctl::kSharedFolder);
  SwitchServers(&ftp_port_text_, true, !folder_text.empty(), http_port_text_);
  if (!caps_.settings->WriteAccount(
          {account.user, account.password, account.folder, account.charset})) {
    ShowMessage(text::kAccountStoreFailed);
  }
  account_applied_ = true;
  view_.Enable(Surface::kMain, ctl::kApply, false);
  settings_pending_ = false;
  if (interactive) ShowMessage(text::kAccountSaved);
}

void CQuarnoUIDlg::OnApplyClicked() {
  RunWorkflow([this](const CancelFlag&) { ApplyFtpAccount(nullptr); });
}

void CQuarnoUIDlg::OnBrowseClicked() {
  const std::string current = view_.Text(Surface::kMain, ctl::kSharedFolder);
  if (auto folder = view_.ChooseFolder(Surface::kMain, text::kChooseFolderTitle, current)) {
    if (!folder->empty()) view_.SetText(Surface::kMain, ctl::kSharedFolder, *folder);
  }
}

void CQuarnoUIDlg::OnShowPasswordToggled() {
  view_.SetMasked(Surface::kMain, ctl::kFtpPassword,
                  !view_.Checked(Surface::kMain, ctl::kShowPassword));
  view_.Repaint(Surface::kMain);
}

void CQuarnoUIDlg::OnCharsetChanged() {
  const int selection = view_.Selection(Surface::kMain, ctl::kCharset);
  if (selection < 0 || selection == charset_index_) return;
  charset_index_ = selection;
  if (!view_.Text(Surface::kMain, ctl::kFtpUser).empty() &&
      !view_.Text(Surface::kMain, ctl::kFtpPassword).empty() &&
      !view_.Text(Surface::kMain, ctl::kSharedFolder).empty()) {
    view_.Enable(Surface::kMain, ctl::kApply, true);
  }
}

void CQuarnoUIDlg::OnEditChanged(int id) {
  auto trimmed = [&](int control) { return TrimWhite(view_.Text(Surface::kMain, control)); };
  const std::string changed = trimmed(id);

  if (id == ctl::kName || id == ctl::kEmail || id == ctl::kPort) {
    const std::string& stored = id == ctl::kName    ? name_
                                : id == ctl::kEmail ? email_
                                                    : ftp_port_text_;
    bool enable;
    if (!changed.empty() && changed != stored) {
      enable = true;
    } else if (registered_) {
      enable = trimmed(ctl::kName) != name_ || trimmed(ctl::kEmail) != email_ ||
               trimmed(ctl::kPort) != ftp_port_text_;
    } else {
      enable = !trimmed(ctl::kName).empty() && !trimmed(ctl::kEmail).empty() &&
               (!trimmed(ctl::kPort).empty() || view_.Checked(Surface::kMain, ctl::kAutoPort));
    }
    view_.Enable(Surface::kMain, ctl::kRegister, enable || force_enable_);
    return;
  }

  if (id != ctl::kFtpUser && id != ctl::kFtpPassword && id != ctl::kSharedFolder) return;
  if (!account_applied_) return;
  const std::string& applied = id == ctl::kFtpUser       ? account_.user
                               : id == ctl::kFtpPassword ? account_.password
                                                         : account_.folder;
  if (!changed.empty() && changed != applied) {
    view_.Enable(Surface::kMain, ctl::kApply, true);
    return;
  }
  const bool same = trimmed(ctl::kFtpUser) == account_.user &&
                    trimmed(ctl::kFtpPassword) == account_.password &&
                    trimmed(ctl::kSharedFolder) == account_.folder;
  view_.Enable(Surface::kMain, ctl::kApply, !same || (settings_pending_ && !changed.empty()));
}

}  // namespace quarno::ui
