#include "ui/fake/fake_window.h"

#include <stdexcept>

namespace ui {

FakeWindow::FakeWindow(int templateId, DialogHandler& handler)
    : handler_(handler), windowThread_(std::this_thread::get_id()) {
  const DialogTemplate* dialog = FindDialogTemplate(templateId);
  if (!dialog) throw std::invalid_argument("no dialog template " + std::to_string(templateId));
  for (const ControlTemplate& source : dialog->controls) {
    if (source.id == kNoControlId) continue;
    Control control;
    control.source = &source;
    control.text = source.text;
    control.visible = source.visible;
    control.icon = source.iconId;
    control.entries.assign(source.listEntries.begin(), source.listEntries.end());
    controls_[source.id] = std::move(control);
  }
  handler_.OnInitDialog(*this);
}

FakeWindow::~FakeWindow() {
  if (!closed_) Close();
}

FakeWindow::Control& FakeWindow::At(int controlId) {
  auto it = controls_.find(controlId);
  if (it == controls_.end()) throw std::out_of_range("no control " + std::to_string(controlId));
  return it->second;
}

const FakeWindow::Control& FakeWindow::At(int controlId) const {
  return const_cast<FakeWindow*>(this)->At(controlId);
}

void FakeWindow::Click(int controlId) {
  Control& control = At(controlId);
  if (!control.enabled || !control.visible || closed_) return;
  if (control.source->kind == ControlKind::kAutoCheckBox) control.check = control.check ? 0 : 1;
  if (controlId == kIdOk) {
    handler_.OnOk(*this);
    endResult_ = kIdOk;
    Close();
    return;
  }
  handler_.OnCommand(*this, controlId);
}

void FakeWindow::Type(int controlId, std::string_view text) {
  At(controlId).text = text;
}

void FakeWindow::Choose(int controlId, int index) {
  Select(controlId, index);
}

void FakeWindow::Tick() {
  if (timerRunning_ && !closed_) handler_.OnTimer(*this);
}

void FakeWindow::ChooseSystemMenuItem(int command) {
  handler_.OnSysCommand(*this, command);
}

void FakeWindow::Close() {
  if (closed_) return;
  {
    std::lock_guard lock(queueMutex_);
    closing_ = true;
  }
  queueChanged_.notify_all();
  handler_.OnClose(*this);
  timerRunning_ = false;
  closed_ = true;
}

bool FakeWindow::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(queueMutex_);
  while (!done()) {
    if (!queue_.empty()) {
      Task* task = queue_.front();
      queue_.pop_front();
      task->started = true;
      lock.unlock();
      task->work();
      lock.lock();
      task->done = true;
      queueChanged_.notify_all();
      continue;
    }
    if (std::chrono::steady_clock::now() >= deadline) return done();
    // Short waits: `done` may come true without anything being queued (a thread ending).
    queueChanged_.wait_for(lock, std::chrono::milliseconds(2));
  }
  return true;
}

bool FakeWindow::RunOnWindowThread(std::function<void()> work) {
  if (std::this_thread::get_id() == windowThread_) {
    work();
    return true;
  }
  Task task{std::move(work)};
  std::unique_lock lock(queueMutex_);
  if (closing_) return false;
  queue_.push_back(&task);
  queueChanged_.notify_all();
  queueChanged_.wait(lock, [&] { return task.done || (closing_ && !task.started); });
  if (!task.done) std::erase(queue_, &task);
  return task.done;
}

bool FakeWindow::IsEnabled(int controlId) const {
  return At(controlId).enabled;
}
bool FakeWindow::IsVisible(int controlId) const {
  return At(controlId).visible;
}
int FakeWindow::Icon(int controlId) const {
  return At(controlId).icon;
}

std::string FakeWindow::Text(int controlId) {
  const Control& control = At(controlId);
  if (control.source->kind == ControlKind::kDropDownList) {
    return EntryText(controlId, control.selection);
  }
  return control.text;
}

void FakeWindow::SetText(int controlId, std::string_view text) {
  At(controlId).text = text;
}
void FakeWindow::Enable(int controlId, bool enabled) {
  At(controlId).enabled = enabled;
}
void FakeWindow::Show(int controlId, bool shown) {
  At(controlId).visible = shown;
}
int FakeWindow::Selection(int controlId) {
  return At(controlId).selection;
}

void FakeWindow::Select(int controlId, int index) {
  Control& control = At(controlId);
  const bool inList = index >= 0 && index < static_cast<int>(control.entries.size());
  control.selection = inList ? index : -1;
}

std::string FakeWindow::EntryText(int controlId, int index) {
  const Control& control = At(controlId);
  if (index < 0 || index >= static_cast<int>(control.entries.size())) return {};
  return control.entries[static_cast<std::size_t>(index)];
}

int FakeWindow::CheckState(int controlId) {
  return At(controlId).check;
}
void FakeWindow::SetCheckState(int controlId, int state) {
  At(controlId).check = state;
}
void FakeWindow::SetToolTip(int controlId, std::string_view text) {
  At(controlId).toolTip = text;
}
void FakeWindow::SetIcon(int controlId, int iconId) {
  At(controlId).icon = iconId;
}
void FakeWindow::SetIconDimmed(int controlId, bool dimmed) {
  At(controlId).iconDimmed = dimmed;
}
void FakeWindow::RequestAttention() {
  ++attentionRequests_;
}
void FakeWindow::SetWindowIcon(int iconId) {
  windowIcon_ = iconId;
}
std::string FakeWindow::LoadString(int stringId) {
  return std::string(LoadTemplateString(stringId));
}

void FakeWindow::ShowMessageBox(std::string_view text) {
  messageBoxes_.emplace_back(text);
  if (onMessageBox) onMessageBox(text);
}

void FakeWindow::MessageBox(std::string_view text) {
  const std::string copy(text);
  RunOnWindowThread([this, copy] { ShowMessageBox(copy); });
}

void FakeWindow::SetTimer(unsigned periodMs) {
  timerRunning_ = true;
  timerPeriod_ = periodMs;
}

void FakeWindow::KillTimer() {
  timerRunning_ = false;
}

bool FakeWindow::Send(int message) {
  return RunOnWindowThread([this, message] { handler_.OnMessage(*this, message); });
}

void FakeWindow::WaitServing(const std::function<bool()>& done) {
  PumpUntil(done, std::chrono::minutes(1));
}

void FakeWindow::AppendSystemMenuItem(int command, std::string_view text) {
  menuItems_.emplace_back(command, std::string(text));
}

int FakeWindow::RunModal(int templateId, DialogHandler& handler) {
  modalsRun_.push_back(templateId);
  FakeWindow child(templateId, handler);
  const int result = onModal ? onModal(child) : kIdCancel;
  if (child.closed_) return child.endResult_;  // the user clicked OK or closed it
  if (result == kIdOk) handler.OnOk(child);
  child.endResult_ = result;
  child.Close();
  return result;
}

}  // namespace ui
