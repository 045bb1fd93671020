#pragma once

#include "messageboxes.h"

class QWidget;

// The message box on QMessageBox, with German button texts of its own so they
// read right even where no Qt translation is installed.
class QtMessageBoxes : public MessageBoxes
{
public:
    explicit QtMessageBoxes(QWidget *parent) : m_parent(parent) {}
    Answer show(const QString &text, const QString &title, Buttons buttons, Icon icon) override;

    // The text as the box shows it: CR LF and a lone CR both become a line break.
    static QString displayText(const QString &text);

private:
    QWidget *const m_parent;
};
