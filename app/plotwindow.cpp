#include "plotwindow.h"

#include "artwork.h"
#include "csvwriter.h"
#include "plotcanvas.h"
#include "plotfeed.h"
#include "windowplacement.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QSvgGenerator>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>

namespace
{

class QtPlotQuestions : public PlotQuestions
{
public:
    QString askFile(QWidget *parent, const QString &title, const QString &filter) override
    {
        return QFileDialog::getSaveFileName(parent, title, QString(), filter);
    }
};

template <class W> W *named(W *w, const char *name)
{
    w->setObjectName(QLatin1String(name));
    return w;
}

// Rows written between two turns of the event loop while a CSV file is saved.
constexpr qint64 RowsPerStep = 20000;

QString german(qint64 n)
{
    return QLocale(QLocale::German).toString(n);
}

// A value typed by the operator, with a decimal comma or point.
std::optional<double> typedValue(QString text)
{
    text = text.trimmed().replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok && std::isfinite(v) ? std::optional(v) : std::nullopt;
}

QIcon swatch(int series)
{
    QPixmap pixmap(24, 12);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QPen(PlotCanvas::colour(series), 2, PlotCanvas::dash(series)));
    painter.drawLine(1, 6, 23, 6);
    return QIcon(pixmap);
}

} // namespace

PlotWindow::PlotWindow(PlotFeed &feed, PlotQuestions *questions, QWidget *parent)
    : QWidget(parent, Qt::Window), m_feed(feed),
      m_ownQuestions(questions ? nullptr : new QtPlotQuestions),
      m_questions(questions ? *questions : *m_ownQuestions)
{
    setObjectName(QStringLiteral("Kurven"));
    setWindowIcon(kavroIcon());
    setPortNumber(0);
    resize(980, 560);
    buildControls();

    // Four pictures a second while lines come: curves are not read faster,
    // and each costs the width of the window (at 115200 baud, five a second
    // took the window past 2.5 % of a core).
    m_beat.setInterval(250);
    m_beat.setTimerType(Qt::CoarseTimer);
    connect(&m_beat, &QTimer::timeout, this, &PlotWindow::beat);
    m_saveStep.setInterval(0);
    connect(&m_saveStep, &QTimer::timeout, this, &PlotWindow::saveCsvStep);
    syncNow();
}

PlotWindow::~PlotWindow()
{
    if (m_csv)
        m_csv->cancel();
}

void PlotWindow::buildControls()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);

    // How lines are read.
    auto *reading = new QHBoxLayout;
    m_format = named(new QComboBox, "Format");
    m_format->addItems(PlotFeed::formatNames());
    m_separator = named(new QComboBox, "Trennzeichen");
    m_separator->addItems(PlotFeed::separatorNames());
    m_mark = named(new QComboBox, "Dezimalzeichen");
    m_mark->addItems(PlotFeed::markNames());
    m_pattern = named(new QLineEdit, "Ausdruck");
    m_pattern->setPlaceholderText(QStringLiteral("Messwert (?<n>\\d+): (?<U>[\\d,]+) V"));
    m_pattern->setToolTip(QStringLiteral("Regulärer Ausdruck mit benannten Gruppen, eine je Kurve; "
                                         "gilt für diese Portnummer"));
    m_settled = named(new QLabel, "Erkannt");
    m_settled->setTextFormat(Qt::PlainText);
    reading->addWidget(new QLabel(QStringLiteral("Format:")));
    reading->addWidget(m_format);
    reading->addWidget(new QLabel(QStringLiteral("Trennzeichen:")));
    reading->addWidget(m_separator);
    reading->addWidget(new QLabel(QStringLiteral("Dezimalzeichen:")));
    reading->addWidget(m_mark);
    m_patternLabel = new QLabel(QStringLiteral("Ausdruck:"));
    reading->addWidget(m_patternLabel);
    reading->addWidget(m_pattern, 2);
    reading->addWidget(m_settled, 1);
    layout->addLayout(reading);

    m_patternError = named(new QLabel, "Ausdrucksfehler");
    m_patternError->setTextFormat(Qt::PlainText);
    m_patternError->setStyleSheet(QStringLiteral("color: #b00000;"));
    m_patternError->hide();
    layout->addWidget(m_patternError);

    // How the curves are shown.
    auto *view = new QHBoxLayout;
    m_axis = named(new QComboBox, "XAchse");
    m_axis->addItems({QStringLiteral("Zeit"), QStringLiteral("Zeilennummer")});
    m_pause = named(new QPushButton(QStringLiteral("Anhalten")), "Anhalten");
    m_pause->setCheckable(true);
    m_pause->setToolTip(QStringLiteral("Das Bild hält still; Zeilen kommen weiter an und werden "
                                       "gezählt (Leertaste)"));
    m_autoscale = named(new QCheckBox(QStringLiteral("Y automatisch")), "YAutomatisch");
    m_autoscale->setChecked(true);
    m_yFrom = named(new QLineEdit, "YVon");
    m_yTo = named(new QLineEdit, "YBis");
    for (QLineEdit *e : {m_yFrom, m_yTo})
        e->setMaximumWidth(90);
    auto *all = named(new QPushButton(QStringLiteral("Alles zeigen")), "AllesZeigen");
    all->setToolTip(QStringLiteral("Alle Punkte seit dem Start, dem Neuesten folgend (Pos1)"));
    auto *save = named(new QToolButton, "Speichern");
    save->setText(QStringLiteral("Speichern unter…"));
    save->setPopupMode(QToolButton::InstantPopup);
    auto *saveMenu = new QMenu(save);
    save->setMenu(saveMenu);
    saveMenu->addAction(QStringLiteral("Alles als CSV…"), this, [this] { saveCsv(false); });
    saveMenu->addAction(QStringLiteral("Sichtbereich als CSV…"), this, [this] { saveCsv(true); });
    saveMenu->addAction(QStringLiteral("Bild als PNG…"), this, [this] { savePicture(false); });
    saveMenu->addAction(QStringLiteral("Bild als SVG…"), this, [this] { savePicture(true); });
    view->addWidget(new QLabel(QStringLiteral("X-Achse:")));
    view->addWidget(m_axis);
    view->addWidget(m_pause);
    view->addSpacing(8);
    view->addWidget(m_autoscale);
    view->addWidget(new QLabel(QStringLiteral("von")));
    view->addWidget(m_yFrom);
    view->addWidget(new QLabel(QStringLiteral("bis")));
    view->addWidget(m_yTo);
    view->addWidget(all);
    view->addStretch(1);
    view->addWidget(save);
    layout->addLayout(view);

    auto *splitter = new QSplitter;
    m_canvas = named(new PlotCanvas(m_feed.store()), "Kurvenbild");
    m_legend = named(new QTreeWidget, "Legende");
    m_legend->setRootIsDecorated(false);
    m_legend->setHeaderLabels({QStringLiteral("Kurve"), QStringLiteral("Cursor 1"),
                               QStringLiteral("Cursor 2"), QStringLiteral("Δ")});
    m_legend->setToolTip(QStringLiteral("Häkchen: Kurve zeigen. Cursor mit 1 und 2 über dem Bild "
                                        "setzen, Esc entfernt sie."));
    m_legend->header()->setStretchLastSection(false);
    splitter->addWidget(m_canvas);
    splitter->addWidget(m_legend);
    splitter->setStretchFactor(0, 1);
    splitter->setSizes({700, 260});
    layout->addWidget(splitter, 1);

    auto *status = new QHBoxLayout;
    m_counts = named(new QLabel, "Zaehler");
    m_mouse = named(new QLabel, "Maus");
    m_status = named(new QLabel, "Status");
    for (QLabel *l : {m_counts, m_mouse, m_status})
        l->setTextFormat(Qt::PlainText);
    // Texts that change as lines come never make the window wider.
    for (QLabel *l : {m_counts, m_mouse, m_settled})
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status->addWidget(m_counts, 3);
    status->addSpacing(12);
    status->addWidget(m_mouse, 2);
    status->addWidget(m_status);
    layout->addLayout(status);

    // The choices as kept, then their changes.
    m_reading = true;
    const ReadingChoice choice = m_feed.choice();
    m_format->setCurrentIndex(int(choice.format));
    m_separator->setCurrentIndex(int(choice.separator));
    m_mark->setCurrentIndex(int(choice.decimal));
    m_pattern->setText(choice.pattern);
    m_reading = false;
    choiceChanged();
    for (QComboBox *box : {m_format, m_separator, m_mark})
        connect(box, &QComboBox::currentIndexChanged, this, &PlotWindow::choiceChanged);
    connect(m_pattern, &QLineEdit::editingFinished, this, &PlotWindow::choiceChanged);

    connect(m_axis, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_canvas->setAxis(index == 0   ? XAxis::Time
                              : index == 1 ? XAxis::Row
                                           : XAxis::Series,
                              index - 2);
    });
    connect(m_pause, &QPushButton::toggled, this, [this](bool paused) {
        m_canvas->setPaused(paused);
        m_pause->setText(paused ? QStringLiteral("Weiter") : QStringLiteral("Anhalten"));
        showCounts();
    });
    auto *space = new QShortcut(QKeySequence(Qt::Key_Space), m_canvas);
    space->setContext(Qt::WidgetShortcut);
    connect(space, &QShortcut::activated, m_pause, &QPushButton::toggle);
    connect(m_autoscale, &QCheckBox::toggled, this, [this](bool on) {
        m_canvas->setAutoscale(on);
        m_canvas->update();
    });
    auto typedRange = [this] {
        const std::optional<double> from = typedValue(m_yFrom->text());
        const std::optional<double> to = typedValue(m_yTo->text());
        if (from && to && *to > *from)
            m_canvas->setYRange(*from, *to);
        else
            showRange(); // back to what is shown
    };
    connect(m_yFrom, &QLineEdit::editingFinished, this, typedRange);
    connect(m_yTo, &QLineEdit::editingFinished, this, typedRange);
    connect(all, &QPushButton::clicked, m_canvas, &PlotCanvas::showAll);
    connect(m_canvas, &PlotCanvas::hovered, m_mouse, &QLabel::setText);
    connect(m_canvas, &PlotCanvas::viewChanged, this, [this] {
        {
            const QSignalBlocker block(m_autoscale);
            m_autoscale->setChecked(m_canvas->autoscale());
        }
        showRange();
        showLegend();
    });
    connect(m_legend, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *item, int column) {
        if (column == 0)
            m_canvas->setHidden(m_legend->indexOfTopLevelItem(item),
                                item->checkState(0) != Qt::Checked);
    });
}

void PlotWindow::setPortNumber(int number)
{
    setWindowTitle(number > 0 ? QStringLiteral("Kurven – Com %1").arg(number)
                              : QStringLiteral("Kurven"));
    // The pattern shown is the port number's.
    if (m_pattern && m_pattern->text() != m_feed.choice().pattern) {
        m_reading = true;
        m_pattern->setText(m_feed.choice().pattern);
        m_reading = false;
        choiceChanged();
    }
}

void PlotWindow::showAndRaise()
{
    // Beside the main window and within the screen the first time, as the
    // history opens.
    showBesideMainWindow(this);
}

void PlotWindow::choiceChanged()
{
    if (m_reading)
        return;
    ReadingChoice choice;
    choice.format = ReadingFormat(m_format->currentIndex());
    choice.separator = Separator(m_separator->currentIndex());
    choice.decimal = DecimalMark(m_mark->currentIndex());
    choice.pattern = m_pattern->text();
    const bool pattern = choice.format == ReadingFormat::Pattern;
    m_pattern->setVisible(pattern);
    m_patternLabel->setVisible(pattern);
    m_separator->setEnabled(!pattern);
    m_feed.setChoice(choice);
    const QString error = m_feed.reader().patternError();
    m_patternError->setText(error);
    m_patternError->setVisible(!error.isEmpty());
    showSettled();
}

void PlotWindow::showSettled()
{
    const ReadingChoice choice = m_feed.choice();
    QString text;
    if (!choice.settled() ||
        (choice.decimal == DecimalMark::Automatic && choice.format != ReadingFormat::Pattern)) {
        const std::optional<ReadingChoice> settled = m_feed.reader().settled();
        if (!settled) {
            text = QStringLiteral("Erkannt: noch keine Zeile mit Zahlen");
        } else {
            QStringList parts;
            if (choice.format == ReadingFormat::Automatic)
                parts += PlotFeed::formatNames().value(int(settled->format));
            if (choice.separator == Separator::Automatic)
                parts += PlotFeed::separatorNames().value(int(settled->separator));
            const DecimalMark mark = settled->separator == Separator::Comma
                                         ? DecimalMark::Point
                                         : m_feed.reader().lastMark();
            if (choice.decimal == DecimalMark::Automatic && mark != DecimalMark::Automatic)
                parts += mark == DecimalMark::Comma ? QStringLiteral("Dezimalkomma")
                                                    : QStringLiteral("Dezimalpunkt");
            text = QStringLiteral("Erkannt: ") + parts.join(QStringLiteral(", "));
        }
    }
    if (m_settled->text() != text)
        m_settled->setText(text);
    m_settled->setVisible(!text.isEmpty());
}

void PlotWindow::showCounts()
{
    const LineReader::Counts c = m_feed.reader().counts();
    QString text =
        QStringLiteral("Zeilen: %1 empfangen · %2 gezeichnet · %3 verworfen · %4 "
                       "übersprungen")
            .arg(german(c.received), german(c.plotted), german(c.rejected), german(c.skipped));
    if (c.held)
        text += QStringLiteral(" · 1 wartet auf die nächste");
    if (m_feed.reader().tooManySeries())
        text += QStringLiteral(" · mehr als %1 Kurven: Zeilen mit weiteren Namen verworfen")
                    .arg(german(LineReader::MostSeries));
    if (m_canvas->paused())
        text += QStringLiteral(" · Bild angehalten");
    if (m_counts->text() != text)
        m_counts->setText(text);
}

void PlotWindow::showLegend()
{
    const SeriesStore &store = m_feed.store();
    const QSignalBlocker block(m_legend);
    // Series that came since.
    for (int s = m_legend->topLevelItemCount(); s < store.seriesCount(); ++s) {
        auto *item = new QTreeWidgetItem(m_legend);
        item->setText(0, store.name(s));
        item->setIcon(0, swatch(s));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Checked);
        for (int column = 1; column < 4; ++column)
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        const QSignalBlocker blockAxis(m_axis);
        m_axis->addItem(QStringLiteral("XY: gegen %1").arg(store.name(s)));
    }
    // The cursors' values, and their difference.
    const std::optional<qint64> rows[2] = {m_canvas->cursorRow(0), m_canvas->cursorRow(1)};
    for (int s = 0; s < store.seriesCount(); ++s) {
        QTreeWidgetItem *item = m_legend->topLevelItem(s);
        std::optional<double> v[2];
        for (int k = 0; k < 2; ++k) {
            if (rows[k])
                v[k] = valueAtRow(store, s, *rows[k]);
            const QString text = v[k] ? PlotCanvas::valueText(*v[k]) : QString();
            if (item->text(k + 1) != text)
                item->setText(k + 1, text);
        }
        const QString delta = v[0] && v[1] ? PlotCanvas::valueText(*v[1] - *v[0]) : QString();
        if (item->text(3) != delta)
            item->setText(3, delta);
    }
    QString header[3] = {QStringLiteral("Cursor 1"), QStringLiteral("Cursor 2"),
                         QStringLiteral("Δ")};
    for (int k = 0; k < 2; ++k) {
        if (const std::optional<double> x = m_canvas->cursorAt(k))
            header[k] += QStringLiteral(" (%1)").arg(m_canvas->xText(*x));
    }
    if (m_canvas->cursorAt(0) && m_canvas->cursorAt(1)) {
        const double dx = *m_canvas->cursorAt(1) - *m_canvas->cursorAt(0);
        header[2] += m_canvas->axis() == XAxis::Time
                         ? QStringLiteral(" (%1 s)").arg(PlotCanvas::valueText(dx / 1000))
                         : QStringLiteral(" (%1 Zeilen)").arg(german(qint64(std::round(dx))));
    }
    for (int k = 0; k < 3; ++k) {
        if (m_legend->headerItem()->text(k + 1) != header[k])
            m_legend->headerItem()->setText(k + 1, header[k]);
    }
}

void PlotWindow::showRange()
{
    const auto [from, to] = m_canvas->yRange();
    for (const auto &[edit, v] : {std::pair{m_yFrom, from}, std::pair{m_yTo, to}}) {
        if (!edit->hasFocus())
            edit->setText(PlotCanvas::valueText(v));
    }
}

void PlotWindow::syncNow()
{
    m_shownRows = m_feed.store().rows();
    showCounts();
    showSettled();
    showLegend();
    m_canvas->refresh();
    if (m_canvas->autoscale())
        showRange();
}

void PlotWindow::beat()
{
    updateBeat();
    if (!m_beat.isActive())
        return;
    showCounts();
    if (m_feed.store().rows() == m_shownRows &&
        m_legend->topLevelItemCount() == m_feed.store().seriesCount())
        return;
    m_shownRows = m_feed.store().rows();
    showSettled();
    showLegend();
    m_canvas->refresh();
    // The range autoscaling found, after the frame.
    if (m_canvas->autoscale())
        QTimer::singleShot(0, this, &PlotWindow::showRange);
}

void PlotWindow::updateBeat()
{
    // Nothing is done while the window is out of sight: the feed keeps
    // every line, and the next picture shows them all.
    const bool inSight = isVisible() && !isMinimized();
    if (inSight && !m_beat.isActive()) {
        m_beat.start();
        syncNow();
    } else if (!inSight) {
        m_beat.stop();
    }
}

void PlotWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateBeat();
}

void PlotWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateBeat();
}

void PlotWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        updateBeat();
}

void PlotWindow::closeEvent(QCloseEvent *event)
{
    // Only hidden: a save goes on.
    event->accept();
}

void PlotWindow::showStatus(const QString &text, bool failure)
{
    m_status->setText(text);
    m_status->setStyleSheet(failure ? QStringLiteral("color: #b00000;") : QString());
}

void PlotWindow::saveCsv(bool inSight)
{
    if (m_csv)
        return showStatus(QStringLiteral("Es wird noch gespeichert; ein weiteres Speichern erst "
                                         "danach."));
    QString path = m_questions.askFile(this, QStringLiteral("Kurven speichern"),
                                       QStringLiteral("CSV-Dateien (*.csv);;Alle Dateien (*)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    const SeriesStore &store = m_feed.store();
    const auto [from, to] =
        inSight ? m_canvas->rowsInSight() : std::pair<qint64, qint64>(0, store.rows());
    std::vector<int> series;
    for (int s = 0; s < store.seriesCount(); ++s) {
        if (!m_canvas->isHidden(s))
            series.push_back(s);
    }
    m_csv = std::make_unique<CsvWriter>(store, from, to, std::move(series));
    if (const QString error = m_csv->open(path); !error.isEmpty()) {
        m_csv.reset();
        return showStatus(error, true);
    }
    showStatus(QStringLiteral("Speichert …"));
    m_saveStep.start();
}

void PlotWindow::saveCsvStep()
{
    if (m_csv->step(RowsPerStep)) {
        showStatus(QStringLiteral("Speichert … %1 %").arg(int(m_csv->progress() * 100)));
        return;
    }
    m_saveStep.stop();
    const QString error = m_csv->finish();
    if (!error.isEmpty()) {
        showStatus(error, true);
    } else {
        QString text = QStringLiteral("Gespeichert: %1 Zeilen.").arg(german(m_csv->written()));
        if (m_csv->foldedValues() > 0)
            text += QStringLiteral(" %1 ältere Werte sind nur noch zusammengefasst und fehlen "
                                   "darin.")
                        .arg(german(m_csv->foldedValues()));
        showStatus(text);
    }
    m_csv.reset();
}

void PlotWindow::savePicture(bool svg)
{
    QString path = m_questions.askFile(this, QStringLiteral("Bild speichern"),
                                       svg ? QStringLiteral("SVG-Bilder (*.svg)")
                                           : QStringLiteral("PNG-Bilder (*.png)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += svg ? QStringLiteral(".svg") : QStringLiteral(".png");
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
    if (written) {
        const QRect area(QPoint(), m_canvas->size());
        if (svg) {
            QSvgGenerator generator;
            generator.setOutputDevice(&file);
            generator.setSize(area.size());
            generator.setViewBox(area);
            generator.setTitle(windowTitle());
            QPainter painter(&generator);
            m_canvas->paintPlot(painter, area, true);
        } else {
            QImage image(area.size() * m_canvas->devicePixelRatio(), QImage::Format_RGB32);
            image.setDevicePixelRatio(m_canvas->devicePixelRatio());
            QPainter painter(&image);
            m_canvas->paintPlot(painter, area, true);
            painter.end();
            written = image.save(&file, "PNG");
        }
        written = written && file.commit();
    }
    if (!written)
        return showStatus(QStringLiteral("„%1“ kann nicht geschrieben werden: %2")
                              .arg(QDir::toNativeSeparators(path), file.errorString()),
                          true);
    showStatus(QStringLiteral("Bild gespeichert."));
}
