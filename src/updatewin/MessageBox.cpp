#include "updatewin/MessageBox.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <utility>

#include "platform/Unattended.h"
#include "ui/ConsoleWindow.h"

namespace tandor {

namespace {

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Exclamation:
      return QMessageBox::Warning;
    case MessageIcon::Critical:
      return QMessageBox::Critical;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

MessageAnswer ShowMessageBox(const std::string& title, const std::string& text, MessageIcon icon,
                             MessageButtons buttons) {
  if (IsUnattended()) {
    PrintUnattendedMessage(title, text);
    return DefaultAnswer(buttons);
  }
  QMessageBox box(ToQt(icon), QString::fromStdString(title), QString::fromStdString(text));
  switch (buttons) {
    case MessageButtons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageButtons::OkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case MessageButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
  }
  // Korean labels beside Korean texts, whatever the translations on the machine say.
  const std::pair<QMessageBox::StandardButton, const char*> labels[] = {
      {QMessageBox::Ok, "확인"},
      {QMessageBox::Cancel, "취소"},
      {QMessageBox::Yes, "예"},
      {QMessageBox::No, "아니요"}};
  for (const auto& [button, label] : labels)
    if (QAbstractButton* shown = box.button(button)) shown->setText(QString::fromUtf8(label));
  switch (box.exec()) {
    case QMessageBox::Cancel:
      return MessageAnswer::Cancel;
    case QMessageBox::Yes:
      return MessageAnswer::Yes;
    case QMessageBox::No:
      return MessageAnswer::No;
    default:
      return MessageAnswer::Ok;
  }
}

}  // namespace tandor
