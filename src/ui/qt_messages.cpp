#include "ui/qt_messages.h"

#include <QMessageBox>
#include <QThread>
#include <chrono>
#include <future>
#include <memory>

QtMessages::QtMessages(QObject* parent) : QObject(parent) {}

void QtMessages::setDialogParent(QWidget* window) { dialogParent_ = window; }

void QtMessages::show(std::string_view text, MessageIcon icon) {
  const QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (QThread::currentThread() == thread()) {
    present(message, icon);
    return;
  }
  // Queued, with the caller waiting on its own promise: the hand-over then
  // rests on synchronisation the sanitizers can see, not on Qt's internals.
  if (closedForOthers_.load(std::memory_order_acquire)) return;
  auto closed = std::make_shared<std::promise<void>>();
  std::future<void> done = closed->get_future();
  QMetaObject::invokeMethod(
      this,
      [this, message, icon, closed] {
        if (!closedForOthers_.load(std::memory_order_acquire)) present(message, icon);
        closed->set_value();
      },
      Qt::QueuedConnection);
  // The window may close while the box waits its turn; the caller must not
  // wait for a box that will never come.
  while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
    if (closedForOthers_.load(std::memory_order_acquire)) return;
}

void QtMessages::closeForOtherThreads() {
  closedForOthers_.store(true, std::memory_order_release);
}

void QtMessages::present(const QString& text, MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::None ? QMessageBox::NoIcon : QMessageBox::Warning,
                  QStringLiteral("thlogger-config"), text, QMessageBox::Ok, dialogParent_.data());
  box.exec();
}
