#include "ui/main_window.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTimeEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <utility>

#include "core/control_ids.h"
#include "app/form_template.h"
#include "app/hid_link.h"
#include "app/poll_pass.h"
#include "app/profile.h"
#include "hid/receive_thread.h"
#include "settings/clock.h"
#include "ui/about_dialog.h"
#include "ui/dialog_units.h"
#include "ui/window_icon.h"

namespace {

const QEvent::Type kCarriedWrites = static_cast<QEvent::Type>(QEvent::User + 2);

constexpr const char* kTitle = " Temperature & Humidity Datalogger Configuration Tool V3.35";
constexpr const char* kAboutItem = "关于 FW(&A)...";
constexpr const char* kSaveProfileItem = "Save settings as profile…";
constexpr const char* kLoadProfileItem = "Load profile…";

// A task-bar window with a title, system menu, minimise and close buttons,
// and no maximise button (its size is fixed anyway).
constexpr Qt::WindowFlags kWindowFlags = Qt::Window | Qt::CustomizeWindowHint |
                                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                         Qt::WindowMinimizeButtonHint |
                                         Qt::WindowCloseButtonHint;

// Labels, check boxes and disabled edits let the background show through;
// the enabled entry controls are red on white. Disabled lists and buttons keep
// the desktop's disabled look, so that nobody takes them for editable. The
// rules name the window's own controls only (">"), so that boxes opened over
// the window keep the desktop's look.
constexpr const char* kLook = R"(
#CUSBDlg { background-color: rgb(114, 152, 210); }
#CUSBDlg > QLabel { background: transparent; }
#CUSBDlg > QLineEdit { color: rgb(255, 0, 0); background: white; border: 1px solid rgb(122, 122, 122); padding: 0px; }
#CUSBDlg > QLineEdit:disabled { color: rgb(109, 109, 109); background: transparent; }
#CUSBDlg > QComboBox:enabled, #CUSBDlg > QComboBox QAbstractItemView { color: rgb(255, 0, 0); background: white; }
#CUSBDlg > QComboBox { padding: 0px 0px 0px 2px; }
#CUSBDlg > QComboBox::drop-down { width: 12px; }
#CUSBDlg > QPushButton:enabled { color: rgb(255, 0, 0); background: white; border: 1px solid rgb(122, 122, 122); }
)";

// The form's font: a CJK face named explicitly so that the Chinese entries
// render, at a size that keeps the whole form on a laptop screen.
QFont FormFont() {
  QFont font(QStringLiteral("WenQuanYi Zen Hei"));
  font.setPixelSize(12);
  return font;
}

// A check box whose whole rectangle takes clicks, so that a click on its
// separate label (labels let clicks through) toggles it too.
class TemplateCheckBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// The caption-less check boxes and the template rows of the texts beside
// them. Each box is stretched over its text, so that a click anywhere on the
// words toggles it, as it would a box with its own caption.
struct CheckCaption {
  int box;
  int textRow;
};
constexpr CheckCaption kCheckCaptions[] = {
    {ctl::SetupLock, 27}, {ctl::EnableAlarm, 59}, {ctl::PowerSave, 66}, {ctl::OutputCsv, 68}};

// A drop-down list whose opened list is wide enough for every entry whole;
// the closed box keeps the template's width. The width is taken as the list
// opens, when the view has its final font and delegate.
class TemplateList : public QComboBox {
 public:
  using QComboBox::QComboBox;

  void showPopup() override {
    QAbstractItemView* entries = view();
    const QFontMetrics metrics = entries->fontMetrics();
    const int textMargins = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
    int widest = 0;
    for (int i = 0; i < count(); ++i) {
      const QModelIndex index = model()->index(i, modelColumn(), rootModelIndex());
      widest = qMax(widest, entries->sizeHintForIndex(index).width());
      widest = qMax(widest, metrics.horizontalAdvance(itemText(i)) + textMargins);
    }
    if (count() > maxVisibleItems() &&
        entries->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
      widest += entries->verticalScrollBar()->sizeHint().width();
    entries->setMinimumWidth(widest + 2 * entries->frameWidth());
    QComboBox::showPopup();
  }
};

QString ObjectName(const ControlTemplate& t) {
  return t.id != 0 ? QStringLiteral("c%1").arg(t.id) : QStringLiteral("r%1").arg(t.row);
}

// The template's narrow texts ("Sec.", "%RH") were measured for a font with
// narrower Latin letters; a text grows to the right rather than being cut.
void FitText(QLabel* label) {
  const int needed = label->sizeHint().width();
  if (needed > label->width()) label->resize(needed, label->height());
}

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList FromUtf8(const std::vector<std::string>& texts) {
  QStringList list;
  for (const std::string& text : texts) list << FromUtf8(text);
  return list;
}

LocalTime ToLocalTime(const QDateTime& value) {
  const QDate date = value.date();
  const QTime time = value.time();
  return {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()};
}

QDateTime FromLocalTime(const LocalTime& t) {
  return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
}

}  // namespace

// Only the carried writes' event is posted here. Its type is not read: the
// event was allocated on the writing thread, with no ordering the sanitizers
// see; the model's queue, under its lock, carries the writes themselves.
void CUSBDlg::customEvent(QEvent*) { model_.applyCarried(); }

CUSBDlg::CUSBDlg(ToolState& state, QWidget* parent)
    : QDialog(parent, kWindowFlags), state_(state), model_(state), pollTimer_(this) {
  state_.ports.form = &model_;
  // Called on the writing thread; posting an event is safe from any thread.
  model_.setWake([this] { QCoreApplication::postEvent(this, new QEvent(kCarriedWrites)); });
  setObjectName(QStringLiteral("CUSBDlg"));
  setWindowTitle(QString::fromUtf8(kTitle));
  setWindowIcon(ToolIcon());
  setFont(FormFont());
  buildControls();
  model_.setView(this);
  stretchChecksOverCaptions();
  applyLook();
  alignCalendarPopup();

  pollTimer_.setObjectName(QStringLiteral("pollTimer"));
  pollTimer_.setSingleShot(true);
  connect(&pollTimer_, &QTimer::timeout, this, &CUSBDlg::pollTimerExpired);
  InitialiseForm(state_);
  showClockNow();
  if (state_.ports.hid) receiver_ = StartHidReceiveThread(state_, *state_.ports.hid);
  pollTimer_.start(kPollPeriodMs);
}

CUSBDlg::~CUSBDlg() {
  pollTimer_.stop();
  stopReceiver();
  // The widgets outlive the model (the base class deletes them): nothing
  // they emit on the way out may reach it.
  model_.setView(nullptr);
  for (auto& [id, widget] : controls_) widget->blockSignals(true);
  if (state_.ports.form == &model_) state_.ports.form = nullptr;
}

// ---- Building ---------------------------------------------------------------

void CUSBDlg::buildControls() {
  DialogUnits units(font());
  setFixedSize(units.size(kFormWidthDu, kFormHeightDu));
  for (const ControlTemplate& t : MainFormTemplate()) {
    QWidget* widget = createControl(t, units);
    if (t.id != 0) {
      controls_[t.id] = widget;
      // The picker starts at the PC's clock; the model holds the value from here.
      if (auto* picker = qobject_cast<QDateTimeEdit*>(widget))
        model_.setDateTime(t.id, ToLocalTime(picker->dateTime()));
      controlChanged(t.id);
      forwardEvents(t.id, widget);
    }
  }
}

QWidget* CUSBDlg::createControl(const ControlTemplate& t, const DialogUnits& units) {
  const QString text = QString::fromUtf8(t.text);
  QWidget* widget = nullptr;
  switch (t.kind) {
    case ControlKind::Text: {
      auto* label = new QLabel(text, this);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      // Like plain static texts, labels take no clicks: they fall through to
      // the check box lying under a caption.
      label->setAttribute(Qt::WA_TransparentForMouseEvents);
      widget = label;
      break;
    }
    case ControlKind::Button: {
      auto* button = new QPushButton(text, this);
      // Enter belongs to the dialog (it closes it), not to this button.
      button->setAutoDefault(false);
      button->setDefault(false);
      widget = button;
      break;
    }
    case ControlKind::Check: widget = new TemplateCheckBox(text, this); break;
    case ControlKind::List: {
      auto* list = new TemplateList(this);
      if (const FormModel::Control* c = model_.control(t.id)) list->addItems(FromUtf8(c->entries));
      list->setCurrentIndex(-1);  // nothing selected until the form is initialised
      widget = list;
      break;
    }
    case ControlKind::Edit:
    case ControlKind::CentredEdit: {
      auto* edit = new QLineEdit(this);
      if (t.kind == ControlKind::CentredEdit) edit->setAlignment(Qt::AlignCenter);
      widget = edit;
      break;
    }
    case ControlKind::Picker: {
      auto* picker = new QDateTimeEdit(QDateTime::currentDateTime(), this);
      picker->setCalendarPopup(true);
      widget = picker;
      break;
    }
  }
  widget->setObjectName(ObjectName(t));
  widget->setGeometry(units.rect(t.x, t.y, t.width, t.height));
  if (auto* label = qobject_cast<QLabel*>(widget)) FitText(label);
  if (t.state & tmpl::Hidden) widget->setVisible(false);
  if (t.state & tmpl::Disabled) widget->setEnabled(false);
  return widget;
}

void CUSBDlg::stretchChecksOverCaptions() {
  for (const CheckCaption& c : kCheckCaptions) {
    QWidget* box = control(c.box);
    auto* text = findChild<QLabel*>(QStringLiteral("r%1").arg(c.textRow));
    if (box && text) box->setGeometry(box->geometry().united(text->geometry()));
  }
}

// The widgets' own changes go to the model as the user's actions. While the
// model is mirrored into a widget its signals are blocked, so only the user's
// actions (and a test's direct use of a widget) arrive here. An action the
// model refuses (a disabled control) puts the model's state back.
void CUSBDlg::forwardEvents(int id, QWidget* widget) {
  auto refused = [this, id](bool taken) {
    if (!taken) controlChanged(id);
  };
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    connect(edit, &QLineEdit::textChanged, this, [this, id, refused](const QString& text) {
      refused(model_.userEdits(id, text.toStdString()));
    });
  } else if (auto* list = qobject_cast<QComboBox*>(widget)) {
    // A selection the user did not pick tells nobody; a pick does.
    connect(list, &QComboBox::currentIndexChanged, this,
            [this, id](int index) { model_.setSelection(id, index); });
    connect(list, &QComboBox::activated, this,
            [this, id, refused](int index) { refused(model_.userSelects(id, index)); });
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    connect(button, &QAbstractButton::clicked, this,
            [this, id, refused] { refused(model_.userClicks(id)); });
  } else if (auto* picker = qobject_cast<QDateTimeEdit*>(widget)) {
    connect(picker, &QDateTimeEdit::dateTimeChanged, this, [this, id](const QDateTime& value) {
      model_.setDateTime(id, ToLocalTime(value));
    });
  }
}

void CUSBDlg::applyLook() { setStyleSheet(QString::fromLatin1(kLook)); }

// The passes refresh the clock after they end, and a pass may hold a message
// box open (an unsupported logger at start-up): the form shows the PC's
// clock before the first pass rather than the template's placeholder.
void CUSBDlg::showClockNow() {
  RefreshClock(state_);  // notes the date, which the next pass would render
  state_.poll.changeFlags &= ~flag::DateDisplayStale;
  RenderDate(state_);
  RefreshClock(state_);  // the date shown already: writes the time text
}

// The calendar drops down right-aligned under the picker.
void CUSBDlg::alignCalendarPopup() {
  auto* picker = controlAs<QDateTimeEdit>(ctl::StartPicker);
  calendarPopup_ = picker->calendarWidget()->window();
  calendarPopup_->installEventFilter(this);
}

bool CUSBDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == calendarPopup_ && event->type() == QEvent::Show) {
    auto* picker = controlAs<QDateTimeEdit>(ctl::StartPicker);
    QPoint corner = picker->mapToGlobal(QPoint(picker->width(), picker->height()));
    int x = corner.x() - calendarPopup_->width();
    if (QScreen* screen = picker->screen()) x = qMax(x, screen->availableGeometry().left());
    calendarPopup_->move(x, corner.y());
  }
  return QDialog::eventFilter(watched, event);
}

// ---- Window events ----------------------------------------------------------

void CUSBDlg::keyPressEvent(QKeyEvent* event) {
  const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (modifiers == Qt::NoModifier) {
    switch (event->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        // A focused push button takes Enter as a click; anywhere else Enter
        // does nothing, so a typed value is never lost with the window.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
        event->accept();
        return;
      case Qt::Key_F1: showAbout(); return;
      default: break;
    }
  }
  QDialog::keyPressEvent(event);
}

// The desktop offers no system menu to extend, so the About item lives in the
// window's context menu.
void CUSBDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* about = menu.addAction(QString::fromUtf8(kAboutItem));
  menu.addSeparator();
  QAction* save = menu.addAction(QString::fromUtf8(kSaveProfileItem));
  QAction* load = menu.addAction(QString::fromUtf8(kLoadProfileItem));
  QAction* chosen = menu.exec(event->globalPos());
  const QString filter = QStringLiteral("Profiles (*.json);;All files (*)");
  if (chosen == save) {
    QString path = QFileDialog::getSaveFileName(this, save->text(), QString(), filter);
    if (path.isEmpty()) return;
    if (!path.contains(QLatin1Char('.'))) path += QStringLiteral(".json");
    saveProfileTo(path.toStdString());
  } else if (chosen == load) {
    const QString path = QFileDialog::getOpenFileName(this, load->text(), QString(), filter);
    if (!path.isEmpty()) loadProfileFrom(path.toStdString());
  } else if (chosen == about) {
    showAbout();
  }
}

bool CUSBDlg::saveProfileTo(const std::string& path) {
  std::string error;
  if (WriteProfileFile(path, SaveProfile(model_), error)) return true;
  state_.messages().show(error);
  return false;
}

// As if the person had typed and picked every value: the next pass serves
// the change flags, and Configure validates the result like typed input.
bool CUSBDlg::loadProfileFrom(const std::string& path) {
  std::string error;
  const std::optional<std::string> text = ReadProfileFile(path, error);
  if (!text) {
    state_.messages().show(error);
    return false;
  }
  const ProfileLoad loaded = LoadProfile(state_, *text);
  if (!loaded.ok) {
    state_.messages().show(loaded.message);
    return false;
  }
  model_.setDateTime(ctl::StartPicker, loaded.startTime);
  return true;
}

void CUSBDlg::showAbout() {
  CAboutDlg about(this);
  about.exec();
}

// Every way of closing (close box, Esc, the window manager) ends here.
void CUSBDlg::done(int result) {
  if (!closed_ && (askingToClose_ || !closingConfirmed())) return;
  closed_ = true;
  pollTimer_.stop();
  stopReceiver();
  QDialog::done(result);
}

// Closing stops the poll passes, and with them a delivery or an upgrade
// halfway: the user decides, with the tool kept open by default.
bool CUSBDlg::closingConfirmed() {
  const uint8_t upgrade = state_.poll.upgradeState.load(std::memory_order_acquire);
  QString what;
  if (upgrade == upgrade::DriveWriting || upgrade == upgrade::HidSending)
    what = QStringLiteral(
        "The logger's firmware is being upgraded.\n"
        "Closing now stops the upgrade halfway and may leave the logger without "
        "working firmware.");
  else if (state_.poll.transferState != TransferIdle)
    what = QStringLiteral(
        "A configuration is being sent to the logger.\n"
        "Closing now stops it halfway: the logger may keep only part of the new "
        "settings.");
  else
    return true;

  askingToClose_ = true;
  QMessageBox box(QMessageBox::Warning, windowTitle().trimmed(), what, QMessageBox::NoButton,
                  this);
  box.setObjectName(QStringLiteral("closeQuestion"));
  box.setInformativeText(QStringLiteral("Close the tool anyway?"));
  QPushButton* keep = box.addButton(QStringLiteral("Keep Open"), QMessageBox::RejectRole);
  QPushButton* close = box.addButton(QStringLiteral("Close Anyway"), QMessageBox::DestructiveRole);
  keep->setObjectName(QStringLiteral("keepOpen"));
  close->setObjectName(QStringLiteral("closeAnyway"));
  box.setDefaultButton(keep);
  box.setEscapeButton(keep);
  box.exec();
  askingToClose_ = false;
  return box.clickedButton() == close;
}

void CUSBDlg::stopReceiver() {
  if (!receiver_) return;
  // The thread may be waiting for a box that this closing window will not show.
  if (state_.ports.messages) state_.ports.messages->closeForOtherThreads();
  receiver_->stop();
  receiver_.reset();
}

// One pass; the single-shot timer is re-armed only when the pass is over, so
// passes never overlap, also while a message box of the pass is open.
void CUSBDlg::pollTimerExpired() {
  int period = RunPollPass(state_);
  if (closed_) return;
  pollTimer_.start(period);
  RefreshClock(state_);
}

// ---- FormView ---------------------------------------------------------------

QWidget* CUSBDlg::control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

// Each widget takes the model's state; only what differs is written, so a
// caret or a selection inside the text is not disturbed by a write that
// changes nothing.
void CUSBDlg::controlChanged(int id) {
  QWidget* widget = control(id);
  const FormModel::Control* c = model_.control(id);
  if (!widget || !c) return;
  const QSignalBlocker mirroring(widget);
  if (widget->isEnabled() != c->enabled) widget->setEnabled(c->enabled);
  if (widget->isHidden() == c->visible) widget->setVisible(c->visible);
  const QString text = FromUtf8(c->text);
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    if (label->text() != text) {
      label->setText(text);
      FitText(label);
    }
  } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    if (edit->text() != text) edit->setText(text);
  } else if (auto* list = qobject_cast<QComboBox*>(widget)) {
    if (list->currentIndex() != c->selection) list->setCurrentIndex(c->selection);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    if (button->text() != text) button->setText(text);
    if (button->isCheckable() && button->isChecked() != c->checked) button->setChecked(c->checked);
  } else if (auto* picker = qobject_cast<QDateTimeEdit*>(widget)) {
    // The picker's format letters (yyyy, MM, dd, HH, mm) mean the same in Qt.
    const QString format = FromUtf8(c->dateTimeFormat);
    if (!format.isEmpty() && picker->displayFormat() != format) picker->setDisplayFormat(format);
    const QDateTime value = FromLocalTime(c->dateTime);
    if (value.isValid() && picker->dateTime() != value) picker->setDateTime(value);
  }
}

void CUSBDlg::focus(int id, bool caretAtEnd) {
  QWidget* widget = control(id);
  if (!widget) return;
  widget->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(widget); edit && caretAtEnd) {
    edit->deselect();
    edit->end(false);  // the line edit scrolls the caret into view itself
  }
}

void CUSBDlg::refresh(int id) {
  if (QWidget* widget = control(id)) update(widget->geometry());
}
