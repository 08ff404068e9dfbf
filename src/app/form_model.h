#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/form_template.h"
#include "core/ports.h"
#include "core/state.h"

// Whatever shows the form (the window) mirrors the model through this.
// Called on the model's owner thread only.
class FormView {
 public:
  virtual ~FormView() = default;
  // Something of the control's state changed: text, selection, check,
  // enabled state, date-time value or display format.
  virtual void controlChanged(int id) = 0;
  // Keyboard focus to the control; with the caret at the end of its text,
  // nothing selected.
  virtual void focus(int id, bool caretAtEnd) = 0;
  virtual void refresh(int id) = 0;
};

// The main form's controls in memory: their state and the rules that the
// window and a run without a window share. Built from the form template.
//
// Program writes (FormPort) and the user's actions (the user* calls) differ
// in what they report to OnFormEvent: a program write of an edit box
// notifies like typing, every time, also when the text stays the same; a
// program selection or check notifies nobody; the user's picks and clicks do.
// A disabled or hidden control takes no user action.
//
// Reads and the user's actions belong to the owner thread, the one that built
// the model. Writes from any other thread (the HID receive thread sets the
// Configure button's caption during an upgrade) are queued, the wake callback
// is called, and they are applied in order when the owner calls
// applyCarried().
class FormModel final : public FormPort {
 public:
  struct Control {
    ControlKind kind = ControlKind::Text;
    std::string text;  // caption, label or edit text; UTF-8
    std::vector<std::string> entries;
    int selection = -1;
    bool checked = false;
    bool enabled = true;
    bool visible = true;
    LocalTime dateTime;
    std::string dateTimeFormat;
  };

  explicit FormModel(ToolState& state);
  FormModel(const FormModel&) = delete;
  FormModel& operator=(const FormModel&) = delete;

  std::string text(int id) const override;
  void setText(int id, std::string_view text) override;
  int selection(int id) const override;
  void setSelection(int id, int index) override;
  int findEntry(int id, std::string_view prefix) const override;
  bool checked(int id) const override;
  void setChecked(int id, bool on) override;
  bool enabled(int id) const override;
  void setEnabled(int id, bool on) override;
  void focusAtEnd(int id) override;
  void focus(int id) override;
  void refresh(int id) override;
  LocalTime dateTime(int id) const override;
  void setDateTimeFormat(int id, std::string_view format) override;

  // The picker's value as the program (or the picker's own editing) sets it;
  // the picker has no handler, so nothing is reported.
  void setDateTime(int id, const LocalTime& value);

  // The user's actions. Each returns false, and changes nothing, when the
  // control cannot take it: unknown, of another kind, disabled or hidden.
  bool userEdits(int id, std::string_view text);  // the edit box's new text
  bool userSelects(int id, int index);            // a pick in a drop-down list
  bool userClicks(int id);  // a check box toggles, then reports; a button reports

  // The control's state; nullptr for an id the template does not address.
  const Control* control(int id) const;
  int focused() const { return focused_; }  // id, 0 before any focus
  bool caretAtEnd() const { return caretAtEnd_; }

  // Set both on the owner thread before another thread may write.
  void setView(FormView* view) { view_ = view; }
  // Called on the writing thread after a write has been queued; the owner
  // is to call applyCarried() soon (a window posts itself an event).
  void setWake(std::function<void()> wake) { wake_ = std::move(wake); }
  // Applies the queued writes of other threads, in the order they were made.
  void applyCarried();

 private:
  Control* find(int id);
  bool takesInput(const Control* c) const { return c && c->enabled && c->visible; }
  void changed(int id);
  // Runs `apply` now on the owner thread, else queues it for applyCarried().
  void write(std::function<void()> apply);

  ToolState& state_;
  std::map<int, Control> controls_;
  FormView* view_ = nullptr;
  int focused_ = 0;
  bool caretAtEnd_ = false;
  const std::thread::id owner_;
  std::function<void()> wake_;
  std::mutex carriedMutex_;
  std::deque<std::function<void()>> carried_;
};
