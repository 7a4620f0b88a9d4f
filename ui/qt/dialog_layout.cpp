#include "ui/qt/dialog_layout.h"

#include <algorithm>
#include <cmath>

namespace ui {
namespace {

// A label sits at most about one and a half characters before the control it names.
constexpr int kLabelGap = 6;
// A drop-down list's template height is that of the opened list; closed, it is about as high
// as an edit field.
constexpr int kListFieldHeight = 14;

int Scale(int dialogUnits, int base, int per) {
  return static_cast<int>(std::lround(dialogUnits * static_cast<double>(base) / per));
}

bool IsText(ControlKind kind) {
  return kind == ControlKind::kText || kind == ControlKind::kCentredText;
}

int Right(const DialogRect& rect) {
  return rect.x + rect.width;
}
int Bottom(const DialogRect& rect) {
  return rect.y + rect.height;
}

bool SharesRow(const DialogRect& a, const DialogRect& b) {
  return a.y < Bottom(b) && b.y < Bottom(a);
}

bool Contains(const DialogRect& outer, const DialogRect& inner) {
  return outer.x <= inner.x && outer.y <= inner.y && Right(inner) <= Right(outer) &&
         Bottom(inner) <= Bottom(outer);
}

// Where a control shows while the window is at rest.
DialogRect ClosedRect(const ControlTemplate& control) {
  DialogRect rect = control.rect;
  if (control.kind == ControlKind::kDropDownList) {
    rect.height = std::min(rect.height, kListFieldHeight);
  }
  return rect;
}

// The control ending nearest before `control` on its row, within kLabelGap.
const ControlTemplate* LeftNeighbour(const DialogTemplate& dialog, const ControlTemplate& control) {
  const ControlTemplate* nearest = nullptr;
  for (const ControlTemplate& other : dialog.controls) {
    if (other.kind == ControlKind::kGroupBox || other.rect.x >= control.rect.x) continue;
    const int gap = control.rect.x - Right(other.rect);
    if (gap < 0 || gap > kLabelGap || !SharesRow(ClosedRect(other), ClosedRect(control))) continue;
    if (!nearest || Right(other.rect) > Right(nearest->rect)) nearest = &other;
  }
  return nearest;
}

const ControlTemplate* InnermostGroup(const DialogTemplate& dialog,
                                      const ControlTemplate& control) {
  const ControlTemplate* innermost = nullptr;
  for (const ControlTemplate& group : dialog.controls) {
    if (group.kind != ControlKind::kGroupBox || &group == &control) continue;
    if (!Contains(group.rect, ClosedRect(control))) continue;
    if (!innermost || Contains(innermost->rect, group.rect)) innermost = &group;
  }
  return innermost;
}

}  // namespace

BaseUnits DialogBaseUnits(const QFontMetrics& metrics) {
  // Windows' average width: the 52 Latin letters, rounded as GDI rounds it.
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  const int x = (letters / 26 + 1) / 2;
  // The templates were drawn with a CJK face whose cell is twice as high as its half-width
  // letters. This face's line height adds leading that cell lacks, so the height follows
  // the width to keep the window's proportions.
  return {x, 2 * x};
}

QRect ToPixels(const DialogRect& rect, BaseUnits units) {
  // Each value is scaled on its own, as Windows does when it creates the controls.
  return {Scale(rect.x, units.x, 4), Scale(rect.y, units.y, 8), Scale(rect.width, units.x, 4),
          Scale(rect.height, units.y, 8)};
}

QSize ToPixels(int width, int height, BaseUnits units) {
  return {Scale(width, units.x, 4), Scale(height, units.y, 8)};
}

QRect FitTextBox(const QRect& box, const QSize& text, bool centred) {
  QRect fitted = box;
  if (const int extra = text.height() - box.height(); extra > 0) {
    fitted.adjust(0, -extra / 2, 0, extra - extra / 2);
  }
  if (const int extra = text.width() - box.width(); extra > 0) {
    fitted.adjust(centred ? -extra / 2 : 0, 0, centred ? extra - extra / 2 : extra, 0);
  }
  return fitted;
}

const ControlTemplate* NamingControl(const DialogTemplate& dialog, const ControlTemplate& control) {
  for (const ControlTemplate* left = LeftNeighbour(dialog, control); left;
       left = LeftNeighbour(dialog, *left)) {
    if (IsText(left->kind)) return left;
  }
  return InnermostGroup(dialog, control);
}

}  // namespace ui
