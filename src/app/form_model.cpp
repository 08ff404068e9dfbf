#include "app/form_model.h"

#include <cstdio>
#include <utility>

#include "app/form_events.h"

namespace {

bool IsEdit(ControlKind kind) {
  return kind == ControlKind::Edit || kind == ControlKind::CentredEdit;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// ASCII letters fold; the bytes of other characters must match exactly,
// which is all the prefixes the tool looks for need ("utc-05", "temp.+").
bool StartsWithFolded(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  return true;
}

bool SameTime(const LocalTime& a, const LocalTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second;
}

// The picker's shown text: the format letters yyyy, MM, dd, HH, mm and ss as
// the picker reads them, everything else as it stands.
std::string FormatTime(std::string_view format, const LocalTime& t) {
  struct Field {
    std::string_view letters;
    int value;
  };
  const Field fields[] = {{"yyyy", t.year}, {"MM", t.month},  {"dd", t.day},
                          {"HH", t.hour},   {"mm", t.minute}, {"ss", t.second}};
  std::string out;
  for (std::size_t i = 0; i < format.size();) {
    bool matched = false;
    for (const Field& f : fields) {
      if (format.substr(i, f.letters.size()) != f.letters) continue;
      char digits[16];
      std::snprintf(digits, sizeof digits, "%0*d", static_cast<int>(f.letters.size()), f.value);
      out += digits;
      i += f.letters.size();
      matched = true;
      break;
    }
    if (!matched) out += format[i++];
  }
  return out;
}

}  // namespace

FormModel::FormModel(ToolState& state) : state_(state), owner_(std::this_thread::get_id()) {
  for (const ControlTemplate& t : MainFormTemplate()) {
    if (t.id == 0) continue;
    Control& c = controls_[t.id];
    c.kind = t.kind;
    c.text = t.text;
    c.entries = ListEntries(t.id);
    c.enabled = (t.state & tmpl::Disabled) == 0;
    c.visible = (t.state & tmpl::Hidden) == 0;
  }
}

FormModel::Control* FormModel::find(int id) {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

const FormModel::Control* FormModel::control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

void FormModel::changed(int id) {
  if (view_) view_->controlChanged(id);
}

void FormModel::write(std::function<void()> apply) {
  if (std::this_thread::get_id() == owner_) {
    apply();
    return;
  }
  // The queue carries the write over, under a lock the sanitizers see; the
  // wake only prompts the owner and carries no data.
  {
    std::lock_guard<std::mutex> lock(carriedMutex_);
    carried_.push_back(std::move(apply));
  }
  if (wake_) wake_();
}

void FormModel::applyCarried() {
  for (;;) {
    std::function<void()> apply;
    {
      std::lock_guard<std::mutex> lock(carriedMutex_);
      if (carried_.empty()) return;
      apply = std::move(carried_.front());
      carried_.pop_front();
    }
    apply();
  }
}

// ---- Reads ------------------------------------------------------------------

std::string FormModel::text(int id) const {
  const Control* c = control(id);
  if (!c) return {};
  switch (c->kind) {
    case ControlKind::List:
      return c->selection >= 0 && c->selection < static_cast<int>(c->entries.size())
                 ? c->entries[static_cast<std::size_t>(c->selection)]
                 : std::string();
    case ControlKind::Picker:
      return FormatTime(c->dateTimeFormat.empty() ? "yyyy/MM/dd HH:mm" : c->dateTimeFormat,
                        c->dateTime);
    default: return c->text;
  }
}

int FormModel::selection(int id) const {
  const Control* c = control(id);
  return c && c->kind == ControlKind::List ? c->selection : -1;
}

int FormModel::findEntry(int id, std::string_view prefix) const {
  const Control* c = control(id);
  if (!c) return -1;
  for (std::size_t i = 0; i < c->entries.size(); ++i)
    if (StartsWithFolded(c->entries[i], prefix)) return static_cast<int>(i);
  return -1;
}

bool FormModel::checked(int id) const {
  const Control* c = control(id);
  return c && c->kind == ControlKind::Check && c->checked;
}

bool FormModel::enabled(int id) const {
  const Control* c = control(id);
  return c && c->enabled;
}

LocalTime FormModel::dateTime(int id) const {
  const Control* c = control(id);
  return c && c->kind == ControlKind::Picker ? c->dateTime : LocalTime{};
}

// ---- Program writes ---------------------------------------------------------

void FormModel::setText(int id, std::string_view text) {
  write([this, id, value = std::string(text)] {
    Control* c = find(id);
    if (!c || c->kind == ControlKind::List || c->kind == ControlKind::Picker) return;
    if (c->text != value) {
      c->text = value;
      changed(id);
    }
    // Every write of an edit box notifies, also one that leaves the text as
    // it was: the alarm boxes count one notification per write.
    if (IsEdit(c->kind)) OnFormEvent(state_, id, FormEvent::TextChanged);
  });
}

void FormModel::setSelection(int id, int index) {
  write([this, id, index] {
    Control* c = find(id);
    if (!c || c->kind != ControlKind::List) return;
    const int value = index >= 0 && index < static_cast<int>(c->entries.size()) ? index : -1;
    if (c->selection == value) return;
    c->selection = value;
    changed(id);
  });
}

void FormModel::setChecked(int id, bool on) {
  write([this, id, on] {
    Control* c = find(id);
    if (!c || c->kind != ControlKind::Check || c->checked == on) return;
    c->checked = on;
    changed(id);
  });
}

void FormModel::setEnabled(int id, bool on) {
  write([this, id, on] {
    Control* c = find(id);
    if (!c || c->enabled == on) return;
    c->enabled = on;
    changed(id);
  });
}

void FormModel::focusAtEnd(int id) {
  write([this, id] {
    const Control* c = find(id);
    if (!c || !c->enabled) return;  // as a disabled widget takes no focus
    focused_ = id;
    caretAtEnd_ = true;
    if (view_) view_->focus(id, true);
  });
}

void FormModel::focus(int id) {
  write([this, id] {
    const Control* c = find(id);
    if (!c || !c->enabled) return;  // as a disabled widget takes no focus
    focused_ = id;
    caretAtEnd_ = false;
    if (view_) view_->focus(id, false);
  });
}

void FormModel::refresh(int id) {
  write([this, id] {
    if (view_ && find(id)) view_->refresh(id);
  });
}

void FormModel::setDateTimeFormat(int id, std::string_view format) {
  write([this, id, value = std::string(format)] {
    Control* c = find(id);
    if (!c || c->kind != ControlKind::Picker || c->dateTimeFormat == value) return;
    c->dateTimeFormat = value;
    changed(id);
  });
}

void FormModel::setDateTime(int id, const LocalTime& value) {
  write([this, id, value] {
    Control* c = find(id);
    if (!c || c->kind != ControlKind::Picker || SameTime(c->dateTime, value)) return;
    c->dateTime = value;
    changed(id);
  });
}

// ---- The user's actions -----------------------------------------------------

bool FormModel::userEdits(int id, std::string_view text) {
  Control* c = find(id);
  if (!takesInput(c) || !IsEdit(c->kind)) return false;
  if (c->text != text) {
    c->text = std::string(text);
    changed(id);
  }
  OnFormEvent(state_, id, FormEvent::TextChanged);
  return true;
}

bool FormModel::userSelects(int id, int index) {
  Control* c = find(id);
  if (!takesInput(c) || c->kind != ControlKind::List || index < 0 ||
      index >= static_cast<int>(c->entries.size()))
    return false;
  if (c->selection != index) {
    c->selection = index;
    changed(id);
  }
  OnFormEvent(state_, id, FormEvent::SelectionChanged);
  return true;
}

bool FormModel::userClicks(int id) {
  Control* c = find(id);
  if (!takesInput(c)) return false;
  if (c->kind == ControlKind::Check) {
    c->checked = !c->checked;
    changed(id);
  } else if (c->kind != ControlKind::Button) {
    return false;
  }
  OnFormEvent(state_, id, FormEvent::Clicked);
  return true;
}
