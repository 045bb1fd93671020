#pragma once

class QAccessibleInterface;
class QObject;
class QString;

// What a screen reader learns of the receive box: a read-only, multi-line
// text holding the lines on show (one character per byte, control bytes as
// their control pictures), with the caret, the selection and where each
// character is on screen. Installed once as a factory of Qt's accessibility.
QAccessibleInterface *receiveViewAccessible(const QString &className, QObject *object);
