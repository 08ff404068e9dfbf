#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <deque>
#include <future>
#include <memory>
#include <mutex>

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
  void customEvent(QEvent* event) override;

 private:
  struct Request {
    QString text;
    MessageIcon icon = MessageIcon::Warning;
    std::promise<void> closed;
  };

  QPointer<QWidget> dialogParent_;
  std::atomic<bool> closedForOthers_{false};
  // Boxes asked for by other threads, waiting for the user-interface thread.
  // The queue, not the posted event, carries them over, so the hand-over
  // rests on a lock the sanitizers can see rather than on Qt's internals.
  std::mutex requestsMutex_;
  std::deque<std::shared_ptr<Request>> requests_;
};
