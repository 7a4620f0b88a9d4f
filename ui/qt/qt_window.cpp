#include "ui/qt/qt_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTextDocument>
#include <QThread>
#include <algorithm>
#include <climits>
#include <cstdint>

#include "res/resource.h"
#include "ui/toolkit/greyed_pixels.h"

namespace ui {
namespace {

const QEvent::Type kRunTaskEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Windows' limits for a timer period (USER_TIMER_MINIMUM and USER_TIMER_MAXIMUM); a period of
// 0 would otherwise tick on every pass of the event loop.
constexpr unsigned kMinTimerPeriodMs = 10;
constexpr unsigned kMaxTimerPeriodMs = INT_MAX;

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A tooltip's text as it stands: a device name, a link's target, a process name or a byte
// dump must never pass as markup.
QString PlainToolTip(std::string_view text) {
  const QString tip = FromUtf8(text);
  return Qt::mightBeRichText(tip) ? Qt::convertFromPlainText(tip) : tip;
}

// The icons of res/icons, embedded under their resource ids.
QIcon ResourceIcon(int iconId) {
  return QIcon(QStringLiteral(":/icons/%1.ico").arg(iconId));
}

QPixmap Greyed(const QPixmap& pixmap) {
  QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
    GreyPixels({line, static_cast<std::size_t>(image.width())});
  }
  QPixmap greyed = QPixmap::fromImage(image);
  greyed.setDevicePixelRatio(pixmap.devicePixelRatio());
  return greyed;
}

// The program's name as Windows gives it: the executable's file name without its extension.
QString ProgramName() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

Qt::WindowFlags FrameFlags(const DialogTemplate& dialog) {
  // A modal frame: no minimise or maximise box, whatever the platform's default.
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
  if (dialog.hasCaption) flags |= Qt::WindowTitleHint;
  if (dialog.hasSystemMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  return flags;
}

bool IsText(ControlKind kind) {
  return kind == ControlKind::kText || kind == ControlKind::kCentredText;
}

QLabel* CreateLabel(const ControlTemplate& source, QWidget* parent) {
  auto* label = new QLabel(FromUtf8(source.text), parent);
  label->setTextFormat(Qt::PlainText);
  const Qt::Alignment across =
      source.kind == ControlKind::kCentredText ? Qt::AlignHCenter : Qt::AlignLeft;
  label->setAlignment(across | Qt::AlignVCenter);
  return label;
}

QComboBox* CreateList(const ControlTemplate& source, QWidget* parent) {
  auto* list = new QComboBox(parent);
  for (std::string_view entry : source.listEntries) list->addItem(FromUtf8(entry));
  list->setCurrentIndex(-1);
  return list;
}

}  // namespace

void UseProgramFont() {
  QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 9));
}

QtWindow::QtWindow(const DialogTemplate& dialog, DialogHandler& handler, QWidget* owner)
    : QDialog(owner, FrameFlags(dialog)), dialog_(dialog), handler_(handler) {
  // The template's face is a Windows font; the program's face stands in at the template's size.
  QFont font = QApplication::font();
  if (dialog.fontPoints > 0) font.setPointSize(dialog.fontPoints);
  setFont(font);
  units_ = DialogBaseUnits(fontMetrics());
  setWindowTitle(FromUtf8(dialog.caption));
  setFixedSize(ToPixels(dialog.width, dialog.height, units_));

  // Widgets created in template order take the tab order of the template.
  for (const ControlTemplate& source : dialog.controls) {
    controls_.push_back({&source, CreateControl(source)});
  }
  for (const Control& control : controls_) {
    PlaceControl(control);
    Describe(control);
  }

  // A coarse timer may fire up to 5% off its period; polls keep theirs, as on Windows.
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.callOnTimeout(this, [this] {
    if (!ended_) handler_.OnTimer(*this);
  });
  handler_.OnInitDialog(*this);
  FocusFirstControl();
}

QtWindow::~QtWindow() {
  End();
}

QWidget* QtWindow::CreateControl(const ControlTemplate& source) {
  QWidget* widget = nullptr;
  switch (source.kind) {
    case ControlKind::kText:
    case ControlKind::kCentredText:
      widget = CreateLabel(source, this);
      break;
    case ControlKind::kEdit:
    case ControlKind::kPasswordEdit: {
      auto* edit = new QLineEdit(this);
      if (source.kind == ControlKind::kPasswordEdit) edit->setEchoMode(QLineEdit::Password);
      widget = edit;
      break;
    }
    case ControlKind::kDropDownList:
      widget = CreateList(source, this);
      widget->installEventFilter(this);
      break;
    case ControlKind::kPushButton:
    case ControlKind::kDefaultPushButton:
    case ControlKind::kAutoCheckBox: {
      QAbstractButton* button = nullptr;
      if (source.kind == ControlKind::kAutoCheckBox) {
        button = new QCheckBox(FromUtf8(source.text), this);
      } else {
        auto* push = new QPushButton(FromUtf8(source.text), this);
        push->setDefault(source.kind == ControlKind::kDefaultPushButton);
        button = push;
      }
      connect(button, &QAbstractButton::clicked, this, [this, id = source.id] { OnClicked(id); });
      widget = button;
      break;
    }
    case ControlKind::kGroupBox:
      widget = new QGroupBox(FromUtf8(source.text), this);
      // The title on the frame's top line, as Windows draws it, rather than above the frame.
      widget->setStyleSheet(QStringLiteral(
          "QGroupBox { margin-top: 0.6em; border: 1px solid palette(mid); border-radius: 2px; }"
          "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"));
      // Beneath the controls it frames, whatever its place in the template.
      widget->lower();
      break;
    case ControlKind::kIcon: {
      auto* icon = new QLabel(this);
      icon->setPixmap(LargeIcon(source.iconId));
      widget = icon;
      break;
    }
  }
  if (!source.tabStop)
    widget->setFocusPolicy(Qt::FocusPolicy(widget->focusPolicy() & ~Qt::TabFocus));
  if (!source.visible) widget->hide();
  return widget;
}

void QtWindow::PlaceControl(const Control& control) {
  const ControlTemplate& source = *control.source;
  QRect box = ToPixels(source.rect, units_);
  if (IsText(source.kind)) {
    const auto* label = static_cast<QLabel*>(control.widget);
    box = FitTextBox(box, label->fontMetrics().size(0, label->text()),
                     source.kind == ControlKind::kCentredText);
  } else if (source.kind == ControlKind::kDropDownList) {
    // The template gives the height of the opened list; the closed field keeps Qt's own, and
    // Qt's style decides how far the list opens.
    box.setHeight(control.widget->sizeHint().height());
  } else if (source.kind == ControlKind::kIcon) {
    // Like Windows' icon controls, it takes the icon's size.
    const int size = style()->pixelMetric(QStyle::PM_LargeIconSize);
    box.setSize({size, size});
  }
  control.widget->setGeometry(box);
}

// Screen readers find each control by its text or by the text that names it. On Linux a label
// given a name reports that instead of its live text, and a list reports its current entry as
// its name, so those get the naming text as a description.
void QtWindow::Describe(const Control& control) {
  const ControlTemplate& source = *control.source;
  const ControlTemplate* naming = NamingControl(dialog_, source);
  if (!naming || source.kind == ControlKind::kGroupBox) return;
  const QString name = FromUtf8(naming->text);
  switch (source.kind) {
    case ControlKind::kEdit:
    case ControlKind::kPasswordEdit:
    case ControlKind::kIcon:
      control.widget->setAccessibleName(name);
      break;
    case ControlKind::kText:
    case ControlKind::kCentredText:
      if (source.id != kNoControlId) control.widget->setAccessibleDescription(name);
      break;
    default:
      control.widget->setAccessibleDescription(name);
      break;
  }
  // A label beside a field becomes its buddy, which is how Linux screen readers relate them.
  const bool isField = source.kind == ControlKind::kDropDownList ||
                       source.kind == ControlKind::kEdit ||
                       source.kind == ControlKind::kPasswordEdit;
  if (isField && IsText(naming->kind)) {
    auto label = std::ranges::find(controls_, naming, &Control::source);
    static_cast<QLabel*>(label->widget)->setBuddy(control.widget);
  }
}

void QtWindow::FocusFirstControl() {
  for (const Control& control : controls_) {
    QWidget* widget = control.widget;
    if (control.source->tabStop && !widget->isHidden() && widget->isEnabled() &&
        (widget->focusPolicy() & Qt::TabFocus)) {
      widget->setFocus();
      return;
    }
  }
}

const QtWindow::Control* QtWindow::Find(int controlId) const {
  if (controlId == kNoControlId) return nullptr;
  auto found = std::ranges::find(controls_, controlId,
                                 [](const Control& control) { return control.source->id; });
  return found == controls_.end() ? nullptr : &*found;
}

template <typename Widget>
Widget* QtWindow::Find(int controlId) const {
  const Control* control = Find(controlId);
  return control ? qobject_cast<Widget*>(control->widget) : nullptr;
}

QWidget* QtWindow::ControlWidget(int controlId) const {
  const Control* control = Find(controlId);
  return control ? control->widget : nullptr;
}

void QtWindow::OnClicked(int controlId) {
  if (controlId == kIdOk) {
    handler_.OnOk(*this);
    done(kIdOk);
    return;
  }
  handler_.OnCommand(*this, controlId);
}

bool QtWindow::eventFilter(QObject* watched, QEvent* event) {
  auto* list = qobject_cast<QComboBox*>(watched);
  if (!list) return QDialog::eventFilter(watched, event);
  // A list has no context menu of its own but keeps the event from the window, which holds
  // the system menu's items; the list has the focus when the window opens.
  if (event->type() == QEvent::ContextMenu) {
    contextMenuEvent(static_cast<QContextMenuEvent*>(event));
    return true;
  }
  // The port list's tooltip is worked out when it is wanted, since adapters come and go.
  if (event->type() == QEvent::ToolTip && list == ControlWidget(IDC_PORT_COMBO)) {
    list->setToolTip(PlainToolTip(portListTip_.Text(list->count())));
  }
  return false;
}

std::string QtWindow::Text(int controlId) {
  const Control* control = Find(controlId);
  if (!control) return {};
  QString text;
  if (IsText(control->source->kind)) {
    text = static_cast<QLabel*>(control->widget)->text();
  } else if (auto* edit = qobject_cast<QLineEdit*>(control->widget)) {
    text = edit->text();
  } else if (auto* list = qobject_cast<QComboBox*>(control->widget)) {
    text = list->currentText();
  } else if (auto* button = qobject_cast<QAbstractButton*>(control->widget)) {
    text = button->text();
  } else if (auto* group = qobject_cast<QGroupBox*>(control->widget)) {
    text = group->title();
  }
  return text.toStdString();
}

void QtWindow::SetText(int controlId, std::string_view text) {
  const Control* control = Find(controlId);
  if (!control) return;
  const QString value = FromUtf8(text);
  if (IsText(control->source->kind)) {
    static_cast<QLabel*>(control->widget)->setText(value);
    PlaceControl(*control);  // a longer text widens the label rather than being cut off
  } else if (auto* edit = qobject_cast<QLineEdit*>(control->widget)) {
    edit->setText(value);
  } else if (auto* button = qobject_cast<QAbstractButton*>(control->widget)) {
    button->setText(value);
  } else if (auto* group = qobject_cast<QGroupBox*>(control->widget)) {
    group->setTitle(value);
  }
}

void QtWindow::Enable(int controlId, bool enabled) {
  if (QWidget* widget = ControlWidget(controlId)) widget->setEnabled(enabled);
}

void QtWindow::Show(int controlId, bool shown) {
  if (QWidget* widget = ControlWidget(controlId)) widget->setVisible(shown);
}

int QtWindow::Selection(int controlId) {
  auto* list = Find<QComboBox>(controlId);
  return list ? list->currentIndex() : -1;
}

void QtWindow::Select(int controlId, int index) {
  auto* list = Find<QComboBox>(controlId);
  if (!list) return;
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

std::string QtWindow::EntryText(int controlId, int index) {
  auto* list = Find<QComboBox>(controlId);
  return list ? list->itemText(index).toStdString() : std::string();
}

int QtWindow::CheckState(int controlId) {
  auto* box = Find<QCheckBox>(controlId);
  return box && box->isChecked() ? 1 : 0;
}

void QtWindow::SetCheckState(int controlId, int state) {
  if (auto* box = Find<QCheckBox>(controlId)) box->setChecked(state == 1);
}

void QtWindow::SetToolTip(int controlId, std::string_view text) {
  if (QWidget* widget = ControlWidget(controlId)) widget->setToolTip(PlainToolTip(text));
}

QtWindow::ShownIcon* QtWindow::IconShownBy(int controlId) {
  const Control* control = Find(controlId);
  if (!control || control->source->kind != ControlKind::kIcon) return nullptr;
  return &shownIcons_.try_emplace(controlId, ShownIcon{control->source->iconId}).first->second;
}

void QtWindow::SetIcon(int controlId, int iconId) {
  if (ShownIcon* shown = IconShownBy(controlId)) {
    shown->iconId = iconId;
    ShowIcon(controlId, *shown);
  }
}

void QtWindow::SetIconDimmed(int controlId, bool dimmed) {
  if (ShownIcon* shown = IconShownBy(controlId)) {
    shown->dimmed = dimmed;
    ShowIcon(controlId, *shown);
  }
}

// Until the user activates the window; the alert sound is the platform theme's bell.
void QtWindow::RequestAttention() {
  QApplication::alert(this);
  QApplication::beep();
}

void QtWindow::ShowIcon(int controlId, const ShownIcon& shown) {
  static_cast<QLabel*>(ControlWidget(controlId))
      ->setPixmap(shown.dimmed ? DimmedIcon(shown.iconId) : LargeIcon(shown.iconId));
}

// A window reads each icon once: a QIcon made afresh at every change of a lamp would read its
// file again and leave one more copy of its pixmap in QPixmapCache, under a key of its own.
const QPixmap& QtWindow::LargeIcon(int iconId) {
  auto [entry, added] = largeIcons_.try_emplace(iconId);
  if (added) {
    const int size = style()->pixelMetric(QStyle::PM_LargeIconSize);
    entry->second = ResourceIcon(iconId).pixmap(size, size);
  }
  return entry->second;
}

// Greyed once per icon, for the same reason.
const QPixmap& QtWindow::DimmedIcon(int iconId) {
  auto [entry, added] = dimmedIcons_.try_emplace(iconId);
  if (added) entry->second = Greyed(LargeIcon(iconId));
  return entry->second;
}

void QtWindow::SetWindowIcon(int iconId) {
  setWindowIcon(ResourceIcon(iconId));
}

std::string QtWindow::LoadString(int stringId) {
  return std::string(LoadTemplateString(stringId));
}

void QtWindow::MessageBox(std::string_view text) {
  RunOnWindowThread([this, message = FromUtf8(text)] { ShowMessageBox(message); });
}

void QtWindow::ShowMessageBox(const QString& text) {
  QMessageBox box(QMessageBox::Warning, ProgramName(), text, QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));  // as the templates' OK buttons
  box.exec();
}

void QtWindow::SetTimer(unsigned periodMs) {
  timer_.start(static_cast<int>(std::clamp(periodMs, kMinTimerPeriodMs, kMaxTimerPeriodMs)));
}

void QtWindow::KillTimer() {
  timer_.stop();
}

bool QtWindow::Send(int message) {
  return RunOnWindowThread([this, message] { handler_.OnMessage(*this, message); });
}

void QtWindow::AppendSystemMenuItem(int command, std::string_view text) {
  if (!contextMenu_) contextMenu_ = new QMenu(this);
  contextMenu_->addSeparator();  // a leading separator is collapsed, as in a context menu
  contextMenu_->addAction(FromUtf8(text))->setData(command);
}

void QtWindow::contextMenuEvent(QContextMenuEvent* event) {
  if (!contextMenu_) return QDialog::contextMenuEvent(event);
  if (QAction* chosen = contextMenu_->exec(event->globalPos())) {
    handler_.OnSysCommand(*this, chosen->data().toInt());
  }
}

int QtWindow::RunModal(int templateId, DialogHandler& handler) {
  const DialogTemplate* dialog = FindDialogTemplate(templateId);
  if (!dialog) return kIdCancel;
  QtWindow owned(*dialog, handler, this);
  return owned.exec();
}

void QtWindow::done(int result) {
  End();
  QDialog::done(result == kIdOk ? kIdOk : kIdCancel);
}

// The window is ending: threads waiting on it are let go, so that OnClose can join them
// even if one waits in a message box that is still up; the dialogs it owns end with it.
void QtWindow::End() {
  if (ended_) return;
  ended_ = true;
  {
    std::lock_guard lock(tasksMutex_);
    closing_ = true;
    tasks_.clear();
  }
  tasksChanged_.notify_all();
  for (QDialog* owned : findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) {
    if (owned->isVisible()) owned->reject();
  }
  handler_.OnClose(*this);
  timer_.stop();
}

bool QtWindow::RunOnWindowThread(std::function<void()> work) {
  if (QThread::currentThread() == thread()) {
    work();
    return true;
  }
  auto task = std::make_shared<Task>();
  task->work = std::move(work);
  std::unique_lock lock(tasksMutex_);
  if (closing_) return false;
  tasks_.push_back(task);
  QCoreApplication::postEvent(this, new QEvent(kRunTaskEvent));
  tasksChanged_.wait(lock, [&] { return task->done || closing_; });
  return task->started;
}

void QtWindow::WaitServing(const std::function<bool()>& done) {
  while (!done()) {
    RunNextTask();
    std::unique_lock lock(tasksMutex_);
    tasksChanged_.wait_for(lock, std::chrono::milliseconds(2), [this] { return !tasks_.empty(); });
  }
}

bool QtWindow::event(QEvent* event) {
  if (event->type() != kRunTaskEvent) return QDialog::event(event);
  RunNextTask();
  return true;
}

void QtWindow::RunNextTask() {
  std::unique_lock lock(tasksMutex_);
  if (tasks_.empty()) return;  // dropped as the window began to end
  std::shared_ptr<Task> task = std::move(tasks_.front());
  tasks_.pop_front();
  task->started = true;
  lock.unlock();
  task->work();
  lock.lock();
  task->done = true;
  tasksChanged_.notify_all();
}

}  // namespace ui
