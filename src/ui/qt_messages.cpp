#include "ui/qt_messages.h"

#include <QMessageBox>
#include <QThread>

QtMessages::QtMessages(QObject* parent) : QObject(parent) {}

void QtMessages::setDialogParent(QWidget* window) { dialogParent_ = window; }

void QtMessages::show(std::string_view text, MessageIcon icon) {
  const QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (QThread::currentThread() == thread()) {
    present(message, icon);
    return;
  }
  QMetaObject::invokeMethod(
      this, [this, message, icon] { present(message, icon); }, Qt::BlockingQueuedConnection);
}

void QtMessages::present(const QString& text, MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::None ? QMessageBox::NoIcon : QMessageBox::Warning,
                  QStringLiteral("thlogger-config"), text, QMessageBox::Ok, dialogParent_.data());
  box.exec();
}
