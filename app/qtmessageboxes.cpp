#include "qtmessageboxes.h"

#include <QMessageBox>
#include <QPushButton>

QString QtMessageBoxes::displayText(const QString &text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

MessageBoxes::Answer QtMessageBoxes::show(const QString &text, const QString &title,
                                          Buttons buttons, Icon icon)
{
    QMessageBox::Icon qicon = QMessageBox::Information;
    switch (icon) {
    case Information:
        qicon = QMessageBox::Information;
        break;
    case Question:
        qicon = QMessageBox::Question;
        break;
    case Critical:
        qicon = QMessageBox::Critical;
        break;
    }

    QMessageBox box(qicon, title, displayText(text), QMessageBox::NoButton, m_parent);
    // Texts come from the program and from the system (device names, error
    // strings); none of them is markup.
    box.setTextFormat(Qt::PlainText);

    if (buttons == Ok) {
        box.setStandardButtons(QMessageBox::Ok);
        box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
        box.setDefaultButton(QMessageBox::Ok);
        box.exec();
        return AnswerOk;
    }

    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Ja"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Nein"));
    box.setDefaultButton(QMessageBox::Yes);
    box.exec();
    // Closing the box any other way (Escape, the title bar) counts as "Nein".
    return box.clickedButton() == box.button(QMessageBox::Yes) ? AnswerYes : AnswerNo;
}
