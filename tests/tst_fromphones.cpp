// Files from a phone in the parent's window, in-process: a photo in each format phones keep, the
// largest their cameras take, and those no decoder should be asked to open, dropped on the window
// or handed to the program, and a voice message dropped; what the window offers to file managers;
// the last word of a two-minute voice message, a few pixels wide on the whole waveform, looked at
// closer.
#include "diskaudio.h"
#include "family/cutview.h"
#include "family/decoding.h"
#include "family/familyfiles.h"
#include "family/familyimport.h"
#include "family/voice.h"
#include "familyfixture.h"
#include "phonefiles.h"
#include "testkit.h"

#include <QComboBox>
#include <QDir>
#include <QMimeDatabase>
#include <QPainter>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <sys/stat.h>

using namespace testkit;
using namespace Qt::StringLiterals;

class TestFromPhones : public FamilyFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }
    void offered_data();
    void offered();
    void ways_data();
    void ways();
    void apart_data();
    void apart();

private:
    family::CutView *strip(const char *name) const
    {
        return panel()->findChild<family::CutView *>(QString::fromLatin1(name));
    }
    // Moves the start (or the end) of the marked part by MS, as the parent would: by the mouse in
    // the closer strip, by Ctrl and the arrows in the whole ("keys"), or by the arrows alone in
    // the closer strip ("arrows").
    void move(bool end, const QString &by, int ms);

    qint64 m_setteEnds = 0;
};

constexpr qint64 samplesIn(int ms)
{
    return qint64(ms) * lesson::playRate / 1000;
}

void TestFromPhones::initTestCase()
{
    // Two minutes of silence, "sette" said at 116 s; in another, "uno" and "due" before it with
    // pauses after each, as a message is said; in the last, after "uno, due, tre, quattro" said in
    // one breath with it, far longer than any word.
    std::vector<qint16> words;
    std::vector<qsizetype> starts; // each word's in WORDS
    for (const char *digit : { "1", "2", "3", "4", "7" }) {
        const std::vector<qint16> word = pcm(builtMedia() + u'/' + QLatin1String(digit) + u".wav");
        const family::Span span = family::voicedSpan(word);
        starts.push_back(qsizetype(words.size()));
        words.insert(
            words.end(), word.begin() + qsizetype(span.begin), word.begin() + qsizetype(span.end));
    }
    m_setteEnds = samplesIn(116000) + qsizetype(words.size()) - starts[4];
    std::vector<qint16> message(size_t(samplesIn(120000)), 0);
    std::copy(words.begin() + starts[4], words.end(), message.begin() + samplesIn(116000));
    QVERIFY(write(here(QStringLiteral("nonna.wav")), family::wavFile(message)));
    std::vector<qint16> paused = message;
    auto at = paused.begin() + samplesIn(116000);
    for (const int w : { 1, 0 }) {
        at -= samplesIn(600) + starts[w + 1] - starts[w];
        std::copy(words.begin() + starts[w], words.begin() + starts[w + 1], at);
    }
    QVERIFY(write(here(QStringLiteral("pausa.wav")), family::wavFile(paused)));
    std::copy(words.begin(), words.end(), message.begin() + m_setteEnds - qsizetype(words.size()));
    QVERIFY(write(here(QStringLiteral("frase.wav")), family::wavFile(message)));
}

// "Apri con" offers the program for every kind of file it reads, under the names file managers
// give them by their ending. Faults: a type left out of the entry (iPhones' HEIC, AVIF, a video's
// sound).
void TestFromPhones::offered_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name : { "iphone.heic", "photo.avif", "shared.webp", "phone.jpg",
             "whatsapp.opus", "telegram.oga", "memo.m4a", "phone.3gp", "phone.amr", "video.mp4",
             "voice.webm", "recorder.mp3", "voice.flac", "voice.wav" })
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestFromPhones::offered()
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

// A photo in each format phones keep, dropped on 4's row, handed to the program or chosen in the
// dialog, made from a picture stored lying that shows red above and blue below when turned as its
// file says; the largest phones take, made standing; and those no decoder should be asked to open.
// Faults: HEIC's or AVIF's rotation ignored; a format the window hands to no reader; a name in
// capitals, as an iPhone writes it, not taken for a photo; a photo dropped on a row read as a
// sound; a picture handed over read before its digit is chosen; the decoder's memory held to
// 1 GiB, which a large photo passes; a picture past the decoder's limits called damaged; a
// picture's decoder that crashes spoken of as a sound's; a FIFO or a device opened by the window
// or its decoder, which then hangs or reads for ever, or taken for a picture that is not there;
// "troppo tempo" said of a photo already kept; a drop refused, a voice message dropped taken for a
// photo, or cut for another digit than its row's. A chosen photo cut to the box's shape (counted
// things lost; a thin strip blown up to a gigabyte), or stretched, at one size only, its
// transparent parts black (readable by others: tst_family, as every file goes through one writer);
// something that is not a picture, or too large to decode, replacing the family's photo; a pair
// that the disk cuts short reported done, or half replaced, so that the lesson shows the new photo
// at 2x and the old at 1x; going back to the program's picture leaving theirs, or with no way back.
void TestFromPhones::ways_data()
{
    QTest::addColumn<QString>("way"); // "drop", "program", "dialog", or "dialog, disk full"
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("made"); // "fifo", "device", "sound", "given", or heif-enc's options
    QTest::addColumn<QByteArray>("given");
    QTest::addColumn<QSize>("size"); // a large photo's, made standing
    QTest::addColumn<QSize>("plain"); // the 1x file's size where it is kept, where known
    QTest::addColumn<QString>("said"); // where it is refused, how
    const auto row = [](const char *tag, const char *way, const char *name, const QString &made,
                         QSize size = {}, const QString &said = {}) {
        QTest::newRow(tag) << QString::fromLatin1(way) << QString::fromLatin1(name) << made
                           << QByteArray() << size << QSize() << said;
    };
    const auto given = [](const char *tag, const char *way, const char *name,
                           const QByteArray &bytes, QSize plain, const QString &said = {}) {
        QTest::newRow(tag) << QString::fromLatin1(way) << QString::fromLatin1(name) << u"given"_s
                           << bytes << QSize() << plain << said;
    };
    const QString phone = QStringLiteral("-q 90");
    row("WebP, dropped", "drop", "shared.webp", {});
    row("iPhone's HEIC, dropped", "drop", "IMG_0001.HEIC", phone);
    row("AVIF, handed over", "program", "photo.avif", phone);
    // Past 1 GiB of address space, where a 48-megapixel HEIC or AVIF stays well within it; the
    // encoder makes it 4:4:4 from 4:2:0.
    row("69 MP AVIF 4:4:4", "drop", "full.avif",
        u"-q 10 -p speed=9 -p realtime=true -p chroma=444"_s, QSize(7200, 9600));
    row("60000 x 60000 HEIC", "drop", "huge.heic", phone, {},
        u"Non riesco ad aprire huge.heic: la figura è troppo grande"_s);
    row("decoder crashes", "drop", "crash.heic", phone, {},
        u"Non riesco ad aprire crash.heic: il programma che legge le foto si è fermato"_s);
    const QString notAFile = QStringLiteral("non è un file");
    row("a FIFO named as a photo, handed over", "program", "IMG_0002.JPG", u"fifo"_s, {}, notAFile);
    row("a device named as an iPhone's photo", "drop", "IMG_0003.HEIC", u"device"_s, {}, notAFile);
    row("a FIFO named as a sound, dropped", "drop", "pipe.opus", u"fifo"_s, {}, notAFile);
    row("a device named as a sound, dropped", "drop", "zero.m4a", u"device"_s, {}, notAFile);
    row("a voice message, dropped", "drop", "nonna.wav", u"sound"_s); // made once for all
    QImage strip(60000, 60, QImage::Format_Indexed8);
    strip.setColorTable({ qRgb(255, 0, 0) });
    strip.fill(0);
    const QByteArray transparent = transparentPicture();
    given("a phone's photo, chosen", "dialog", "chosen.jpg", phonePhoto(), QSize(195, 260));
    given("a transparent one", "dialog", "clear.png", transparent, QSize(300, 200));
    given("a thin strip", "dialog", "strip.png", png(strip), QSize(460, 1));
    const QString unreadable = QStringLiteral("Non riesco ad aprire questa figura");
    given("not a picture", "dialog", "letter.jpg", "this is not", {}, unreadable);
    given("too large", "dialog", "large.png", hugePicture(), {},
        unreadable + u": la figura è troppo grande");
    given("the disk fills at the sharp one", "dialog, disk full", "clear.png", transparent, {},
        u"Non riesco a salvare la foto"_s);
}

void TestFromPhones::ways()
{
    QFETCH(QString, way);
    QFETCH(QString, name);
    QFETCH(QString, made);
    QFETCH(QByteArray, given);
    QFETCH(QSize, size);
    QFETCH(QSize, plain);
    QFETCH(QString, said);
    const QString file = here(name);
    QImage upright(300, 400, QImage::Format_RGB32);
    upright.fill(Qt::blue);
    QPainter(&upright).fillRect(0, 0, 300, 200, Qt::red);
    if (made == u"given") {
        QVERIFY(write(file, given));
    } else if (made == u"fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    } else if (made == u"device") {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), file));
    } else if (made.isEmpty()) {
        QVERIFY2(upright.save(file), "Qt's WebP plugin (qt6-image-formats-plugins) is needed");
    } else if (made != u"sound") {
        const QString source = here(size.isValid() ? u"made.y4m"_s : u"lying.png"_s);
        QVERIFY(size.isValid() ? flatPicture(source, size.width(), size.height())
                               : upright.transformed(QTransform().rotate(90)).save(source));
        make(QStringLiteral("heif-enc"), made + u" IN -o OUT", source, file);
        QFile::remove(source);
        QVERIFY(size.isValid()
            || (name == u"huge.heic" ? claimSize(file, 60000, 60000) : turnQuarter(file)));
    }
    // The family's photo from before, which only a good new one replaces.
    const QStringList names = { QStringLiteral("4.jpg"), QStringLiteral("4@2x.jpg") };
    for (const QString &kept : names)
        QVERIFY(write(familyFile(kept), "earlier " + kept.toUtf8()));
    if (name == u"crash.heic")
        standIn("kill -SEGV $$");
    // Read by a busy machine, the largest take some seconds more than a phone's photo; the short
    // limit is long enough for a small one, and short enough to be waited out below.
    const std::chrono::milliseconds limit(size.isValid() ? 90000 : 4000);
    m_window->import().pictures().setTimeLimit(limit);
    if (way == u"drop") {
        drop(file, 4);
    } else if (way == u"program") {
        m_window->open(file);
        // A picture waits for its digit; nothing is read before.
        QCOMPARE(status(), QStringLiteral("Per quale numero è questa foto?"));
        panel()->findChild<QComboBox *>()->setCurrentIndex(5);
        QTest::mouseClick(button("keepPart"), Qt::LeftButton);
    } else {
        QByteArray plainFile, twiceFile;
        QString reason;
        const bool full = way.endsWith(u"full");
        QVERIFY(!full || family::photoFiles(file, &plainFile, &twiceFile, &reason));
        withRoom(ulong(full ? (plainFile.size() + twiceFile.size()) / 2 : 0), [&] {
            m_window->import().usePhoto(4, file);
            QTRY_VERIFY(!status().endsWith(u'…'));
        });
    }
    if (made == u"sound") { // to that digit's cutting
        QTRY_VERIFY_WITH_TIMEOUT(panel()->isVisible(), 20000);
        QCOMPARE(panel()->digit(), 4);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith(u"Fatto") || status().contains(u"Non "), 100000);
    if (!said.isEmpty()) {
        QVERIFY2(status().contains(said) && status().endsWith(family::nothingChanged()),
            qPrintable(status()));
        QVERIFY(!panel()->isVisible());
        for (const QString &kept : names)
            QCOMPARE(contentOf(familyFile(kept)), "earlier " + kept.toUtf8());
        QCOMPARE(QDir(familyFile({})).entryList(QDir::Files | QDir::Hidden), names);
        return;
    }
    QVERIFY2(status().startsWith(u"Fatto"), qPrintable(status()));
    QByteArrayList saved;
    for (const QString &kept : names) {
        const QImage picture(familyFile(kept));
        QVERIFY(!plain.isValid() || picture.size() == (kept == names[0] ? plain : plain * 2));
        // Upright, the column past the transparent one's left third red above and blue below.
        const int x = picture.width() * 2 / 3;
        const QRgb top = picture.pixel(x, picture.height() / 5);
        const QRgb bottom = picture.pixel(x, picture.height() * 4 / 5);
        QVERIFY2(qRed(top) > 200 && qBlue(top) < 60
                && (picture.height() < 10 || (qBlue(bottom) > 200 && qRed(bottom) < 60)),
            qPrintable(QString::number(top, 16) + u' ' + QString::number(bottom, 16)));
        QVERIFY(qRed(picture.pixel(0, 0)) > 200); // not black: red, or the cards' ground
        saved << contentOf(familyFile(kept));
    }
    // The clock that gives up on a slow read has stopped with the read.
    if (!size.isValid() && made.startsWith(u'-')) {
        QTest::qWait(int(limit.count()) + 300);
        QVERIFY2(status().startsWith(u"Fatto"), qPrintable(status()));
    }
    QTest::mouseClick(button("programPicture", 4), Qt::LeftButton);
    QTRY_VERIFY(!button("programPicture", 4)->isEnabled());
    QCOMPARE(QDir(familyFile({})).entryList(QDir::Files | QDir::Hidden), QStringList());
    QTest::mouseClick(button("undo", 4), Qt::LeftButton);
    QTRY_COMPARE(contentOf(familyFile(names[1])), saved[1]);
    QCOMPARE(contentOf(familyFile(names[0])), saved[0]);
}

void TestFromPhones::move(bool end, const QString &by, int ms)
{
    family::CutView *zoom = strip("zoom");
    if (by != u"mouse") {
        const bool ctrl = by == u"keys";
        const Qt::KeyboardModifiers modifiers = (end ? Qt::ShiftModifier : Qt::NoModifier)
            | (ctrl ? Qt::ControlModifier : Qt::NoModifier);
        for (int done = 0; done < std::abs(ms); done += ctrl ? 200 : 20)
            QTest::keyClick(
                strip(ctrl ? "view" : "zoom"), ms < 0 ? Qt::Key_Left : Qt::Key_Right, modifiers);
        return;
    }
    const size_t from = end ? zoom->marked().end : zoom->marked().begin;
    const int x = zoom->xOf(from), to = zoom->xOf(size_t(qint64(from) + samplesIn(ms)));
    // Through the window, as the pointer goes: whatever lies over the strip takes it first.
    QWindow *window = m_window->windowHandle();
    const auto at
        = [&](int px) { return zoom->mapTo(m_window.get(), QPoint(px, zoom->height() / 2)); };
    QTest::mousePress(window, Qt::LeftButton, {}, at(x));
    for (int step = 1; step <= 20; ++step)
        QTest::mouseMove(window, at(x + (to - x) * step / 20));
    QTest::mouseRelease(window, Qt::LeftButton, {}, at(to));
}

// A two-minute message handed to the program ("Apri con"), whose last word, or the last second and
// a half of a sentence said in one breath, is marked, its handles moved apart in the closer strip,
// with the mouse or the keys, or by the keys in the whole; both strips mark the same part, which
// is heard, and kept once the parent has said for which digit. Faults: the first guess on the
// first word, or on all of them, or a sentence said in one breath marked whole, or from its
// beginning; the strip never shown, or showing the whole; its x read as time on the whole's
// scale; the pointer not reaching it; its handles moving only its own marks; its scale changing
// under a handle being dragged; the strip left behind when the keys move the handles; a key's
// step, or Shift's or Ctrl's meaning, changed from what the tooltip says; the closer strip deaf to
// the keys; the start pushed past the end, or the end past the sound's; a piece kept for no digit;
// the piece played or kept other than the one marked.
void TestFromPhones::apart_data()
{
    QTest::addColumn<QString>("startBy");
    QTest::addColumn<int>("startMs");
    QTest::addColumn<QString>("endBy");
    QTest::addColumn<int>("endMs");
    QTest::addColumn<QString>("message");
    // The start taken near the strip's edge, where it is fitted anew once let go.
    QTest::newRow("mouse, both") << "mouse" << -700 << "mouse" << 300 << "nonna.wav";
    QTest::newRow("keys, then mouse") << "keys" << -400 << "mouse" << 250 << "nonna.wav";
    QTest::newRow("arrows, both") << "arrows" << -100 << "arrows" << 60 << "pausa.wav";
    QTest::newRow("a sentence without pauses") << "mouse" << -300 << "keys" << -200 << "frase.wav";
    // Each handle kept a tenth of a second from the other, and within the sound.
    QTest::newRow("keys, past both bounds") << "keys" << 2000 << "keys" << 5000 << "nonna.wav";
}

void TestFromPhones::apart()
{
    QFETCH(QString, startBy);
    QFETCH(int, startMs);
    QFETCH(QString, endBy);
    QFETCH(int, endMs);
    QFETCH(QString, message);
    m_window->open(here(message));
    QTRY_VERIFY_WITH_TIMEOUT(status().contains(u"Scegli prima per quale numero"), 20000);
    QCOMPARE(panel()->digit(), -1);
    QVERIFY(!button("keepPart")->isEnabled());
    family::CutView *view = strip("view"), *zoom = strip("zoom");
    // Once the window has made room for the strip.
    QTRY_VERIFY(zoom->isVisible() && zoom->width() == view->width());
    const family::Span guess = view->marked();
    // The word, or the sentence's last second and a half, and the margins kept around a word.
    const qint64 from = message == u"frase.wav" ? m_setteEnds - samplesIn(1700) : samplesIn(115800);
    QVERIFY(qint64(guess.begin) >= from);
    QVERIFY(qint64(guess.end) >= m_setteEnds - samplesIn(50));
    QVERIFY(qint64(guess.end) <= samplesIn(117500));
    // Crowded on the whole, well apart in the strip.
    QVERIFY(view->xOf(guess.end) - view->xOf(guess.begin) < 30);
    QVERIFY(zoom->xOf(guess.end) - zoom->xOf(guess.begin) > 200);

    move(false, startBy, startMs);
    move(true, endBy, endMs);
    const family::Span cut = view->marked();
    // Within a strip's pixel or so of where they were taken.
    const qint64 start
        = std::min(qint64(guess.begin) + samplesIn(startMs), qint64(guess.end) - samplesIn(100));
    const qint64 end = std::min(qint64(guess.end) + samplesIn(endMs), qint64(view->sound().size()));
    QCOMPARE_LE(std::abs(qint64(cut.begin) - start), samplesIn(10));
    QCOMPARE_LE(std::abs(qint64(cut.end) - end), samplesIn(10));
    QCOMPARE(zoom->marked(), cut);

    QTest::mouseClick(button("listenPart"), Qt::LeftButton);
    const std::vector<qint16> piece = panel()->piece();
    // Its loud part: silence matches anywhere (slowly); SDL 3 keeps a stream's last samples back.
    const auto isLoud = [](qint16 sample) { return std::abs(sample) > 200; };
    const std::vector<qint16> loud(std::find_if(piece.begin(), piece.end(), isLoud),
        std::find_if(piece.rbegin(), piece.rend(), isLoud).base());
    QTRY_COMPARE_WITH_TIMEOUT(
        timesHeard(contentOf(here(QStringLiteral("speaker.raw"))), loud), 1, 5000);
    panel()->findChild<QComboBox *>()->setCurrentIndex(8); // the 7
    QTest::mouseClick(button("keepPart"), Qt::LeftButton);
    QTRY_VERIFY(status().startsWith(u"Fatto"));
    QCOMPARE(piece.size(), cut.end - cut.begin);
    QCOMPARE(pcm(familyFile(QStringLiteral("7.wav"))), piece);
}

QTEST_MAIN(TestFromPhones)
#include "tst_fromphones.moc"
