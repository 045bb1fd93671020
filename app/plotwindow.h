#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>

class CsvWriter;
class PlotCanvas;
class PlotFeed;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// What the plot window asks the operator; tests answer it.
class PlotQuestions
{
public:
    virtual ~PlotQuestions() = default;
    // The file to save into, or an empty text when the operator cancelled.
    virtual QString askFile(QWidget *parent, const QString &title, const QString &filter) = 0;
};

// The plot window "Kurven": how lines are read (format, separator, decimal
// mark, a regular expression), the X axis, pausing, the value range, the
// curves with their legend and the two cursors' values, the counts of
// lines, and saving as CSV, PNG or SVG.
//
// The main window makes it once and shows it with showAndRaise(); closing
// only hides it. It does nothing while hidden or minimised: the feed goes
// on reading every line, and shown again the window draws all of them.
class PlotWindow : public QWidget
{
    Q_OBJECT
public:
    explicit PlotWindow(PlotFeed &feed, PlotQuestions *questions = nullptr,
                        QWidget *parent = nullptr);
    ~PlotWindow() override;

    // "Kurven – Com n", or "Kurven" for 0 (no port open).
    void setPortNumber(int number);
    void showAndRaise();

    PlotCanvas *canvas() const { return m_canvas; }
    // Brings the counts, the legend and the picture up to date now instead
    // of at the next beat.
    void syncNow();
    // Whether the beat runs (only while the window is in sight).
    bool beating() const { return m_beat.isActive(); }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void choiceChanged();
    void beat();
    void showCounts();
    void showSettled();
    void showLegend();
    void showRange();
    void updateBeat();
    void saveCsv(bool inSight);
    void saveCsvStep();
    void savePicture(bool svg);
    void showStatus(const QString &text, bool failure = false);

    PlotFeed &m_feed;
    std::unique_ptr<PlotQuestions> m_ownQuestions;
    PlotQuestions &m_questions;
    PlotCanvas *m_canvas = nullptr;
    QComboBox *m_format = nullptr;
    QComboBox *m_separator = nullptr;
    QComboBox *m_mark = nullptr;
    QLineEdit *m_pattern = nullptr;
    QLabel *m_patternLabel = nullptr;
    QLabel *m_settled = nullptr;
    QLabel *m_patternError = nullptr;
    QComboBox *m_axis = nullptr;
    QPushButton *m_pause = nullptr;
    QCheckBox *m_autoscale = nullptr;
    QLineEdit *m_yFrom = nullptr;
    QLineEdit *m_yTo = nullptr;
    QTreeWidget *m_legend = nullptr;
    QLabel *m_counts = nullptr;
    QLabel *m_mouse = nullptr;
    QLabel *m_status = nullptr;
    QTimer m_beat;
    QTimer m_saveStep;
    std::unique_ptr<CsvWriter> m_csv;
    qint64 m_shownRows = -1;
    int m_legendSeries = 0;
    bool m_reading = false;
};
