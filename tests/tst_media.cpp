// The files the child meets: ten recordings and ten pictures beside the program, the icon and the
// pointer, each as the program relies on it.
#include "testkit.h"

#include <QCryptographicHash>
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QTest>
#include <SDL.h>

class TestMedia : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recording_data();
    void recording();
    void picture_data();
    void picture();
    void picturesAllDiffer();
    void iconAndPointer_data();
    void iconAndPointer();
};

void TestMedia::recording_data()
{
    QTest::addColumn<QString>("file");
    for (int d = 0; d <= 9; ++d)
        QTest::addRow("%d.wav", d) << testkit::builtMedia() + QStringLiteral("/%1.wav").arg(d);
}

void TestMedia::recording()
{
    QFETCH(QString, file);
    SDL_AudioSpec spec {};
    Uint8 *data = nullptr;
    Uint32 length = 0;
    QVERIFY2(
        SDL_LoadWAV(QFile::encodeName(file).constData(), &spec, &data, &length), SDL_GetError());
    const std::vector<qint16> samples(
        reinterpret_cast<qint16 *>(data), reinterpret_cast<qint16 *>(data) + length / 2);
    SDL_FreeWAV(data);
    QCOMPARE(spec.format, AUDIO_S16LSB);
    QCOMPARE(int(spec.channels), 1);
    QCOMPARE(spec.freq, 22050);

    const double seconds = double(samples.size()) / spec.freq;
    QVERIFY2(seconds >= 0.3 && seconds <= 1.2, qPrintable(QString::number(seconds)));
    int peak = 0;
    size_t firstLoud = samples.size();
    for (size_t i = 0; i < samples.size(); ++i) {
        peak = std::max(peak, std::abs(int(samples[i])));
        if (firstLoud == samples.size() && std::abs(int(samples[i])) > 328) // 1 % of full scale
            firstLoud = i;
    }
    // Loud, normalised near full scale, and the word starts as the key is pressed.
    QVERIFY2(peak > 25000, qPrintable(QString::number(peak)));
    QVERIFY2(firstLoud < size_t(spec.freq * 0.020), qPrintable(QString::number(firstLoud)));
}

void TestMedia::picture_data()
{
    QTest::addColumn<QString>("file");
    for (int d = 0; d <= 9; ++d)
        QTest::addRow("%d.jpg", d) << testkit::builtMedia() + QStringLiteral("/%1.jpg").arg(d);
}

void TestMedia::picture()
{
    QFETCH(QString, file);
    QImageReader reader(file);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    // All alike, and whole inside the window below the big digit.
    QCOMPARE(image.size(), QSize(460, 260));
    QVERIFY(image.width() <= 468 && image.height() <= 270);
    QVERIFY(QFileInfo(file).size() < 80 * 1024);
}

void TestMedia::picturesAllDiffer()
{
    QSet<QByteArray> seen;
    for (int d = 0; d <= 9; ++d) {
        QFile f(testkit::builtMedia() + QStringLiteral("/%1.jpg").arg(d));
        QVERIFY(f.open(QIODevice::ReadOnly));
        seen.insert(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256));
    }
    QCOMPARE(seen.size(), 10);
}

void TestMedia::iconAndPointer_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("size");
    QTest::newRow("window icon") << QStringLiteral(":/icons/numeri.png") << 32;
    QTest::newRow("pointer") << QStringLiteral(":/icons/pointer.png") << 32;
    const QString hicolor = QStringLiteral(NUMERI_SOURCE_DIR "/packaging/icons/hicolor/");
    for (int s : { 32, 48, 64, 128, 256 })
        QTest::addRow("desktop icon %d", s)
            << hicolor + QStringLiteral("%1x%1/apps/org.numeri.numeri.png").arg(s) << s;
    QTest::newRow("scalable icon")
        << hicolor + QStringLiteral("scalable/apps/org.numeri.numeri.svg") << 0;
}

void TestMedia::iconAndPointer()
{
    QFETCH(QString, file);
    QFETCH(int, size);
    QVERIFY2(QFile::exists(file), qPrintable(file));
    if (size) {
        const QImage image(file);
        QCOMPARE(image.size(), QSize(size, size));
        if (size == 32 && file.startsWith(u':'))
            QVERIFY(image.colorCount() > 0 && image.colorCount() <= 256); // 256-colour
    }
}

QTEST_MAIN(TestMedia)
#include "tst_media.moc"
