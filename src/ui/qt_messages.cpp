#include "ui/qt_messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QThread>
#include <chrono>

namespace {
const QEvent::Type kRequestsWaiting = static_cast<QEvent::Type>(QEvent::User + 1);
}

QtMessages::QtMessages(QObject* parent) : QObject(parent) {}

void QtMessages::setDialogParent(QWidget* window) { dialogParent_ = window; }

void QtMessages::show(std::string_view text, MessageIcon icon) {
  const QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (QThread::currentThread() == thread()) {
    present(message, icon);
    return;
  }
  if (closedForOthers_.load(std::memory_order_acquire)) return;
  auto request = std::make_shared<Request>();
  request->text = message;
  request->icon = icon;
  std::future<void> done = request->closed.get_future();
  {
    std::lock_guard<std::mutex> lock(requestsMutex_);
    requests_.push_back(std::move(request));
  }
  QCoreApplication::postEvent(this, new QEvent(kRequestsWaiting));
  // The window may close while the box waits its turn; the caller must not
  // wait for a box that will never come.
  while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
    if (closedForOthers_.load(std::memory_order_acquire)) return;
}

void QtMessages::closeForOtherThreads() {
  closedForOthers_.store(true, std::memory_order_release);
}

// Only the requests' event is posted here. Its type is not read: the event
// was allocated on the asking thread, with no ordering the sanitizers see.
void QtMessages::customEvent(QEvent*) {
  for (;;) {
    std::shared_ptr<Request> request;
    {
      std::lock_guard<std::mutex> lock(requestsMutex_);
      if (requests_.empty()) return;
      request = std::move(requests_.front());
      requests_.pop_front();
    }
    if (!closedForOthers_.load(std::memory_order_acquire)) present(request->text, request->icon);
    request->closed.set_value();
  }
}

void QtMessages::present(const QString& text, MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::None ? QMessageBox::NoIcon : QMessageBox::Warning,
                  QStringLiteral("thlogger-config"), text, QMessageBox::Ok, dialogParent_.data());
  box.exec();
}
