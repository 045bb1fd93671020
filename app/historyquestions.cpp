#include "historyquestions.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

QString QtHistoryQuestions::askFile(QWidget *parent, const QString &title, const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, title, QString(), filter);
}

bool QtHistoryQuestions::askClear(QWidget *parent)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Verlauf leeren"),
                    QStringLiteral("Den ganzen Verlauf leeren? Was bisher empfangen und "
                                   "gesendet wurde, ist danach nicht mehr da."),
                    QMessageBox::NoButton, parent);
    QPushButton *clear = box.addButton(QStringLiteral("Leeren"), QMessageBox::AcceptRole);
    // Nothing brings it back: Enter keeps it.
    box.setDefaultButton(box.addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == clear;
}
