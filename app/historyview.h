#pragma once

#include "historyexport.h"
#include "historysearch.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QRawFont>
#include <QTimer>

#include <array>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

// The history's picture: everything received since the start, a row per line
// (or, in hex, per 16 bytes of the received stream), painted from the files
// for the rows in sight only. It follows new lines while the end is in sight
// and holds still when scrolled up; the picture is brought up to date on the
// same 50 ms beat as the main window, and five times a second while new lines
// keep coming.
class HistoryView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    struct Choices {
        bool times = true;
        bool sent = true;
        bool hex = false;
        DecodeOptions decode{Charset::Automatic, true};
        bool operator==(const Choices &) const = default;
    };
    // What is selected: lines [fromLine, toLine] and the received bytes
    // [fromPos, toPos) they hold (in hex, the bytes selected).
    struct Selection {
        qint64 fromLine = 0;
        qint64 toLine = 0;
        qint64 fromPos = 0;
        qint64 toPos = 0;
    };

    explicit HistoryView(std::shared_ptr<const HistoryLog> log, QWidget *parent = nullptr);

    void setChoices(const Choices &choices);
    const Choices &choices() const { return m_choices; }

    // The log grew or lost lines; the picture follows at the next beat.
    void logChanged();
    // Brings the picture up to date now.
    void syncNow();

    bool following() const { return m_following; }
    // Lines that came since the view stopped following.
    qint64 arrivedWhileHeld() const;
    void follow();
    void toStart();

    // Every hit in sight is marked; the current one stronger.
    void setSearch(const SearchPattern &pattern);
    void showHit(const SearchHit &hit);
    // Where the next search starts: the current hit, or the first row in sight.
    SearchHit searchFrom() const;

    bool hasSelection() const;
    std::optional<Selection> selection() const;
    // The selection as shown, rows as lines; empty with a message when it is
    // too large to copy.
    QString selectedText() const;
    void selectAll();
    void copy();

    // The rows in sight as text, as copying them would give.
    QStringList rowsInSight();
    // The width of a column of the monospaced text, in whole pixels.
    int columnWidth() const { return int(m_charWidth); }

Q_SIGNALS:
    // Following, the lines that came meanwhile or the selection changed.
    void stateChanged();
    void message(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    // A place for the selection: text rows a line and a byte in it, hex
    // rows a stream position (line unused).
    struct Place {
        qint64 line = 0;
        qint64 at = 0;
        auto operator<=>(const Place &) const = default;
    };
    // One row in sight.
    struct Row {
        HistoryLine line;
        QByteArray bytes;   // text: the line's bytes; hex: the row's up to 16
        qint64 pos = 0;     // hex: stream position of the row's first column
        qint64 timeOf = -1; // time shown, -1 none
        std::vector<Cell> cells;
        std::vector<qreal> x;                        // text: where each cell starts, and the end
        std::vector<std::pair<qint64, qint64>> hits; // byte ranges in this row's line
        TextStyle styleBefore, styleAfter;           // text: the colours going in and out
        bool revealed = false; // text: hidden sequences with a hit shown as they came
    };

    void prepareFont();
    void planRows();
    void planText(int rows, std::vector<Row> &previous);
    void planHex(int rows);
    void markHits();
    void revealHits(Row &row);
    void updateBars();
    void invalidate();
    int fullRows() const;
    qint64 firstTop() const; // text the first line, hex the first row
    qint64 topOf(const Row &row) const;
    // Hex rows: the digits of the offset, where the hex and the characters begin.
    int offsetDigits() const;
    qreal hexLeft() const;
    qreal charsLeft() const { return hexLeft() + (16 * 3 + 2) * m_charWidth; }
    QString offsetText(qint64 pos) const;
    qreal textLeft() const;
    qreal cellWidth(const Cell &cell);
    qreal charWidth(char32_t c);
    struct Batch;
    int rowTop(size_t row) const;
    quint32 glyphOf(int font, char32_t c);
    void addText(Batch &batch, int font, const QColor &colour, QPointF at, QStringView text);
    void addChar(Batch &batch, int font, const QColor &colour, QPointF at, char32_t c);
    void addLabel(Batch &batch, const QColor &colour, QPointF at, const QString &label);
    void paintTextRow(QPainter &painter, Batch &batch, const Row &row, int top);
    bool composeTextRow(QPainter &painter, const Row &row, int top);
    void paintHexRow(QPainter &painter, Batch &batch, const Row &row, int top);
    QString rowText(const Row &row, qint64 from, qint64 to) const;
    std::optional<Place> placeAt(const QPoint &point);
    void hold();

    std::shared_ptr<const HistoryLog> m_log;
    Choices m_choices;
    mutable TimeText m_times; // only a cache of the local offset

    // What is in sight: text the first line, hex the first row (its stream
    // position / 16); while following, the end.
    qint64 m_top = 0;
    bool m_following = true;
    qint64 m_heldAt = 0; // endLine() when following stopped
    bool m_settingBars = false;
    bool m_changed = false;
    bool m_rowsValid = false;
    std::vector<Row> m_rows;
    // What the rows were planned with; rows planned otherwise are not kept.
    Choices m_plannedChoices;
    qreal m_plannedWidth = 0;
    qreal m_widest = 0;
    QTimer m_frame;

    std::optional<HistorySearch> m_search;
    std::optional<SearchHit> m_current;

    std::optional<Place> m_anchor;
    std::optional<Place> m_cursor;

    // Text is drawn as glyphs of these fonts, placed by the program (the font
    // is monospaced): no text layout per frame. Plain, bold, and the small
    // one of the boxed names.
    QFont m_fonts[3];
    QRawFont m_raw[3];
    std::array<std::array<quint32, 128>, 2> m_ascii{};
    QHash<char32_t, quint32> m_glyphs[2];
    struct Label {
        QList<quint32> glyphs;
        QList<QPointF> places;
        qreal width = 0;
    };
    QHash<QString, Label> m_labels;
    int m_rowOffset = 0; // following, the rows sit on the bottom edge
    qreal m_ascent = 0;
    qreal m_smallBaseline = 0;
    int m_lineHeight = 1;
    qreal m_charWidth = 1; // whole pixels, as every cell's width
    QHash<char32_t, qreal> m_widths;

    // Pictures of cells as they look in a row: a character (or a boxed
    // name) in its colours on its ground, made once and copied into rows.
    struct Look {
        char32_t code = 0;
        QRgb pen = 0;
        QRgb ground = 0;
        int width = 0;
        quint8 font = 0; // 0 plain, 1 bold
        bool boxed = false;
        bool invalid = false;
        bool underline = false;
        bool operator==(const Look &) const = default;
    };
    struct LookHash {
        size_t operator()(const Look &l) const;
    };
    const QImage &cellPicture(const Look &look);
    std::unordered_map<Look, QImage, LookHash> m_pictures; // node-based: references stay
    QImage m_rowPicture;
    int m_pictureRatio = 0;
};
