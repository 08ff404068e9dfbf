#pragma once

// Shared set-up of the window tests: one QApplication for the whole program
// (created on first use, so listing the tests needs no display), a window on
// in-memory message and clock ports, and helpers that keep modal boxes from
// ever blocking a test.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "core/state.h"
#include "support/memory_ports.h"
#include "ui/main_window.h"

inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *app;
}

// Runs the event loop for `ms` milliseconds, or until `done` holds.
inline void RunEventsFor(int ms, const std::function<bool()>& done = {}) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms && !(done && done())) {
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

// While alive, hands every modal window that opens to `handle`, which must
// close it. Whatever is still open when the closer goes is rejected.
class ModalCloser {
 public:
  explicit ModalCloser(std::function<void(QWidget*)> handle) : handle_(std::move(handle)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        ++handled_;
        handle_(modal);
        if (modal->isVisible()) modal->close();
      }
    });
    timer_.start();
  }
  int handled() const { return handled_; }

 private:
  std::function<void(QWidget*)> handle_;
  QTimer timer_;
  int handled_ = 0;
};

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    TestApp();
    clock.standardOffset = 480;
    clock.reading.local = {2024, 5, 14, 9, 30, 0};
    clock.reading.utcOffsetMinutes = 480;
    state->ports.messages = &messages;
    state->ports.clock = &clock;
    state->virtualLoggersOnly = true;  // every logger a test plugs in is virtual
    window = std::make_unique<CUSBDlg>(*state);
  }

  template <class Widget = QWidget>
  Widget* widget(int id) const {
    return window->findChild<Widget*>(QStringLiteral("c%1").arg(id));
  }
  template <class Widget = QWidget>
  Widget* row(int number) const {
    return window->findChild<Widget*>(QStringLiteral("r%1").arg(number));
  }
  uint32_t& flags() { return state->poll.changeFlags; }

  std::unique_ptr<ToolState> state = std::make_unique<ToolState>();
  MemoryMessages messages;
  MemoryClock clock;
  std::unique_ptr<CUSBDlg> window;  // last: goes before the state it points into
};
