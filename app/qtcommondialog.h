#pragma once

#include "commondialog.h"

class QWidget;

// The file dialog on QFileDialog (Qt's own dialog, so its texts follow the
// program's German translation everywhere).
class QtCommonDialog : public CommonDialog
{
public:
    explicit QtCommonDialog(QWidget *parent) : m_parent(parent) {}
    void ShowOpen() override;

    // "Kavro Textdatei (*.txt)|*.txt" as QFileDialog's name filters.
    static QStringList nameFilters(const QString &filter);

private:
    QWidget *const m_parent;
};
