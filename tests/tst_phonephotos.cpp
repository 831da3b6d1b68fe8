// A photo from a phone as a digit's picture, in-process: each format phones keep, the largest
// their cameras take, and those no decoder should be asked to open, handed to the parent's window
// as the dialog does; what the window offers to file managers, and where its dialogs open.
#include "family/cutpanel.h"
#include "family/decoding.h"
#include "family/familyimport.h"
#include "family/familywindow.h"
#include "lesson/sound.h"
#include "phonefiles.h"
#include "testkit.h"

#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <algorithm>
#include <sys/stat.h>

using namespace testkit;

class TestPhonePhotos : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void pictures_data();
    void pictures();
    void offered_data();
    void offered();
    void dialogs_data();
    void dialogs();
    void waysIn_data();
    void waysIn();

private:
    QString status() const
    {
        return m_window->findChild<QLabel *>(QStringLiteral("status"))->text();
    }
    QString here(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    std::unique_ptr<lesson::SdlSound> m_sound;
    std::unique_ptr<family::FamilyWindow> m_window;
};

void TestPhonePhotos::initTestCase()
{
    qputenv("NUMERI_DECODER", NUMERI_DECODER);
}

void TestPhonePhotos::init()
{
    qputenv("XDG_DATA_HOME",
        QFile::encodeName(m_dir.filePath(QString::fromLatin1(QTest::currentTestFunction()) + u'-'
            + QString::fromUtf8(QTest::currentDataTag()))));
    m_sound = std::make_unique<lesson::SdlSound>();
    m_window = std::make_unique<family::FamilyWindow>(*m_sound, QFileInfo(builtMedia()).path());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestPhonePhotos::cleanup()
{
    m_window.reset();
    m_sound.reset();
    qputenv("NUMERI_DECODER", NUMERI_DECODER);
}

// A photo in each format phones keep, made from a picture stored lying that shows red above and
// blue below when turned as its file says, and the largest phones take, made standing. Faults:
// HEIC's or AVIF's rotation ignored; JPEG's EXIF orientation ignored; a format the window hands to
// no reader; the decoder's memory held to 1 GiB, which a large photo passes; a picture past the
// decoder's limits called damaged; a picture's decoder that crashes spoken of as a sound's.
void TestPhonePhotos::pictures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size"); // a large photo's, made standing, where not the usual one
    QTest::addColumn<QString>("options"); // heif-enc's, for the large ones
    QTest::addColumn<QString>("said"); // where it is refused, how
    for (const char *name :
        { "phone.jpg", "upright.png", "shared.webp", "iphone.heic", "photo.avif" })
        QTest::newRow(name) << QString::fromLatin1(name) << QSize() << QString() << QString();
    const QString fast = QStringLiteral("-q 10 -p speed=9 -p realtime=true");
    QTest::newRow("48 MP HEIC") << "big.heic" << QSize(6000, 8000) << "-q 10 -p preset=ultrafast"
                                << QString();
    QTest::newRow("48 MP AVIF") << "big.avif" << QSize(6000, 8000) << fast << QString();
    // Past 1 GiB of address space, where the 48-megapixel ones come near it; the encoder makes it
    // 4:4:4 from 4:2:0.
    QTest::newRow("69 MP AVIF 4:4:4")
        << "full.avif" << QSize(7200, 9600) << fast + u" -p chroma=444" << QString();
    QTest::newRow("60000 x 60000 HEIC")
        << "huge.heic" << QSize() << QString()
        << "Non riesco ad aprire huge.heic: la figura è troppo grande.";
    QTest::newRow("decoder crashes")
        << "crash.heic" << QSize() << QString()
        << "Non riesco ad aprire crash.heic: il programma che legge le foto si è fermato";
}

void TestPhonePhotos::pictures()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(QString, options);
    QFETCH(QString, said);
    QImage upright(300, 400, QImage::Format_RGB32);
    upright.fill(Qt::blue);
    QPainter(&upright).fillRect(0, 0, 300, 200, Qt::red);
    const QImage lying = upright.transformed(QTransform().rotate(90));
    const QString file = here(name), made = here(QStringLiteral("made.y4m"));
    const auto heifEnc = [&](const QStringList &arguments) {
        const QString failed = runTool(QStringLiteral("heif-enc"), arguments);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    };
    if (name.endsWith(u".jpg")) {
        QVERIFY(write(file, phonePhoto()));
    } else if (name.endsWith(u".png") || name.endsWith(u".webp")) {
        QVERIFY2(upright.save(file), "Qt's WebP plugin (qt6-image-formats-plugins) is needed");
    } else if (size.isValid()) {
        QVERIFY(flatPicture(made, size.width(), size.height()));
        heifEnc(options.split(u' ') + QStringList { made, QStringLiteral("-o"), file });
        QFile::remove(made);
        // Read by a busy machine, the largest take some seconds more than a phone's photo.
        m_window->import().pictures().setTimeLimit(std::chrono::seconds(90));
    } else {
        QVERIFY(lying.save(here(QStringLiteral("lying.png"))));
        heifEnc(args("-q 90")
            + QStringList { here(QStringLiteral("lying.png")), QStringLiteral("-o"), file });
        QVERIFY(name == u"huge.heic" ? claimSize(file, 60000, 60000) : turnQuarter(file));
    }
    if (name == u"crash.heic") {
        const QString script = here(QStringLiteral("decoder"));
        QVERIFY(write(script, "#!/bin/sh\nkill -SEGV $$\n"));
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));
        qputenv("NUMERI_DECODER", QFile::encodeName(script));
    }
    m_window->import().usePhoto(7, file);
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith(u"Fatto") || status().contains(u"Non "), 100000);
    QFile::remove(file);
    const QString saved = m_dir.filePath(QStringLiteral("pictures-")
        + QString::fromUtf8(QTest::currentDataTag()) + u"/numeri/IMG/7@2x.jpg");
    if (!said.isEmpty()) {
        QVERIFY2(status().startsWith(said) && status().endsWith(family::nothingChanged()),
            qPrintable(status()));
        QVERIFY(!QFile::exists(saved));
        return;
    }
    QVERIFY2(status().startsWith(u"Fatto"), qPrintable(status()));
    const QImage picture(saved);
    QVERIFY(picture.height() > picture.width());
    const QRgb top = picture.pixel(picture.width() / 2, picture.height() / 5);
    const QRgb bottom = picture.pixel(picture.width() / 2, picture.height() * 4 / 5);
    QVERIFY2(qRed(top) > 200 && qBlue(top) < 60 && qBlue(bottom) > 200 && qRed(bottom) < 60,
        qPrintable(QString::number(top, 16) + u' ' + QString::number(bottom, 16)));
}

// "Apri con" offers the program for every kind of file it reads, under the names file managers
// give them by their ending. Faults: a type left out of the entry (iPhones' HEIC, AVIF, a video's
// sound).
void TestPhonePhotos::offered_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name : { "iphone.heic", "photo.avif", "shared.webp", "phone.jpg",
             "whatsapp.opus", "telegram.oga", "memo.m4a", "phone.3gp", "phone.amr", "video.mp4",
             "voice.webm", "recorder.mp3", "voice.flac", "voice.wav" })
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestPhonePhotos::offered()
{
    QFETCH(QString, name);
    const QString entry = QString::fromUtf8(contentOf(
        QStringLiteral(NUMERI_SOURCE_DIR "/packaging/" NUMERI_APP_ID ".registra.desktop")));
    const QStringList offered = entry.section(QStringLiteral("\nMimeType="), 1)
                                    .section(u'\n', 0, 0)
                                    .split(u';', Qt::SkipEmptyParts);
    const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    QVERIFY2(std::any_of(offered.begin(), offered.end(),
                 [&type](const QString &t) { return type.inherits(t); }),
        qPrintable(type.name()));
}

// Where the file dialogs open in a home that has no Downloads or Pictures yet. Fault: the folder
// given though it is not there, which Qt's dialog types into its name field.
void TestPhonePhotos::dialogs_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("a sound") << "chooseSound";
    QTest::newRow("a photo") << "choosePhoto";
}

void TestPhonePhotos::dialogs()
{
    QFETCH(QString, button);
    const QByteArray home = qgetenv("HOME"), config = qgetenv("XDG_CONFIG_HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", home);
        qputenv("XDG_CONFIG_HOME", config);
    });
    QVERIFY(QDir().mkpath(here(QStringLiteral("fresh"))));
    qputenv("HOME", QFile::encodeName(here(QStringLiteral("fresh"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(here(QStringLiteral("fresh/.config"))));
    QString typed = QStringLiteral("no dialog");
    QTimer closer; // closes the dialog as a parent who chose nothing
    connect(&closer, &QTimer::timeout, [&typed] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            typed = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
            dialog->reject();
        }
    });
    closer.start(50);
    QTest::mouseClick(m_window->findChildren<QPushButton *>(button).at(3), Qt::LeftButton);
    QCOMPARE(typed, QString());
}

// Each way a file reaches the window, dropped on 4's row or handed to the program, with each kind
// a family has. Faults: a name in capitals, as an iPhone writes it, not taken for a photo; a
// photo dropped on a row read as a sound; a FIFO or a device opened by the window or its decoder,
// which then hangs or reads for ever, or taken for a picture that is not there; "troppo tempo"
// said of a photo already kept.
void TestPhonePhotos::waysIn_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind"); // "photo", "fifo" or "device"
    QTest::addColumn<QString>("said"); // how the answer begins, or what it holds where refused
    const QString notAFile = QStringLiteral("non è un file");
    for (const QString &way : { QStringLiteral("drop"), QStringLiteral("program") }) {
        const auto row = [&way](const char *name, const char *kind, const QString &said) {
            QTest::addRow("%s, %s %s", qPrintable(way), kind, name)
                << way << QString::fromLatin1(name) << QString::fromLatin1(kind) << said;
        };
        row("IMG_0001.HEIC", "photo", QStringLiteral("Fatto: la foto"));
        row("pipe.opus", "fifo", notAFile);
        row("zero.m4a", "device", notAFile);
        row("IMG_0002.JPG", "fifo", notAFile);
        row("IMG_0003.HEIC", "device", notAFile);
    }
}

void TestPhonePhotos::waysIn()
{
    QFETCH(QString, way);
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, said);
    const QString file = here(name);
    QFile::remove(file);
    if (kind == u"fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    } else if (kind == u"device") {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), file));
    } else {
        QImage photo(40, 30, QImage::Format_RGB32);
        photo.fill(Qt::red);
        QVERIFY(photo.save(here(QStringLiteral("photo.png"))));
        const QString failed = runTool(QStringLiteral("heif-enc"),
            args("-q 50") + QStringList { here(QStringLiteral("photo.png")), u"-o"_qs, file });
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }
    auto *panel = m_window->findChild<family::CutPanel *>();
    // Long enough for a small photo on a busy machine, short enough to be waited out below.
    const std::chrono::milliseconds limit(4000);
    m_window->import().pictures().setTimeLimit(limit);
    QElapsedTimer handed;
    handed.start();
    if (way == u"drop") {
        QWidget *row = m_window->findChildren<QPushButton *>(QStringLiteral("chooseSound"))
                           .at(4)
                           ->parentWidget();
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(file) });
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(row, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(row, &drop);
    } else {
        m_window->open(file);
        // A picture waits for its digit; nothing is read before.
        if (name.startsWith(u"IMG_")) {
            QCOMPARE(status(), QStringLiteral("Per quale numero è questa foto?"));
            panel->findChild<QComboBox *>()->setCurrentIndex(5);
            QTest::mouseClick(
                panel->findChild<QPushButton *>(QStringLiteral("keepPart")), Qt::LeftButton);
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith(u"Fatto") || status().contains(u"Non "), 20000);
    const QString kept = m_dir.filePath(
        u"waysIn-" + QString::fromUtf8(QTest::currentDataTag()) + u"/numeri/IMG/4@2x.jpg");
    if (said.startsWith(u"Fatto")) {
        QVERIFY2(status().startsWith(said), qPrintable(status()));
        QVERIFY(QFile::exists(kept));
        // The clock that gives up on a slow read has stopped with the read.
        QTest::qWait(int(limit.count() - handed.elapsed()) + 300);
        QVERIFY2(status().startsWith(said), qPrintable(status()));
        return;
    }
    QVERIFY2(status().contains(said) && status().endsWith(family::nothingChanged()),
        qPrintable(status()));
    QVERIFY(!QFile::exists(kept) && !panel->isVisible());
}

QTEST_MAIN(TestPhonePhotos)
#include "tst_phonephotos.moc"
