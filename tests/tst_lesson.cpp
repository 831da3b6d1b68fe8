// A child at the keyboard: every kind of key, the boxes that answer, the pictures and the sounds
// asked for, and the program living through bad pictures and stray clicks.
#include "lesson/sound.h"
#include "shell/application.h"
#include "shell/form1.h"
#include "testkit.h"

#include <QBuffer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace {
class RecordingSound : public lesson::Sound
{
public:
    void suona(const QString &file) override { played << file; }
    QStringList played;
};
} // namespace

class TestLesson : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void keys_data();
    void keys();
    void escapeSaysGoodbyeAndEnds();
    void sameDigitAgain();
    void badPicture_data();
    void badPicture();
    void clicksLeaveTheKeys_data();
    void clicksLeaveTheKeys();
    void folderOfAnyName();

private:
    QLabel *label() const { return m_window->findChild<QLabel *>(QStringLiteral("Label1")); }
    QLabel *picture() const { return m_window->findChild<QLabel *>(QStringLiteral("Picture1")); }
    QLineEdit *catcher() const { return m_window->findChild<QLineEdit *>(QStringLiteral("Text1")); }
    void startIn(const QString &folder);
    // Types a key into whatever has the keyboard, and closes the box it may open.
    testkit::SeenBox press(Qt::Key key, const QString &text, Qt::KeyboardModifiers modifiers = {});
    void checkShowsDigit(const QString &digit);

    QTemporaryDir m_dir;
    QString m_folder;
    RecordingSound m_sound;
    std::unique_ptr<Form1> m_window;
};

void TestLesson::startIn(const QString &folder)
{
    m_folder = folder;
    m_window = std::make_unique<Form1>(m_sound, folder);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestLesson::init()
{
    // A fresh program folder for every row, as rows break their media on purpose.
    const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentTestFunction()) + u'-'
        + QString::fromUtf8(QTest::currentDataTag()));
    testkit::copyMedia(folder);
    m_sound.played.clear();
    startIn(folder);
}

void TestLesson::cleanup()
{
    m_window.reset();
}

testkit::SeenBox TestLesson::press(
    Qt::Key key, const QString &text, Qt::KeyboardModifiers modifiers)
{
    testkit::BoxCloser closer;
    QWidget *target = QApplication::focusWidget();
    if (!target)
        return {};
    QTest::sendKeyEvent(QTest::Press, target, key, text, modifiers);
    QTest::sendKeyEvent(QTest::Release, target, key, text, modifiers);
    return closer.box();
}

void TestLesson::checkShowsDigit(const QString &digit)
{
    QCOMPARE(label()->text(), digit);
    QVERIFY(picture()->isVisible());
    const QImage expected(m_folder + u"/IMG/" + digit + u".jpg");
    QVERIFY(!expected.isNull());
    QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
        expected.convertToFormat(QImage::Format_RGB32));
    // Shown whole, from the box's top-left corner.
    QCOMPARE(picture()->size(), expected.size());
    QCOMPARE(picture()->pos(), QPoint(24, 272));
    QCOMPARE(
        m_sound.played.value(m_sound.played.size() - 1), m_folder + u"/IMG/" + digit + u".wav");
}

void TestLesson::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("digit");

    for (int d = 0; d <= 9; ++d) {
        const QString t = QString::number(d);
        QTest::addRow("digit %d", d) << int(Qt::Key_0) + d << t << 0 << true;
        QTest::addRow("keypad %d", d) << int(Qt::Key_0) + d << t << int(Qt::KeypadModifier) << true;
    }
    const auto other = [](const char *name, Qt::Key key, const QString &text, int mods = 0) {
        QTest::newRow(name) << int(key) << text << mods << false;
    };
    other("letter a", Qt::Key_A, QStringLiteral("a"));
    other("capital Z", Qt::Key_Z, QStringLiteral("Z"), int(Qt::ShiftModifier));
    other("space", Qt::Key_Space, QStringLiteral(" "));
    other("question mark", Qt::Key_Question, QStringLiteral("?"), int(Qt::ShiftModifier));
    other("less than", Qt::Key_Less, QStringLiteral("<"));
    other("ampersand", Qt::Key_Ampersand, QStringLiteral("&"));
    other("Enter", Qt::Key_Return, QStringLiteral("\r"));
    other("keypad Enter", Qt::Key_Enter, QStringLiteral("\r"), int(Qt::KeypadModifier));
    other("Backspace", Qt::Key_Backspace, QStringLiteral("\b"));
    other("Tab", Qt::Key_Tab, QStringLiteral("\t"));
    other("Delete", Qt::Key_Delete, QStringLiteral("\x7f"));
    other("Ctrl+C", Qt::Key_C, QStringLiteral("\x03"), int(Qt::ControlModifier));
    other("Ctrl+V", Qt::Key_V, QStringLiteral("\x16"), int(Qt::ControlModifier));
    other("e grave", Qt::Key_Egrave, QStringLiteral("è"));
    other("Cyrillic zhe", Qt::Key_unknown, QStringLiteral("ж"));
    other("euro", Qt::Key_unknown, QStringLiteral("€"));
    other("superscript two", Qt::Key_twosuperior, QStringLiteral("²"));
    other("Arabic-Indic seven", Qt::Key_unknown, QStringLiteral("٧"));
    other("emoji", Qt::Key_unknown, QStringLiteral("🙂"));
}

void TestLesson::keys()
{
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(int, modifiers);
    QFETCH(bool, digit);

    // A digit first, so that a wrong key must also take its picture away.
    QVERIFY(!press(Qt::Key_5, QStringLiteral("5")).seen);
    const int soundsBefore = int(m_sound.played.size());

    const testkit::SeenBox box = press(Qt::Key(key), text, Qt::KeyboardModifiers(modifiers));

    QCOMPARE(label()->text(), text);
    QCOMPARE(label()->font().pointSize(), 216);
    QCOMPARE(label()->font().family(), QStringLiteral("Arial"));
    QCOMPARE(label()->font().bold(), true);
    // Closing a box gives the window back its activation a moment later.
    QTRY_COMPARE(QApplication::focusWidget(), catcher());
    if (digit) {
        QVERIFY(!box.seen);
        checkShowsDigit(text);
        QCOMPARE(m_sound.played.size(), soundsBefore + 1);
        QVERIFY(catcher()->text().endsWith(text));
    } else {
        QVERIFY(box.seen);
        QCOMPARE(box.title, QStringLiteral("Fai attenzione, non hai premuto un numero"));
        QCOMPARE(box.text, QStringLiteral("Premi un altro tasto"));
        QCOMPARE(box.icon, QMessageBox::Question);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(!picture()->isVisible());
        QCOMPARE(m_sound.played.size(), soundsBefore);
    }
}

void TestLesson::escapeSaysGoodbyeAndEnds()
{
    // The program's end leaves every running event loop; this one stands for the program's.
    QEventLoop program;
    testkit::SeenBox box;
    QTimer::singleShot(0, this, [&] { box = press(Qt::Key_Escape, QStringLiteral("\x1b")); });
    QTimer::singleShot(5000, &program, [&] { program.exit(99); });
    QCOMPARE(program.exec(), 0);

    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("A presto da Zorvalde e Trucchelo"));
    QCOMPARE(box.text, QStringLiteral("Ciao alla prossima"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Behind the goodbye the prompt grew to the big size; nothing else changed.
    QCOMPARE(label()->font().pointSize(), 216);
    QCOMPARE(label()->text(), QStringLiteral("Premi un tasto  numerico"));
    QVERIFY(m_sound.played.isEmpty());
}

void TestLesson::sameDigitAgain()
{
    press(Qt::Key_4, QStringLiteral("4"));
    press(Qt::Key_4, QStringLiteral("4"));
    // Held down: auto-repeat presses again and again without a release between.
    for (int i = 0; i < 5; ++i)
        QTest::sendKeyEvent(QTest::Press, catcher(), Qt::Key_4, QStringLiteral("4"), {});
    checkShowsDigit(QStringLiteral("4"));
    QCOMPARE(m_sound.played.size(), 7);
    QCOMPARE(catcher()->text(), QStringLiteral("Text14444444"));
}

void TestLesson::badPicture_data()
{
    QTest::addColumn<QByteArray>("content"); // what is written where 3.jpg should be
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("shows");

    QFile good(testkit::builtMedia() + u"/3.jpg");
    QVERIFY(good.open(QIODevice::ReadOnly));
    const QByteArray jpeg = good.readAll();
    // A JPEG whose header claims 60000 × 60000 pixels: far past what may be allocated.
    QByteArray huge = jpeg;
    const qsizetype sof = huge.indexOf("\xff\xc0");
    QVERIFY(sof > 0);
    huge[sof + 5] = char(0xea);
    huge[sof + 6] = char(0x60);
    huge[sof + 7] = char(0xea);
    huge[sof + 8] = char(0x60);
    QByteArray noise(4096, 0);
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + 13) % 251);
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(QImage(jpeg.isEmpty() ? QImage() : QImage::fromData(jpeg)).save(&buffer, "PNG"));

    QTest::newRow("missing") << QByteArray() << QStringLiteral("missing") << false;
    QTest::newRow("empty") << QByteArray() << QStringLiteral("file") << false;
    QTest::newRow("truncated in its header") << jpeg.left(200) << QStringLiteral("file") << false;
    QTest::newRow("truncated in its picture")
        << jpeg.left(jpeg.size() / 2) << QStringLiteral("file") << false;
    QTest::newRow("not a picture")
        << QByteArray("this is not a picture at all") << QStringLiteral("file") << false;
    QTest::newRow("random bytes") << noise << QStringLiteral("file") << false;
    QTest::newRow("too large") << huge << QStringLiteral("file") << false;
    QTest::newRow("a folder") << QByteArray() << QStringLiteral("folder") << false;
    QTest::newRow("symlink loop") << QByteArray() << QStringLiteral("loop") << false;
    QTest::newRow("FIFO") << QByteArray() << QStringLiteral("fifo") << false;
    QTest::newRow("whole IMG missing") << QByteArray() << QStringLiteral("no IMG") << false;
    QTest::newRow("IMG is a file") << QByteArray() << QStringLiteral("IMG file") << false;
    // The content decides, not the name.
    QTest::newRow("PNG named .jpg") << png << QStringLiteral("file") << true;
}

void TestLesson::badPicture()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, kind);
    QFETCH(bool, shows);

    press(Qt::Key_8, QStringLiteral("8"));
    QVERIFY(picture()->isVisible());

    const QString file = m_folder + u"/IMG/3.jpg";
    if (kind == u"no IMG" || kind == u"IMG file") {
        QVERIFY(QDir(m_folder + u"/IMG").removeRecursively());
        if (kind == u"IMG file")
            QVERIFY(testkit::placeBadFile(m_folder + u"/IMG", QStringLiteral("file")));
    } else {
        QVERIFY(testkit::placeBadFile(file, kind, content));
    }

    // One line for the parent on standard error, naming the file; nothing for the child.
    if (!shows)
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(
                u"^numeri: immagine non mostrata, " + QRegularExpression::escape(file) + u": .+"));
    const qint64 memoryBefore = testkit::residentBytes();
    const testkit::SeenBox box = press(Qt::Key_3, QStringLiteral("3"));
    QVERIFY(!box.seen);
    QCOMPARE(label()->text(), QStringLiteral("3"));
    QCOMPARE(m_sound.played.value(m_sound.played.size() - 1), m_folder + u"/IMG/3.wav");
    // Never the previous digit's picture under this digit.
    QCOMPARE(picture()->isVisible(), shows);
    if (shows)
        QCOMPARE(picture()->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
            QImage::fromData(content).convertToFormat(QImage::Format_RGB32));
    QVERIFY(m_window->isVisible());
    // A picture that claims to be huge is refused before it takes the memory.
    QVERIFY(testkit::residentBytes() - memoryBefore < 32 * 1024 * 1024);

    if (kind != u"no IMG" && kind != u"IMG file") {
        press(Qt::Key_8, QStringLiteral("8"));
        checkShowsDigit(QStringLiteral("8"));
    }
}

void TestLesson::clicksLeaveTheKeys_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("picture") << QStringLiteral("Picture1");
    QTest::newRow("label") << QStringLiteral("Label1");
    QTest::newRow("background") << QStringLiteral("centralwidget");
    QTest::newRow("menu bar") << QStringLiteral("menubar");
}

void TestLesson::clicksLeaveTheKeys()
{
    QFETCH(QString, where);
    press(Qt::Key_2, QStringLiteral("2"));
    auto *target = m_window->findChild<QWidget *>(where);
    QVERIFY(target && target->isVisible());
    QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(target, Qt::RightButton, {}, QPoint(6, 6));
    QCOMPARE(QApplication::focusWidget(), catcher());
    press(Qt::Key_6, QStringLiteral("6"));
    checkShowsDigit(QStringLiteral("6"));
}

void TestLesson::folderOfAnyName()
{
    const QString folder = m_dir.filePath(QStringLiteral("cartella con spazi é ж 数字"));
    testkit::copyMedia(folder);
    m_window.reset();
    startIn(folder);
    press(Qt::Key_9, QStringLiteral("9"));
    checkShowsDigit(QStringLiteral("9"));
}

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    TestLesson test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_lesson.moc"
