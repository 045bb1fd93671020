#pragma once

#include <QString>

// The file dialog component `CommonDialog1`: properties set before ShowOpen,
// FileName read after it. FileName is kept from one use to the next.
class CommonDialog
{
public:
    virtual ~CommonDialog() = default;

    bool CancelError = false;
    QString DialogTitle;
    QString DefaultExt;
    // Pairs of description and pattern, separated by "|".
    QString Filter;
    QString FileName;

    // Shows the modal open-file dialog. A name that does not exist yet is
    // accepted. Cancelling throws KavroError 32755 when CancelError is set.
    virtual void ShowOpen() = 0;
};
