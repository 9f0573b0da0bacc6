#pragma once
// Window messages travel as events whose type is the message number, so a
// worker thread reports to a window the way the window system would.
#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

#include "core/messages.h"

namespace quarno::qt {

class MessageEvent : public QEvent {
 public:
  MessageEvent(unsigned id, std::uintptr_t wparam, std::intptr_t lparam)
      : QEvent(TypeOf(id)), id_(id), wparam_(wparam), lparam_(lparam) {}
  // The window messages above WM_USER keep their number; the few below it
  // (WM_TIMER) are folded into the top of Qt's user range, away from Qt's own.
  static QEvent::Type TypeOf(unsigned id) {
    return static_cast<QEvent::Type>(id >= QEvent::User ? id : QEvent::MaxUser - id);
  }
  unsigned Id() const { return id_; }
  std::uintptr_t WParam() const { return wparam_; }
  std::intptr_t LParam() const { return lparam_; }

 private:
  unsigned id_;
  std::uintptr_t wparam_;
  std::intptr_t lparam_;
};

// A message sink that posts to one object; posts after the object is gone are dropped.
class QtMessageSink final : public MessageSink {
 public:
  explicit QtMessageSink(QObject* target) : target_(target) {}
  void Post(unsigned id, std::uintptr_t wparam, std::intptr_t lparam) override {
    // QPointer is not safe to read across threads while the target dies;
    // the target outlives its workers, which this check only backs up.
    if (QObject* target = target_.data()) {
      QCoreApplication::postEvent(target, new MessageEvent(id, wparam, lparam));
    }
  }

 private:
  QPointer<QObject> target_;
};

}  // namespace quarno::qt
