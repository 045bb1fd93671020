#pragma once

#include <QPlainTextEdit>

#include <memory>

class BytesPrompt;
class SentCommands;
class QMenu;

// The command box. Every character the operator types or pastes goes out as
// it stands: a line break made with Enter (or Shift+Enter) reads as CR LF in
// text(), while a CR or LF that came in a paste stays that very character.
// Control characters (and the other bytes the receive box shows boxed) stand
// in the box as the same small boxed names and read back as themselves.
// Tab moves the focus on. Lines wrap anywhere, so a long command without
// blanks costs time in proportion to its length, not to its square.
//
// The context menu inserts control characters by name and bytes typed in
// hex, and sends a single control character at once (sendNow). With the
// commands sent before given, Up on the first line and Down on the last
// (Ctrl+Up and Ctrl+Down anywhere) step through them.
class CommandBox : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit CommandBox(QWidget *parent = nullptr);
    ~CommandBox() override;

    // The command as typed; a line break made with Enter reads as CR LF.
    QString text() const;
    void setText(const QString &text);

    // Inserts at the cursor, replacing the selection, exactly these bytes.
    void insertBytes(QByteArrayView bytes);

    // The commands sent before; none by default (the box does not own it).
    void setSentCommands(SentCommands *commands);
    // The command went out: it becomes the newest of them. Throws
    // KavroError when they cannot be kept (told once).
    void recordSent(const QString &command);

    // Why nothing can be sent now (the port closed, its device away); empty
    // when it can. While there is a reason, the entries of "Sofort senden"
    // are disabled below it.
    void setSendRefusal(const QString &reason) { m_sendRefusal = reason; }

    // The menu offers "Als Befehl speichern…" and "Befehle…" (the main
    // window's box does; a box in a dialog does not).
    void setCommandEntries(bool offered) { m_commandEntries = offered; }

    // While saved commands run on their own (repeats, sequences), a small
    // badge in the box's corner says so, e.g. "↻ Poll"; empty removes it.
    void setRunningBadge(const QString &badge);
    QString runningBadge() const { return m_runningBadge; }

    // Who asks for the bytes of "Bytes einfügen…"; the Qt dialog by default
    // (and again after nullptr).
    void setBytesPrompt(BytesPrompt *prompt);

    // The context menu as the operator gets it: the editing entries and
    // this box's own.
    QMenu *createContextMenu();

Q_SIGNALS:
    // "Sofort senden": this one byte, as it stands, without terminator and
    // without touching the command.
    void sendNow(char byte);
    // "Als Befehl speichern…" with the text as it stands.
    void saveAsCommand(const QString &text);
    // "Befehle…".
    void commandsRequested();
    // "Datei senden…" and "Datei empfangen…".
    void sendFileRequested();
    void receiveFileRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;
    QMimeData *createMimeDataFromSelection() const override;

private:
    // Inserts text at the cursor, each CR LF pair as a line break of the box,
    // each lone CR or LF as a marked break that reads back as itself, and each
    // byte shown boxed as a boxed name that reads back as itself.
    static void insertExact(QTextCursor &cursor, const QString &text);
    // The text between two positions of the document, as it goes out.
    QString exactText(int from, int to) const;
    void insertAtCursor(const QString &text);
    // Up or Down at the first or last line: a step through the commands
    // sent before.
    bool stepSentCommands(QKeyEvent *event);

    SentCommands *m_sentCommands = nullptr;
    QString m_sendRefusal;
    bool m_commandEntries = false;
    QString m_runningBadge;
    std::unique_ptr<BytesPrompt> m_ownPrompt;
    BytesPrompt *m_prompt = nullptr;
};
