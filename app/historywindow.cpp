#include "historywindow.h"

#include "artwork.h"
#include "charsets.h"
#include "historystore.h"
#include "kavrosettings.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace
{

class QtHistoryQuestions : public HistoryQuestions
{
public:
    QString askFile(QWidget *parent, const QString &title, const QString &filter) override
    {
        return QFileDialog::getSaveFileName(parent, title, QString(), filter);
    }
    bool askClear(QWidget *parent) override
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
};

template <class W> W *named(W *w, const char *name)
{
    w->setObjectName(QLatin1String(name));
    return w;
}

// The rectangle moved and made smaller as far as needed to lie wholly within
// `available`.
QRect within(QRect r, const QRect &available)
{
    r.setSize(r.size().boundedTo(available.size()));
    r.moveLeft(std::clamp(r.left(), available.left(), available.right() + 1 - r.width()));
    r.moveTop(std::clamp(r.top(), available.top(), available.bottom() + 1 - r.height()));
    return r;
}

QLabel *plainLabel(const QString &text, QWidget *parent = nullptr)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText); // paths and messages come from outside
    return label;
}

} // namespace

HistoryWindow::HistoryWindow(HistoryStore &store, HistoryQuestions *questions, QWidget *parent)
    : QWidget(parent, Qt::Window), m_store(&store), m_log(store.log()),
      m_ownQuestions(questions ? nullptr : new QtHistoryQuestions),
      m_questions(questions ? *questions : *m_ownQuestions), m_jobs(store.log())
{
    setObjectName(QStringLiteral("Verlauf"));
    setWindowIcon(kavroIcon());
    setPortNumber(0);
    resize(900, 560);
    buildControls();
    readChoices();

    connect(&store, &HistoryStore::grown, this, [this] {
        m_view->logChanged();
        if (!m_countBeat.isActive())
            m_countBeat.start();
    });
    connect(&store, &HistoryStore::failedChanged, this, [this] { showState(); });
    // The count of hits follows new lines a few times a second.
    m_countBeat.setInterval(250);
    m_countBeat.setSingleShot(true);
    m_countBeat.setTimerType(Qt::CoarseTimer);
    connect(&m_countBeat, &QTimer::timeout, this, [this] {
        m_jobs.refresh();
        showProgress();
    });
    connect(m_view, &HistoryView::stateChanged, this, [this] { showState(); });
    connect(m_view, &HistoryView::message, this, [this](const QString &text) { showStatus(text); });

    m_searchDelay.setSingleShot(true);
    m_searchDelay.setInterval(250);
    connect(&m_searchDelay, &QTimer::timeout, this, [this] { searchChanged(); });
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] { showProgress(); });
    connect(&m_jobs, &HistoryJobs::countChanged, this, [this] { showProgress(); });
    connect(&m_jobs, &HistoryJobs::found, this,
            [this](bool any, const SearchHit &hit, bool wrapped) {
                showProgress();
                if (!any)
                    return showStatus(QStringLiteral("Nicht gefunden."));
                m_view->showHit(hit);
                if (wrapped)
                    showStatus(m_forward ? QStringLiteral("Ende des Verlaufs erreicht, Suche am "
                                                          "Anfang fortgesetzt.")
                                         : QStringLiteral("Anfang des Verlaufs erreicht, Suche am "
                                                          "Ende fortgesetzt."));
            });
    connect(&m_jobs, &HistoryJobs::saved, this, [this](const QString &error, bool cancelled) {
        showProgress();
        if (cancelled)
            showStatus(QStringLiteral("Speichern abgebrochen."));
        else if (error.isEmpty())
            showStatus(QStringLiteral("Gespeichert."));
        else
            showStatus(error, true);
    });
    showState();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::buildControls()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);

    auto *bar = new QHBoxLayout;
    m_times = named(new QCheckBox(QStringLiteral("Zeit")), "Zeit");
    m_sent = named(new QCheckBox(QStringLiteral("Gesendete")), "Gesendete");
    m_sent->setToolTip(QStringLiteral("Gesendete Befehle zeigen (mit „→“)"));
    m_mode = named(new QComboBox, "Ansicht");
    m_mode->addItems({QStringLiteral("Text"), QStringLiteral("Hex")});
    m_charset = named(new QComboBox, "Zeichensatz");
    m_charset->addItems(charsetNames());
    m_colours = named(new QCheckBox(QStringLiteral("Farben (ANSI)")), "Farben");
    auto *saveButton = named(new QToolButton, "Speichern");
    saveButton->setText(QStringLiteral("Speichern unter…"));
    saveButton->setPopupMode(QToolButton::InstantPopup);
    m_saveMenu = new QMenu(saveButton);
    saveButton->setMenu(m_saveMenu);
    auto *clear = named(new QPushButton(QStringLiteral("Verlauf leeren")), "Leeren");
    bar->addWidget(m_times);
    bar->addWidget(m_sent);
    bar->addSpacing(8);
    bar->addWidget(m_mode);
    bar->addWidget(new QLabel(QStringLiteral("Zeichensatz:")));
    bar->addWidget(m_charset);
    bar->addWidget(m_colours);
    bar->addStretch(1);
    bar->addWidget(saveButton);
    bar->addWidget(clear);
    layout->addLayout(bar);

    m_failure = named(plainLabel(QString()), "Verlaufsfehler");
    m_failure->setWordWrap(true);
    m_failure->setStyleSheet(QStringLiteral("color: #b00000;"));
    m_failure->hide();
    layout->addWidget(m_failure);

    m_view = named(new HistoryView(m_log), "Verlaufsansicht");
    layout->addWidget(m_view, 1);

    m_searchBar = named(new QWidget, "Suchleiste");
    auto *search = new QHBoxLayout(m_searchBar);
    search->setContentsMargins(0, 0, 0, 0);
    m_searchText = named(new QLineEdit, "Suchtext");
    m_searchText->setPlaceholderText(QStringLiteral("Text oder Hex-Bytes (1B 5B 33)"));
    m_searchText->setClearButtonEnabled(true);
    m_searchMode = named(new QComboBox, "Suchart");
    m_searchMode->addItems({QStringLiteral("Text"), QStringLiteral("Hex-Bytes")});
    m_caseSensitive = named(new QCheckBox(QStringLiteral("Groß-/Kleinschreibung")), "GrossKlein");
    auto *previous = named(new QToolButton, "Zurueck");
    previous->setText(QStringLiteral("▲ Zurück"));
    previous->setToolTip(QStringLiteral("Vorheriger Treffer (Umschalt+F3)"));
    auto *next = named(new QToolButton, "Weiter");
    next->setText(QStringLiteral("▼ Weiter"));
    next->setToolTip(QStringLiteral("Nächster Treffer (F3, Eingabetaste)"));
    m_hits = named(plainLabel(QString()), "Treffer");
    auto *close = new QToolButton;
    close->setText(QStringLiteral("✕"));
    close->setToolTip(QStringLiteral("Suche schließen (Esc)"));
    search->addWidget(new QLabel(QStringLiteral("Suchen:")));
    search->addWidget(m_searchText, 1);
    search->addWidget(m_searchMode);
    search->addWidget(m_caseSensitive);
    search->addWidget(previous);
    search->addWidget(next);
    search->addWidget(m_hits);
    search->addWidget(close);
    m_searchBar->hide();
    layout->addWidget(m_searchBar);

    auto *statusRow = new QHBoxLayout;
    m_status = named(plainLabel(QString()), "Status");
    m_progress = named(new QProgressBar, "Fortschritt");
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setMaximumWidth(160);
    m_progress->hide();
    m_cancel = named(new QPushButton(QStringLiteral("Abbrechen")), "Abbrechen");
    m_cancel->hide();
    statusRow->addWidget(m_status, 1);
    statusRow->addWidget(m_progress);
    statusRow->addWidget(m_cancel);
    layout->addLayout(statusRow);

    // Choices.
    for (QCheckBox *box : {m_times, m_sent, m_colours})
        connect(box, &QCheckBox::toggled, this, [this] { choicesChanged(); });
    for (QComboBox *box : {m_mode, m_charset})
        connect(box, &QComboBox::currentIndexChanged, this, [this] { choicesChanged(); });

    // Saving and clearing.
    auto addSave = [this](const QString &text, bool exact, bool selection) {
        QAction *a =
            m_saveMenu->addAction(text, this, [this, exact, selection] { save(exact, selection); });
        a->setProperty("selection", selection);
    };
    addSave(QStringLiteral("Alles als exakte Bytes…"), true, false);
    addSave(QStringLiteral("Alles als Text mit Zeiten…"), false, false);
    addSave(QStringLiteral("Auswahl als exakte Bytes…"), true, true);
    addSave(QStringLiteral("Auswahl als Text mit Zeiten…"), false, true);
    connect(m_saveMenu, &QMenu::aboutToShow, this, [this] {
        for (QAction *a : m_saveMenu->actions()) {
            if (a->property("selection").toBool())
                a->setEnabled(m_view->hasSelection());
        }
    });
    connect(clear, &QPushButton::clicked, this, &HistoryWindow::clearHistory);

    // The view's context menu and the window's keys.
    auto *copy = new QAction(QStringLiteral("Kopieren"), m_view);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, m_view, &HistoryView::copy);
    auto *all = new QAction(QStringLiteral("Alles auswählen"), m_view);
    all->setShortcut(QKeySequence::SelectAll);
    all->setShortcutContext(Qt::WidgetShortcut);
    connect(all, &QAction::triggered, m_view, &HistoryView::selectAll);
    auto *find = new QAction(QStringLiteral("Suchen…"), this);
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, &HistoryWindow::openSearch);
    addAction(find);
    auto *saveAction = new QAction(QStringLiteral("Speichern unter"), m_view);
    saveAction->setMenu(m_saveMenu);
    auto *toEnd = new QAction(QStringLiteral("Ans Ende (folgen)"), m_view);
    toEnd->setShortcut(Qt::Key_End);
    toEnd->setShortcutContext(Qt::WidgetShortcut);
    connect(toEnd, &QAction::triggered, m_view, &HistoryView::follow);
    auto *separator = new QAction(m_view);
    separator->setSeparator(true);
    m_view->addActions({copy, all, separator, find, saveAction, toEnd});
    m_view->setContextMenuPolicy(Qt::ActionsContextMenu);

    auto *f3 = new QShortcut(QKeySequence(Qt::Key_F3), this);
    connect(f3, &QShortcut::activated, this, [this] { findNext(true); });
    auto *shiftF3 = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this);
    connect(shiftF3, &QShortcut::activated, this, [this] { findNext(false); });
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_searchBar);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, [this] {
        m_searchBar->hide();
        m_view->setFocus();
    });
    connect(close, &QToolButton::clicked, this, [this] {
        m_searchBar->hide();
        m_view->setFocus();
    });

    // Searching.
    connect(m_searchText, &QLineEdit::textChanged, this, [this] { m_searchDelay.start(); });
    connect(m_searchText, &QLineEdit::returnPressed, this, [this] {
        if (m_searchDelay.isActive()) {
            m_searchDelay.stop();
            searchChanged();
        }
        findNext(true);
    });
    auto searchChoice = [this] {
        writeChoices();
        searchChanged();
    };
    connect(m_searchMode, &QComboBox::currentIndexChanged, this, searchChoice);
    connect(m_caseSensitive, &QCheckBox::toggled, this, searchChoice);
    connect(previous, &QToolButton::clicked, this, [this] { findNext(false); });
    connect(next, &QToolButton::clicked, this, [this] { findNext(true); });
    // The button stops what the bar shows: a save first (it says when it
    // has stopped), else the search.
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_jobs.saving())
            return m_jobs.cancelSave();
        const bool counting = m_jobs.counting();
        m_jobs.stopFinding();
        if (counting)
            m_jobs.stopCounting();
        showProgress();
        showStatus(QStringLiteral("Abgebrochen."));
    });
}

void HistoryWindow::setPortNumber(int number)
{
    setWindowTitle(number > 0 ? QStringLiteral("Verlauf – Com %1").arg(number)
                              : QStringLiteral("Verlauf"));
}

void HistoryWindow::showAndRaise()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void HistoryWindow::readChoices()
{
    const KavroSettings settings;
    const KavroSettings::HistoryChoices chosen = settings.historyChoices();
    m_reading = true;
    m_times->setChecked(chosen.times);
    m_sent->setChecked(chosen.sent);
    m_mode->setCurrentIndex(chosen.hex ? 1 : 0);
    m_charset->setCurrentText(charsetName(chosen.charset));
    m_colours->setChecked(chosen.colours);
    m_searchMode->setCurrentIndex(chosen.searchHex ? 1 : 0);
    m_caseSensitive->setChecked(chosen.caseSensitive);
    const QByteArray geometry = settings.historyGeometry();
    m_remembered = !geometry.isEmpty() && restoreGeometry(geometry);
    m_reading = false;
    choicesChanged();
}

void HistoryWindow::writeChoices() const
{
    if (m_reading)
        return;
    KavroSettings().setHistoryChoices(
        {.times = m_times->isChecked(),
         .sent = m_sent->isChecked(),
         .hex = m_mode->currentIndex() == 1,
         .charset = charsetNamed(m_charset->currentText(), Charset::Automatic),
         .colours = m_colours->isChecked(),
         .searchHex = m_searchMode->currentIndex() == 1,
         .caseSensitive = m_caseSensitive->isChecked()});
}

void HistoryWindow::closeEvent(QCloseEvent *event)
{
    KavroSettings().setHistoryGeometry(saveGeometry());
    // The window only hides: a save goes on, a search for a hit nobody
    // will see ends.
    m_jobs.stopFinding();
    showProgress();
    event->accept();
}

void HistoryWindow::showEvent(QShowEvent *event)
{
    // Before the window is handed to the screen, so it opens where it stays.
    if (!m_placed && !event->spontaneous()) {
        m_placed = true;
        placeOnScreen();
    }
    QWidget::showEvent(event);
}

QRect HistoryWindow::placement(const QRect &main, const QSize &frame, const QRect &available)
{
    QRect r(QPoint(), frame);
    if (main.isNull()) {
        r.moveCenter(available.center());
    } else if (main.right() + frame.width() <= available.right()) {
        r.moveTopLeft(QPoint(main.right() + 1, main.top()));
    } else if (main.left() - frame.width() >= available.left()) {
        r.moveTopRight(QPoint(main.left() - 1, main.top()));
    } else {
        r.moveCenter(main.center());
        r.moveTop(main.top());
    }
    return within(r, available);
}

void HistoryWindow::placeOnScreen()
{
    QWidget *main = parentWidget() ? parentWidget()->window() : nullptr;
    // The window manager's frame is mostly not known before the window is
    // shown; the main window's is the best guess for it then.
    const QMargins margins = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    const QSize decoration = !margins.isNull() ? QSize(margins.left() + margins.right(),
                                                       margins.top() + margins.bottom())
                             : main            ? main->frameGeometry().size() - main->size()
                                               : QSize(0, 0);
    const QRect frame(frameGeometry().topLeft(), size() + decoration);
    QRect target;
    if (m_remembered) {
        // Where the operator left it, on the screen that shows most of it;
        // off every screen, it opens as it did the first time.
        qint64 most = 0;
        for (const QScreen *screen : QGuiApplication::screens()) {
            const QRect common = screen->availableGeometry() & frame;
            const qint64 area = qint64(common.width()) * common.height();
            if (!common.isEmpty() && area > most) {
                most = area;
                target = within(frame, screen->availableGeometry());
            }
        }
    }
    if (target.isNull()) {
        const QScreen *screen = main ? main->screen() : this->screen();
        target = placement(main ? main->frameGeometry() : QRect(), frame.size(),
                           screen->availableGeometry());
    }
    resize(target.size() - decoration);
    move(target.topLeft());
}

void HistoryWindow::choicesChanged()
{
    if (m_reading)
        return;
    HistoryView::Choices choices;
    choices.times = m_times->isChecked();
    choices.sent = m_sent->isChecked();
    choices.hex = m_mode->currentIndex() == 1;
    choices.decode.charset = charsetNamed(m_charset->currentText(), Charset::Automatic);
    choices.decode.colours = m_colours->isChecked();
    m_view->setChoices(choices);
    writeChoices();
    searchChanged();
}

void HistoryWindow::openSearch()
{
    m_searchBar->show();
    m_searchText->setFocus();
    m_searchText->selectAll();
}

void HistoryWindow::searchChanged()
{
    SearchPattern pattern;
    pattern.mode = m_searchMode->currentIndex() == 1 ? SearchPattern::Hex : SearchPattern::Text;
    pattern.caseSensitive = m_caseSensitive->isChecked();
    pattern.decode = m_view->choices().decode;
    pattern.sentLines = m_view->choices().sent;
    const QString text = m_searchText->text();
    bool invalid = false;
    if (pattern.mode == SearchPattern::Hex) {
        const std::optional<QByteArray> bytes = SearchPattern::hexBytes(text);
        invalid = !bytes && !text.trimmed().isEmpty();
        pattern.bytes = bytes.value_or(QByteArray());
    } else {
        pattern.text = text.left(256);
    }
    if (!(pattern == m_jobs.pattern()) || m_jobs.pattern().isEmpty()) {
        m_jobs.setPattern(pattern);
        m_view->setSearch(pattern);
    }
    if (invalid)
        m_hits->setText(QStringLiteral("Keine Hex-Bytes"));
    showProgress();
}

void HistoryWindow::findNext(bool forward)
{
    if (!m_searchBar->isVisible())
        openSearch();
    // After "Abbrechen" the search starts again.
    if (m_searchDelay.isActive() || m_jobs.pattern().isEmpty()) {
        m_searchDelay.stop();
        searchChanged();
    }
    if (m_jobs.pattern().isEmpty())
        return;
    showStatus(QString());
    m_forward = forward;
    m_jobs.find(m_view->searchFrom(), forward);
    showProgress();
}

void HistoryWindow::save(bool exactBytes, bool selectionOnly)
{
    const std::optional<HistoryView::Selection> selection = m_view->selection();
    if (selectionOnly && !selection)
        return;
    // One save at a time: the one running is what the operator asked for
    // first, and is not given up for the next.
    if (m_jobs.saving())
        return showStatus(QStringLiteral("Es wird noch „%1“ gespeichert; ein weiteres Speichern "
                                         "erst danach (oder nach „Abbrechen“).")
                              .arg(QFileInfo(m_jobs.savingTo()).fileName()));
    const QString path =
        m_questions.askFile(this, QStringLiteral("Verlauf speichern"),
                            exactBytes ? QStringLiteral("Alle Dateien (*)")
                                       : QStringLiteral("Textdateien (*.txt);;Alle Dateien (*)"));
    if (path.isEmpty())
        return;
    if (exactBytes) {
        qint64 from = m_log->receivedBegin(), to = m_log->receivedEnd();
        if (selectionOnly) {
            from = selection->fromPos;
            to = selection->toPos;
        }
        m_jobs.saveBytes(from, to, path);
    } else {
        qint64 from = m_log->beginLine(), to = m_log->endLine();
        if (selectionOnly) {
            from = selection->fromLine;
            to = selection->toLine + 1;
        }
        m_jobs.saveText(from, to, m_view->choices().decode, m_view->choices().sent, path);
    }
    showStatus(QString()); // "Speichert …" while it runs
    showProgress();
}

void HistoryWindow::clearHistory()
{
    // What is being saved is read from the history.
    if (m_jobs.saving())
        return showStatus(QStringLiteral("Der Verlauf wird gerade gespeichert; leeren erst danach "
                                         "(oder nach „Abbrechen“)."));
    if (!m_questions.askClear(this))
        return;
    if (m_store)
        m_store->clear();
    m_view->follow();
    m_jobs.setPattern(m_jobs.pattern());
    showStatus(QString());
}

void HistoryWindow::showStatus(const QString &text, bool failure)
{
    m_note = text;
    m_noteIsFailure = failure;
    showState();
}

void HistoryWindow::showState()
{
    const bool failed = m_store && m_store->failed();
    if (failed)
        m_failure->setText(QStringLiteral("Der Verlauf wird nicht weiter geschrieben: %1. Empfang "
                                          "und Aufzeichnung laufen weiter.")
                               .arg(m_store->failure()));
    m_failure->setVisible(failed);

    QString text;
    if (m_view->following()) {
        text = QStringLiteral("Folgt dem Empfang.");
    } else {
        const qint64 arrived = m_view->arrivedWhileHeld();
        text = arrived == 1 ? QStringLiteral("Angehalten: 1 neue Zeile (Ende: wieder folgen).")
                            : QStringLiteral("Angehalten: %1 neue Zeilen (Ende: wieder folgen).")
                                  .arg(QLocale(QLocale::German).toString(arrived));
    }
    if (m_jobs.saving())
        text += QStringLiteral("  Speichert …");
    if (!m_note.isEmpty())
        text += QStringLiteral("  ") + m_note;
    // Called with every frame: the label changes only when its text does.
    if (m_status->text() != text)
        m_status->setText(text);
    const QString look = m_noteIsFailure ? QStringLiteral("color: #b00000;") : QString();
    if (m_status->styleSheet() != look)
        m_status->setStyleSheet(look);
}

void HistoryWindow::showProgress()
{
    // A save's progress first: it is what "Abbrechen" stops then.
    const bool saving = m_jobs.saving();
    const bool working = saving || m_jobs.finding() || m_jobs.counting();
    m_progress->setVisible(working);
    m_cancel->setVisible(working);
    if (working) {
        m_progress->setValue(int((saving             ? m_jobs.saveProgress()
                                  : m_jobs.finding() ? m_jobs.findProgress()
                                                     : m_jobs.countProgress()) *
                                 1000));
        m_cancel->setToolTip(saving ? QStringLiteral("Speichern abbrechen")
                                    : QStringLiteral("Suche abbrechen"));
        if (!m_progressTimer.isActive())
            m_progressTimer.start();
    } else {
        m_progressTimer.stop();
    }
    showState(); // "Speichert …" comes and goes with the save
    if (m_jobs.pattern().isEmpty()) {
        if (m_hits->text() != QStringLiteral("Keine Hex-Bytes") || m_searchText->text().isEmpty())
            m_hits->clear();
        return;
    }
    const QLocale german(QLocale::German);
    const qint64 hits = m_jobs.hits();
    const qint64 current = m_jobs.currentIndex();
    if (m_jobs.counting())
        m_hits->setText(QStringLiteral("%1 Treffer bisher (%2 %)")
                            .arg(german.toString(hits))
                            .arg(int(m_jobs.countProgress() * 100)));
    else if (current > 0 && current <= hits)
        m_hits->setText(QStringLiteral("Treffer %1 von %2")
                            .arg(german.toString(current), german.toString(hits)));
    else
        m_hits->setText(QStringLiteral("%1 Treffer").arg(german.toString(hits)));
}
