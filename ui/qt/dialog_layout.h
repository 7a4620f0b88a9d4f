// Where a template's controls go on screen, and what names them. Templates measure in dialog
// units: a quarter of the dialog font's average character width across, an eighth of its
// character height down.
#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QSize>

#include "ui/toolkit/dialog_template.h"

namespace ui {

// Pixels per four horizontal and per eight vertical dialog units.
struct BaseUnits {
  int x = 0;
  int y = 0;
};

BaseUnits DialogBaseUnits(const QFontMetrics& metrics);
QRect ToPixels(const DialogRect& rect, BaseUnits units);
QSize ToPixels(int width, int height, BaseUnits units);

// The box a static text needs: its template box, grown where the text is larger, keeping the
// box's vertical centre, and its left edge or horizontal centre as the text is aligned.
QRect FitTextBox(const QRect& box, const QSize& text, bool centred);

// The control whose text names `control` for a screen reader: the text just left of it on
// its row (or of the field it sits beside), else the innermost group box around it; null
// when there is neither.
const ControlTemplate* NamingControl(const DialogTemplate& dialog, const ControlTemplate& control);

}  // namespace ui
