// The twenty files the child meets, as tools/make-assets makes them.
#include "lesson/sound.h"
#include "testkit.h"

#include <QCryptographicHash>
#include <QFile>
#include <QImageReader>
#include <QTest>

class TestMedia : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void digit_data();
    void digit();
};

void TestMedia::digit_data()
{
    QTest::addColumn<int>("d");
    for (int d = 0; d <= 9; ++d)
        QTest::addRow("%d", d) << d;
}

// Faults: a recording remade empty, cut, too quiet or starting late; a picture undecodable, of
// another size, or the same as another digit's.
void TestMedia::digit()
{
    QFETCH(int, d);
    const QString base = testkit::builtMedia() + u'/' + QString::number(d);
    const std::vector<Uint8> pcm = lesson::decodeWav(base + u".wav");
    const auto *word = reinterpret_cast<const qint16 *>(pcm.data());
    const qsizetype count = qsizetype(pcm.size() / 2);
    QVERIFY2(count >= lesson::playRate * 0.3 && count <= lesson::playRate * 1.2,
        qPrintable(QString::number(count)));
    int peak = 0;
    qsizetype firstLoud = -1;
    for (qsizetype i = 0; i < count; ++i) {
        peak = std::max(peak, std::abs(int(word[i])));
        if (firstLoud < 0 && peak > 328) // 1 % of full scale
            firstLoud = i;
    }
    QVERIFY2(peak > 25000, qPrintable(QString::number(peak)));
    QVERIFY2(firstLoud < lesson::playRate / 50, qPrintable(QString::number(firstLoud)));

    QFile jpeg(base + u".jpg");
    QVERIFY(jpeg.open(QIODevice::ReadOnly));
    QVERIFY2(jpeg.readAll().endsWith("\xff\xd9"), "cut short: the program would not show it");
    QImageReader reader(base + u".jpg");
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage picture = reader.read();
    QCOMPARE(picture.size(), QSize(460, 260));
    static QSet<QByteArray> seen;
    const QByteArray pixels(
        reinterpret_cast<const char *>(picture.constBits()), picture.sizeInBytes());
    QVERIFY2(!seen.contains(QCryptographicHash::hash(pixels, QCryptographicHash::Sha256)),
        "a picture like another digit's");
    seen.insert(QCryptographicHash::hash(pixels, QCryptographicHash::Sha256));
}

QTEST_GUILESS_MAIN(TestMedia)
#include "tst_media.moc"
