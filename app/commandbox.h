#pragma once

#include <QPlainTextEdit>

// The command box. Every character the operator types or pastes goes out as
// it stands: a line break made with Enter (or Shift+Enter) reads as CR LF in
// text(), while a CR or LF that came in a paste stays that very character.
// Tab moves the focus on. Lines wrap anywhere, so a long command without
// blanks costs time in proportion to its length, not to its square.
class CommandBox : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit CommandBox(QWidget *parent = nullptr);

    // The command as typed; a line break made with Enter reads as CR LF.
    QString text() const;
    void setText(const QString &text);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;
    QMimeData *createMimeDataFromSelection() const override;

private:
    // Inserts text at the cursor, each CR LF pair as a line break of the box
    // and each lone CR or LF as a marked break that reads back as itself.
    static void insertExact(QTextCursor &cursor, const QString &text);
    // The text between two positions of the document, as it goes out.
    QString exactText(int from, int to) const;
};
