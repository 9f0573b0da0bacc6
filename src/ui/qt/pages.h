#pragma once
// The three pages of the initialization window: the firmware check, the
// router administrator's credentials and the firmware upgrade. They draw their
// texts and hold their controls; what the buttons do is decided by whoever
// listens to their signals.
#include <QBasicTimer>
#include <QWidget>
#include <array>

class QLineEdit;
class QPushButton;

namespace quarno::qt {

class CFirmwareIntro : public QWidget {
  Q_OBJECT
 public:
  enum : int { kIdNext = 1008, kIdCancel = 1010 };
  explicit CFirmwareIntro(QWidget* parent);
  void SetVersions(const QString& model, const QString& current, const QString& latest);
  void SetModel(const QString& text) { model_ = text, update(); }
  void SetCurrent(const QString& text) { current_ = text, update(); }
  void SetLatest(const QString& text) { latest_ = text, update(); }
  QPushButton* NextButton() const { return next_; }
  QPushButton* CancelButton() const { return cancel_; }
  // The drawn texts, for tests that read the page as shown.
  QString Model() const { return model_; }
  QString Current() const { return current_; }
  QString Latest() const { return latest_; }

 signals:
  void NextClicked();
  void CancelClicked();
  // Each time the page is shown (the page's own WM_INIT_RESULT with 0).
  void Shown();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QString model_, current_, latest_;
  QPushButton* next_;
  QPushButton* cancel_;
};

class CAdminPassword : public QWidget {
  Q_OBJECT
 public:
  enum : int { kIdUser = 1022, kIdPassword = 1002, kIdNext = 1008, kIdBack = 1010 };
  explicit CAdminPassword(QWidget* parent);
  // 0 hides the notice line; 1..4 show the matching notice.
  void SetNotice(int notice);
  int Notice() const { return notice_; }
  static QString NoticeText(int notice);
  // A notice line given as text; empty hides it.
  void SetNoticeText(const QString& text);
  QString ShownNotice() const { return notice_text_; }
  QLineEdit* UserEdit() const { return user_; }
  QLineEdit* PasswordEdit() const { return password_; }
  QPushButton* NextButton() const { return next_; }
  QPushButton* BackButton() const { return back_; }

 signals:
  void NextClicked();
  void BackClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int notice_ = 0;
  QString notice_text_;
  QLineEdit* user_;
  QLineEdit* password_;
  QPushButton* next_;
  QPushButton* back_;
};

class CUpgrade : public QWidget {
  Q_OBJECT
 public:
  enum : int { kIdFinish = 1010 };
  enum Step { kStarted, kDownloaded, kTransferred, kInstalling };
  explicit CUpgrade(QWidget* parent);
  void SetMark(int step, bool marked = true);
  bool Marked(int step) const { return marks_.at(step); }
  // Starts the "installing" dots (200 ms); a second call changes nothing.
  void StartInstallAnimation();
  // The dots as the upgrade counts them (-1 hides the line); stops the own animation.
  void SetInstallDots(int dots);
  // Replaces the text of step line `step` (0..3).
  void SetStepText(int step, const QString& text);
  void SetResultLine(int line, const QString& text);
  QString ResultLine(int line) const { return result_lines_[line & 1]; }
  void SetProgress(int per_mille);
  bool Animating() const { return timer_.isActive(); }
  // Shows the outcome (0 done, 1 download failed, 2 transfer failed,
  // 3 connection lost), stops the dots and enables the button.
  void SetResult(int result);
  int Result() const { return result_; }
  // Back to the state of a fresh page: no marks, no result, button disabled.
  void Reset();
  QPushButton* FinishButton() const { return finish_; }
  QString StepText(int step) const;

 signals:
  void FinishClicked();
  void Shown();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  std::array<bool, 4> marks_{};
  std::array<QString, 4> step_texts_;
  int progress_ = -1;
  int result_ = -1;
  int dots_ = 0;
  int shown_dots_ = -1;
  QString result_lines_[2];
  QBasicTimer timer_;
  QPushButton* finish_;
};

}  // namespace quarno::qt
