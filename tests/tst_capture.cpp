#include "capture.h"
#include "qtcommondialog.h"
#include "errorreporter.h"
#include "fakes.h"
#include "form.h"
#include "kavrowindow.h"
#include "receiveview.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

// Makes a file or folder immutable, so that even root may not delete it or
// create files in it. Returns false where the file system has no such flag.
bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void start_data();
    void start();
    void fileThatMayNotBeDeleted();
    void folderWhereNoFileMayBeCreated();
    void onlyPlainFilesAreDeleted();
    void dialogIsSetUpAndKeepsTheName();
    void failedWriteStopsOnceAndKeepsTheView();
    void activityBar();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    void startOn(const QString &file);

    QTemporaryDir *dir = nullptr;
    FakePort *port = nullptr;
    FakeBoxes boxes;
    FakeDialog dialog;
    KavroWindow *window = nullptr;
    Form *f = nullptr;
};

void TestCapture::init()
{
    dir = new QTemporaryDir;
    QVERIFY(dir->isValid());
    boxes = FakeBoxes();
    dialog = FakeDialog();
    port = new FakePort;
    window = new KavroWindow(port, &boxes, &dialog);
    port->setParent(window);
    f = &window->form();
    f->Verbind->click(); // the port is open in every case here
}

void TestCapture::cleanup()
{
    delete window;
    window = nullptr;
    delete dir;
    dir = nullptr;
}

void TestCapture::startOn(const QString &file)
{
    dialog.choices = {file};
    f->StartRec->click();
    QCOMPARE(f->RecActive, qint16(-1));
}

void TestCapture::start_data()
{
    QTest::addColumn<int>("existing"); // 0 none, 1 with content, 2 empty
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("started");

    QTest::newRow("new file, no question") << 0 << false << 6 << false << true;
    QTest::newRow("existing file, Yes") << 1 << false << 6 << true << true;
    QTest::newRow("existing file, No") << 1 << false << 7 << true << false;
    QTest::newRow("existing empty file is asked about too") << 2 << false << 6 << true << true;
    QTest::newRow("cancel") << 1 << true << 6 << false << false;
}

void TestCapture::start()
{
    QFETCH(int, existing);
    QFETCH(bool, cancel);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    QFETCH(bool, started);

    const QString file = path("log.txt");
    if (existing)
        writeFile(file, existing == 1 ? QByteArray("old content") : QByteArray());
    const QByteArray before = contentOf(file);
    f->ProgressBar1->setValue(42);
    dialog.choices = {cancel ? QString() : file};
    boxes.answers = {MessageBoxes::Answer(answer)};

    f->StartRec->click();

    QCOMPARE(f->ProgressBar1->value(), 0);
    QCOMPARE(boxes.shown.size(), asked ? 1 : 0);
    if (asked) {
        QCOMPARE(boxes.shown[0].title, QStringLiteral("Aufzeichnungsdatei"));
        QCOMPARE(boxes.shown[0].text, QStringLiteral("Die Datei existiert bereits!\rSoll ") + file +
                                          QStringLiteral(" überschrieben werden?"));
        QCOMPARE(boxes.shown[0].buttons, MessageBoxes::YesNo);
        QCOMPARE(boxes.shown[0].icon, MessageBoxes::Question);
    }
    QCOMPARE(f->RecActive, qint16(started ? -1 : 0));
    QCOMPARE(f->Timer1->isActive(), started);
    QCOMPARE(f->StartRec->text(), started ? QStringLiteral("Stopp") : QStringLiteral("Start"));
    QCOMPARE(f->Text1->toPlainText(), started ? file : QStringLiteral("Dateiname"));
    QCOMPARE(f->RecFileName, cancel ? QString() : file);
    QCOMPARE(contentOf(file), started ? QByteArray() : before);

    if (started) {
        f->StartRec->click(); // stop
        QCOMPARE(f->StartRec->text(), QStringLiteral("Start"));
        QCOMPARE(f->RecActive, qint16(0));
        QVERIFY(!f->Timer1->isActive());
        QVERIFY(!window->capture().files().isOpen(1));
    }
}

void TestCapture::fileThatMayNotBeDeleted()
{
    const QString file = path("kept.txt");
    writeFile(file, "precious");
    if (!setImmutable(file, true))
        QSKIP("this file system cannot make a file immutable");
    const auto undo = qScopeGuard([&] { setImmutable(file, false); });

    dialog.choices = {file};
    f->StartRec->click(); // the question is answered Yes

    QCOMPARE(boxes.shown.size(), 1); // the question, and no message after it
    QCOMPARE(f->Text1->toPlainText(), file);
    QCOMPARE(f->StartRec->text(), QStringLiteral("Start"));
    QCOMPARE(f->RecActive, qint16(0));
    QVERIFY(!f->Timer1->isActive());
    QCOMPARE(contentOf(file), QByteArray("precious"));
}

void TestCapture::folderWhereNoFileMayBeCreated()
{
    QVERIFY(QDir(dir->path()).mkdir("locked"));
    const QString folder = path("locked");
    if (!setImmutable(folder, true))
        QSKIP("this file system cannot make a folder immutable");
    const auto undo = qScopeGuard([&] { setImmutable(folder, false); });
    const QString file = folder + "/new.txt";

    dialog.choices = {file};
    f->StartRec->click();

    QVERIFY(boxes.shown.isEmpty());
    QCOMPARE(f->Text1->toPlainText(), file);
    QCOMPARE(f->StartRec->text(), QStringLiteral("Start"));
    QCOMPARE(f->RecActive, qint16(0));
    QVERIFY(!f->Timer1->isActive());
    QVERIFY(!QFile::exists(file));
    QVERIFY(!window->capture().files().isOpen(1));
}

void TestCapture::onlyPlainFilesAreDeleted()
{
    // The dialog may hand back something that is no capture file: for root a
    // device node. A named pipe in the test's own folder stands in for it.
    const QString fifo = path("line.txt");
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    dialog.choices = {fifo};
    f->StartRec->click(); // asked, answered Yes
    QCOMPARE(boxes.shown.size(), 1);
    QCOMPARE(QFileInfo(fifo).isFile(), false);
    QVERIFY(QFileInfo::exists(fifo));
    QCOMPARE(f->StartRec->text(), QStringLiteral("Start"));
    QCOMPARE(f->RecActive, qint16(0));
}

void TestCapture::dialogIsSetUpAndKeepsTheName()
{
    startOn(path("a.txt"));
    QCOMPARE(dialog.lastTitle, QStringLiteral("Aufzeichnungsdatei angeben"));
    QCOMPARE(dialog.lastDefaultExt, QStringLiteral("txt"));
    QCOMPARE(dialog.lastFilter, QStringLiteral("Kavro Textdatei (*.txt)|*.txt"));
    QVERIFY(dialog.lastCancelError);

    // The real dialog: a new name typed without extension is accepted and gets
    // "txt"; the next time the dialog starts from that name; cancel throws.
    QtCommonDialog real(window);
    real.CancelError = true;
    real.DialogTitle = dialog.lastTitle;
    real.DefaultExt = dialog.lastDefaultExt;
    real.Filter = dialog.lastFilter;
    QString title;
    QStringList filters;
    QString preselected;
    auto answer = [&](bool accept) {
        QTimer::singleShot(0, window, [&, accept] {
            auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(d);
            title = d->windowTitle();
            filters = d->nameFilters();
            preselected = d->selectedFiles().value(0);
            if (!accept) {
                d->reject();
                return;
            }
            d->setDirectory(dir->path());
            d->selectFile("neu");
            QMetaObject::invokeMethod(d, "accept");
        });
    };
    answer(true);
    real.ShowOpen();
    QCOMPARE(title, QStringLiteral("Aufzeichnungsdatei angeben"));
    QCOMPARE(filters, QStringList{"Kavro Textdatei (*.txt)"});
    QCOMPARE(real.FileName, path("neu.txt"));

    answer(false);
    try {
        real.ShowOpen();
        QFAIL("cancel must fail");
    } catch (const KavroError &e) {
        QCOMPARE(e.number(), int(Err::Cancelled));
        QVERIFY(e.number() != Err::FileNotFound);
    }
    QCOMPARE(preselected, path("neu.txt"));
    QCOMPARE(real.FileName, path("neu.txt"));
}

void TestCapture::failedWriteStopsOnceAndKeepsTheView()
{
    const QString file = path("cap.txt");
    startOn(file);

    // A file that may grow no further, like a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
    rlimit small = old;
    small.rlim_cur = 1000;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    const auto restore = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &old); });

    QByteArray sent;
    for (int i = 0; i < 3000; ++i)
        sent += char('a' + i % 26);
    port->receive(sent);
    port->receive("more");

    QCOMPARE(boxes.shown.size(), 1);
    const QString text = boxes.shown[0].text;
    QVERIFY2(text.startsWith("Fehler 61: "), qPrintable(text));
    QVERIFY2(text.contains(file), qPrintable(text));
    QCOMPARE(f->RecActive, qint16(0));
    QCOMPARE(f->StartRec->text(), QStringLiteral("Start"));
    QVERIFY(!f->Timer1->isActive());
    QCOMPARE(f->ProgressBar1->value(), 0);
    QVERIFY(!window->capture().files().isOpen(1));
    QCOMPARE(f->Empfang->text(), QString::fromLatin1(sent + "more"));
    QCOMPARE(contentOf(file), sent.left(1000));
}

void TestCapture::activityBar()
{
    startOn(path("cap.txt"));
    QCOMPARE(f->Timer1->interval(), 50);
    QTRY_VERIFY(f->ProgressBar1->value() >= 1); // the timer drives the bar
    f->Timer1->stop();

    f->ProgressBar1->setValue(0);
    window->capture().Timer1_Timer();
    QCOMPARE(f->ProgressBar1->value(), 1);
    f->ProgressBar1->setValue(37);
    window->capture().Timer1_Timer();
    QCOMPARE(f->ProgressBar1->value(), 38);
    f->ProgressBar1->setValue(100);
    window->capture().Timer1_Timer();
    QCOMPARE(f->ProgressBar1->value(), 1);

    f->Timer1->start();
    f->StartRec->click(); // stop
    QCOMPARE(f->ProgressBar1->value(), 0);
    QVERIFY(!f->Timer1->isActive());
    QTest::qWait(120);
    QCOMPARE(f->ProgressBar1->value(), 0);
}

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"
