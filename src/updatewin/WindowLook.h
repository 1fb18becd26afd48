#pragma once
// What the program's windows share in their look: places designed in twips, the design fonts,
// plain backgrounds and centring on the screen.

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QRect>
#include <QWidget>

#include "ui/ProgressBar.h"

namespace tandor {

// A control's place as designed, in twips.
struct TwipRect {
  int Left, Top, Width, Height;
};

QRect ToPixels(const TwipRect& rect);

// The designed font; where the family is missing, fontconfig picks one of the same kind and Qt
// falls back per character, which brings in a Korean font for Hangul.
QFont DesignFont(const char* family, double points, QFont::StyleHint hint);

void SetBackground(QWidget& widget, const QColor& colour);

// The progress bar: a white frame at `frame` and inside it the bar `txtCurrent`, "0%" at first.
void BuildProgressBar(QFrame& pictureBox, QLabel& txtCurrent, const TwipRect& frame);
// Draws one look of the bar.
void ShowProgressLook(QLabel& txtCurrent, const ProgressBarLook& look);

// Moves the window to the middle of its screen.
void CentreOnScreen(QWidget& window);

}  // namespace tandor
