#include "updatewin/WindowLook.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

namespace tandor {

QRect ToPixels(const TwipRect& rect) {
  return QRect(TwipsToPixels(rect.Left), TwipsToPixels(rect.Top), TwipsToPixels(rect.Width),
               TwipsToPixels(rect.Height));
}

QFont DesignFont(const char* family, double points, QFont::StyleHint hint) {
  QFont font(QString::fromLatin1(family));
  font.setPointSizeF(points);
  font.setStyleHint(hint);
  font.setWeight(QFont::Normal);
  return font;
}

void SetBackground(QWidget& widget, const QColor& colour) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::Window, colour);
  widget.setPalette(palette);
  widget.setAutoFillBackground(true);
}

void BuildProgressBar(QFrame& pictureBox, QLabel& txtCurrent, const TwipRect& frame) {
  constexpr TwipRect kTxtCurrent{-30, -60, 360, 360};
  pictureBox.setObjectName(QStringLiteral("PictureBox"));
  pictureBox.setGeometry(ToPixels(frame));
  SetBackground(pictureBox, Qt::white);
  pictureBox.setFont(DesignFont("Courier New", 9, QFont::TypeWriter));

  txtCurrent.setObjectName(QStringLiteral("txtCurrent"));
  txtCurrent.setGeometry(ToPixels(kTxtCurrent));
  txtCurrent.setFont(DesignFont("Courier New", 9.75, QFont::TypeWriter));
  txtCurrent.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // The box starts left of the frame; the indent brings its text back inside.
  txtCurrent.setIndent(-TwipsToPixels(kTxtCurrent.Left) + 1);
  QPalette palette = txtCurrent.palette();
  palette.setColor(QPalette::WindowText, Qt::black);
  txtCurrent.setPalette(palette);
  SetBackground(txtCurrent, Qt::white);
  txtCurrent.setText(QStringLiteral("0%"));
}

void ShowProgressLook(QLabel& txtCurrent, const ProgressBarLook& look) {
  txtCurrent.setText(QString::fromStdString(look.Text));
  SetBackground(txtCurrent, QColor(look.Grey, look.Grey, look.Grey));
  txtCurrent.resize(TwipsToPixels(look.WidthTwips), txtCurrent.height());
}

void CentreOnScreen(QWidget& window) {
  const QScreen* target = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
  if (!target) return;
  const QRect area = target->geometry();
  const QRect frame = window.frameGeometry();
  window.move(area.x() + (area.width() - frame.width()) / 2,
              area.y() + (area.height() - frame.height()) / 2);
}

}  // namespace tandor
