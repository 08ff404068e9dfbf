#pragma once

#include <QDialog>
#include <QTimer>
#include <map>
#include <memory>
#include <string>

#include "app/form_model.h"
#include "core/state.h"

class DialogUnits;
class HidReceiveThread;

// The main window: the settings form and nothing more. It builds its
// controls from the form template and shows the form model, which the core
// reads and writes through FormPort (`form()`): the user's typing, picks and
// clicks go to the model's user* calls, and the model's changes come back
// through FormView. The window runs the poll timer.
//
// Each control's objectName is "c<id>", or "r<row>" for the texts without an
// id. Writes the model queues from another thread are applied when the
// window's own thread gets the event the model's wake posts.
class CUSBDlg : public QDialog, private FormView {
  Q_OBJECT

 public:
  explicit CUSBDlg(ToolState& state, QWidget* parent = nullptr);
  ~CUSBDlg() override;

  FormModel& form() { return model_; }

  // The context menu's profile commands, past their file dialogs. False,
  // with the reason in a message box, when the file or the profile fails;
  // a profile the form cannot take changes nothing.
  bool saveProfileTo(const std::string& path);
  bool loadProfileFrom(const std::string& path);

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
  // FormView: the widgets follow the model.
  void controlChanged(int id) override;
  void focus(int id, bool caretAtEnd) override;
  void refresh(int id) override;
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

  ToolState& state_;
  FormModel model_;  // before the widgets and the thread that write it
  std::map<int, QWidget*> controls_;
  QTimer pollTimer_;
  QWidget* calendarPopup_ = nullptr;
  bool closed_ = false;
  bool askingToClose_ = false;  // a second close request meanwhile is not asked again
  // Started with the window when the tool looks for HID loggers; stopped and
  // joined before the window, and the state it uses, go away.
  std::unique_ptr<HidReceiveThread> receiver_;
  void stopReceiver();
};
