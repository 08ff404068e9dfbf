#pragma once

#include <QDialog>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <memory>

#include "core/ports.h"
#include "core/state.h"

struct ControlTemplate;
class DialogUnits;
class HidReceiveThread;

// The main window: the settings form and nothing more. It builds its
// controls from the form template, lets the core read and write them through
// FormPort, forwards every user action to OnFormEvent and runs the poll timer.
//
// Each control's objectName is "c<id>", or "r<row>" for the texts without an
// id. FormPort reads belong to the user-interface thread; writes made from
// another thread are carried over to it and applied in order.
class CUSBDlg : public QDialog, public FormPort {
  Q_OBJECT

 public:
  explicit CUSBDlg(ToolState& state, QWidget* parent = nullptr);
  ~CUSBDlg() override;

  std::string text(int id) const override;
  void setText(int id, std::string_view text) override;
  int selection(int id) const override;
  void setSelection(int id, int index) override;
  int findEntry(int id, std::string_view prefix) const override;
  bool checked(int id) const override;
  void setChecked(int id, bool on) override;
  bool enabled(int id) const override;
  void setEnabled(int id, bool on) override;
  using QDialog::setEnabled;  // the window's own, next to the control's
  void focusAtEnd(int id) override;
  void focus(int id) override;
  void refresh(int id) override;
  LocalTime dateTime(int id) const override;
  void setDateTimeFormat(int id, std::string_view format) override;

  void done(int result) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void customEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  QWidget* createControl(const ControlTemplate& t, const DialogUnits& units);
  void forwardEvents(int id, QWidget* widget);
  void stretchChecksOverCaptions();
  void applyLook();
  void showClockNow();
  bool closingConfirmed();
  void alignCalendarPopup();
  void showAbout();
  void pollTimerExpired();

  QWidget* control(int id) const;
  template <class Widget>
  Widget* controlAs(int id) const {
    return qobject_cast<Widget*>(control(id));
  }
  // Runs `apply` now on the user-interface thread, else queues it there.
  template <class Apply>
  void onGuiThread(Apply&& apply);

  ToolState& state_;
  std::map<int, QWidget*> controls_;
  QTimer pollTimer_;
  QWidget* calendarPopup_ = nullptr;
  bool closed_ = false;
  bool askingToClose_ = false;  // a second close request meanwhile is not asked again
  // Started with the window when the tool looks for HID loggers; stopped and
  // joined before the window, and the state it uses, go away.
  std::unique_ptr<HidReceiveThread> receiver_;
  // Control writes from other threads, waiting for the window's thread.
  std::mutex carriedMutex_;
  std::deque<std::function<void()>> carried_;
  void stopReceiver();
};
