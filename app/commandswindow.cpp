#include "commandswindow.h"

#include "artwork.h"
#include "cellpainter.h"
#include "codepage.h"
#include "commanddesk.h"
#include "commandquestions.h"
#include "errorreporter.h"
#include "windowplacement.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

namespace
{

QString commandCount(qsizetype n)
{
    return n == 1 ? QStringLiteral("1 Befehl") : QStringLiteral("%1 Befehle").arg(n);
}

enum Column { Name, Text, Key, TerminatorColumn, Running, Columns };

// The text column: every byte as the command box and the receive box show
// it, control bytes as their small boxed names.
class BoxedTextDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        // The item's ground and selection as the style draws them, without
        // its text.
        QStyleOptionViewItem ground = option;
        initStyleOption(&ground, index);
        ground.text.clear();
        const QWidget *view = option.widget;
        (view ? view->style() : QApplication::style())
            ->drawControl(QStyle::CE_ItemViewItem, &ground, painter, view);
        if (!m_made || m_font != option.font) {
            m_made = true;
            m_font = option.font;
            m_cells.setFont(m_font);
        }
        QPalette palette = option.palette;
        if (option.state & QStyle::State_Selected) {
            // The pens are made readable on the ground they are told of.
            palette.setColor(QPalette::Text, option.palette.color(QPalette::HighlightedText));
            palette.setColor(QPalette::Base, option.palette.color(QPalette::Highlight));
        }
        const ViewColours colours = ViewColours::of(palette);
        const QByteArray bytes = bytesFromText(index.data().toString());
        painter->save();
        painter->setClipRect(option.rect);
        const qreal top = option.rect.top() + (option.rect.height() - m_cells.lineHeight()) / 2;
        int x = option.rect.left() + 4;
        for (const char byte : bytes) {
            const Cell cell = CellPainter::byteCell(uchar(byte));
            if (x > option.rect.right())
                break;
            m_cells.drawCell(*painter, QPointF(x, std::round(top)),
                             m_cells.appearance(cell, colours));
            x += m_cells.width(cell);
        }
        painter->restore();
    }

private:
    mutable bool m_made = false;
    mutable QFont m_font;
    mutable CellPainter m_cells;
};

QPushButton *button(QWidget *parent, QHBoxLayout *row, const char *name, const QString &caption)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    row->addWidget(b);
    return b;
}
} // namespace

bool askAndPut(CommandDesk &desk, CommandQuestions &questions, ErrorReporter &reporter,
               QWidget *parent, SavedCommand proposal, qsizetype index, bool edit)
{
    for (;;) {
        const std::optional<SavedCommand> answer =
            edit ? questions.askEdit(parent, proposal,
                                     index < 0 ? QStringLiteral("Neuer Befehl")
                                               : QStringLiteral("Befehl bearbeiten"))
                 : questions.askSave(parent, proposal);
        if (!answer)
            return false;
        proposal = *answer;
        Verdict v = desk.book().check(proposal, index);
        if (v.problem == Verdict::KeyTaken &&
            questions.askYes(
                parent,
                v.message + QStringLiteral(" Soll sie zu „%1“ wechseln?").arg(proposal.name))) {
            // Checked again without the key's holder, so that nothing
            // changes when something else is wrong.
            CommandBook trial = desk.book();
            trial.releaseKey(proposal.key);
            v = trial.check(proposal, index);
            if (v.ok())
                desk.store().book().releaseKey(proposal.key);
        } else if (v.problem == Verdict::KeyTaken) {
            continue;
        }
        if (!v.ok()) {
            questions.tell(parent, v.message);
            continue;
        }
        CommandBook &book = desk.store().book();
        index < 0 ? book.add(proposal) : book.replace(index, proposal);
        bool saved = false;
        reporter.run([&desk, &saved] {
            desk.bookChanged();
            saved = true;
        });
        return saved;
    }
}

CommandsWindow::CommandsWindow(CommandDesk &desk, CommandQuestions &questions,
                               ErrorReporter &reporter, QWidget *parent)
    : QWidget(parent, Qt::Window), m_desk(desk), m_questions(questions), m_reporter(reporter)
{
    setObjectName(QStringLiteral("Befehle"));
    setWindowIcon(kavroIcon());
    setPortNumber(0);
    resize(760, 400);

    auto *layout = new QVBoxLayout(this);
    m_list = new QTableWidget(0, Columns, this);
    m_list->setObjectName(QStringLiteral("befehlsliste"));
    m_list->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Text"),
                                       QStringLiteral("Taste"), QStringLiteral("Abschlusszeichen"),
                                       QStringLiteral("Läuft")});
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->verticalHeader()->hide();
    m_list->horizontalHeader()->setSectionResizeMode(Text, QHeaderView::Stretch);
    m_list->horizontalHeader()->setSectionResizeMode(Key, QHeaderView::ResizeToContents);
    m_list->horizontalHeader()->setSectionResizeMode(TerminatorColumn,
                                                     QHeaderView::ResizeToContents);
    m_list->horizontalHeader()->setSectionResizeMode(Running, QHeaderView::ResizeToContents);
    m_list->setItemDelegateForColumn(Text, new BoxedTextDelegate(m_list));
    layout->addWidget(m_list);

    auto *row = new QHBoxLayout;
    connect(button(this, row, "neu", QStringLiteral("&Neu…")), &QPushButton::clicked, this,
            &CommandsWindow::addCommand);
    connect(button(this, row, "bearbeiten", QStringLiteral("&Bearbeiten…")), &QPushButton::clicked,
            this, &CommandsWindow::editCommand);
    connect(button(this, row, "hoch", QStringLiteral("Nach &oben")), &QPushButton::clicked, this,
            [this] { moveCommand(-1); });
    connect(button(this, row, "runter", QStringLiteral("Nach &unten")), &QPushButton::clicked, this,
            [this] { moveCommand(1); });
    connect(button(this, row, "loeschen", QStringLiteral("&Löschen")), &QPushButton::clicked, this,
            &CommandsWindow::deleteCommand);
    row->addStretch();
    connect(button(this, row, "senden", QStringLiteral("&Senden")), &QPushButton::clicked, this,
            &CommandsWindow::sendCommand);
    connect(button(this, row, "stopp", QStringLiteral("S&topp")), &QPushButton::clicked, this,
            [this] { m_desk.stopAll(); });
    layout->addLayout(row);
    auto *files = new QHBoxLayout;
    connect(button(this, files, "antworten", QStringLiteral("&Antworten…")), &QPushButton::clicked,
            this, &CommandsWindow::editReplies);
    files->addStretch();
    connect(button(this, files, "importieren", QStringLiteral("&Importieren…")),
            &QPushButton::clicked, this, &CommandsWindow::importFile);
    connect(button(this, files, "exportieren", QStringLiteral("&Exportieren…")),
            &QPushButton::clicked, this, &CommandsWindow::exportFile);
    layout->addLayout(files);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    layout->addWidget(m_status);

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] { m_desk.stopAll(); });
    connect(m_list, &QTableWidget::cellDoubleClicked, this, &CommandsWindow::sendCommand);
    connect(m_list, &QTableWidget::itemSelectionChanged, this, &CommandsWindow::buttonsFollow);
    connect(&m_desk, &CommandDesk::bookReplaced, this, &CommandsWindow::fill);
    connect(&m_desk, &CommandDesk::runsChanged, this, &CommandsWindow::showRuns);
    connect(&m_desk, &CommandDesk::notice, this, &CommandsWindow::tell);
    fill();
    tell(m_desk.fileRefusal());
}

CommandsWindow::~CommandsWindow() = default;

void CommandsWindow::setPortNumber(int number)
{
    setWindowTitle(number > 0 ? QStringLiteral("Befehle – Com %1").arg(number)
                              : QStringLiteral("Befehle"));
}

void CommandsWindow::showAndRaise()
{
    // Beside the main window and within the screen the first time, as the
    // history opens.
    showBesideMainWindow(this);
    m_list->setFocus(Qt::OtherFocusReason);
}

QString CommandsWindow::status() const
{
    return m_status->text();
}

void CommandsWindow::tell(const QString &text)
{
    m_status->setText(text);
}

int CommandsWindow::current() const
{
    return m_list->currentRow();
}

void CommandsWindow::select(int row)
{
    m_list->setCurrentCell(row, Name);
}

void CommandsWindow::fill()
{
    const int keep = current();
    const CommandBook &book = m_desk.book();
    m_list->setRowCount(int(book.size()));
    for (int r = 0; r < book.size(); ++r) {
        const SavedCommand &c = book.at(r);
        const QString text =
            c.isSequence() ? (c.steps.size() == 1
                                  ? QStringLiteral("Folge mit einem Schritt")
                                  : QStringLiteral("Folge mit %1 Schritten").arg(c.steps.size()))
                           : c.text;
        const QStringList cells{c.name, text, keyName(c.key), terminatorCaption(c.terminator),
                                m_desk.runner().stateOf(c.name)};
        for (int column = 0; column < Columns; ++column)
            m_list->setItem(r, column, new QTableWidgetItem(cells.at(column)));
    }
    if (keep >= 0 && keep < m_list->rowCount())
        select(keep);
    buttonsFollow();
}

void CommandsWindow::showRuns()
{
    const CommandBook &book = m_desk.book();
    for (int r = 0; r < book.size() && r < m_list->rowCount(); ++r)
        m_list->item(r, Running)->setText(m_desk.runner().stateOf(book.at(r).name));
    buttonsFollow();
}

void CommandsWindow::buttonsFollow()
{
    const bool one = current() >= 0;
    for (const char *name : {"bearbeiten", "hoch", "runter", "loeschen", "senden"})
        findChild<QPushButton *>(QLatin1String(name))->setEnabled(one);
    findChild<QPushButton *>(QStringLiteral("stopp"))->setEnabled(m_desk.anyRunning());
}

void CommandsWindow::addCommand()
{
    SavedCommand proposal;
    proposal.key = m_desk.book().firstFreeKey();
    if (askAndPut(m_desk, m_questions, m_reporter, this, proposal, -1, true))
        select(int(m_desk.book().size()) - 1);
}

void CommandsWindow::editCommand()
{
    const int row = current();
    if (row < 0)
        return;
    const QString name = m_desk.book().at(row).name;
    if (askAndPut(m_desk, m_questions, m_reporter, this, m_desk.book().at(row), row, true) &&
        name != m_desk.book().at(row).name)
        m_desk.runner().stop(name);
}

void CommandsWindow::moveCommand(int by)
{
    const int row = current();
    if (row < 0 || row + by < 0 || row + by >= m_desk.book().size())
        return;
    m_desk.store().book().move(row, row + by);
    select(row + by);
    m_reporter.run([this] { m_desk.bookChanged(); });
}

void CommandsWindow::deleteCommand()
{
    const int row = current();
    if (row < 0)
        return;
    const QString name = m_desk.book().at(row).name;
    if (!m_questions.askYes(this, QStringLiteral("Den Befehl „%1“ löschen?").arg(name)))
        return;
    m_desk.runner().stop(name);
    m_desk.store().book().remove(row);
    m_reporter.run([this] { m_desk.bookChanged(); });
}

void CommandsWindow::sendCommand()
{
    const int row = current();
    if (row < 0)
        return;
    const SavedCommand &c = m_desk.book().at(row);
    const QString why = m_desk.run(c);
    if (!why.isEmpty())
        tell(QStringLiteral("„%1“ nicht gesendet: %2").arg(c.name, why));
    else if (m_desk.runner().isRunning(c.name))
        tell(QStringLiteral("„%1“ %2.").arg(c.name, m_desk.runner().stateOf(c.name)));
    else
        tell(QStringLiteral("„%1“ gesendet.").arg(c.name));
}

void CommandsWindow::importFile()
{
    const QString file = m_questions.askFile(this, false);
    if (file.isEmpty())
        return;
    if (m_desk.book().size() > 0 &&
        !m_questions.askYes(this, QStringLiteral("Die gespeicherten Befehle und Antworten werden "
                                                 "durch die der Datei ersetzt. Fortfahren?")))
        return;
    m_desk.stopAll();
    QString refusal;
    m_reporter.run([this, &file, &refusal] {
        refusal = m_desk.store().import(file);
        if (refusal.isEmpty())
            m_desk.bookChanged();
    });
    if (!refusal.isEmpty()) {
        tell(refusal);
        m_questions.tell(this, refusal);
    } else {
        tell(commandCount(m_desk.book().size()) + QStringLiteral(" importiert."));
    }
}

void CommandsWindow::exportFile()
{
    const QString file = m_questions.askFile(this, true);
    if (file.isEmpty())
        return;
    m_reporter.run([this, &file] {
        m_desk.store().exportTo(file);
        tell(commandCount(m_desk.book().size()) + QStringLiteral(" exportiert."));
    });
}

void CommandsWindow::editReplies()
{
    CommandQuestions::Replies replies{m_desk.book().replies(), m_desk.book().repliesOn()};
    for (;;) {
        const std::optional<CommandQuestions::Replies> answer =
            m_questions.askReplies(this, replies);
        if (!answer)
            return;
        replies = *answer;
        CommandBook &book = m_desk.store().book();
        if (const Verdict v = book.setReplies(replies.rules); !v.ok()) {
            m_questions.tell(this, v.message);
            continue;
        }
        book.setRepliesOn(replies.on);
        m_reporter.run([this] { m_desk.bookChanged(); });
        return;
    }
}
