#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>

#include "core/ports.h"

class QWidget;

// Modal message boxes for the core. The object lives on the user-interface
// thread; a call from another thread is carried over to it and blocks only
// the calling thread until the box has been closed.
class QtMessages : public QObject, public MessagePort {
 public:
  explicit QtMessages(QObject* parent = nullptr);

  // The window the boxes are centred on; none: the screen.
  void setDialogParent(QWidget* window);

  void show(std::string_view text, MessageIcon icon = MessageIcon::Warning) override;
  void closeForOtherThreads() override;

 protected:
  // Shows one box and returns when it has been closed. Always runs on the
  // user-interface thread. Tests replace it to record instead of showing.
  virtual void present(const QString& text, MessageIcon icon);

 private:
  QPointer<QWidget> dialogParent_;
  std::atomic<bool> closedForOthers_{false};
};
