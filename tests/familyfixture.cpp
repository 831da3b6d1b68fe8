#include "familyfixture.h"

#include "diskaudio.h"
#include "phonefiles.h"
#include "testkit.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QTest>

namespace testkit {

QString FamilyFixture::data() const
{
    return here(QString::fromLatin1(QTest::currentTestFunction()) + u'-'
        + QString::fromUtf8(QTest::currentDataTag()) + u" dati é");
}

void FamilyFixture::openWindow()
{
    QVERIFY(QDir().mkpath(here(QStringLiteral("home"))));
    qputenv("HOME", QFile::encodeName(here(QStringLiteral("home"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(data()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(data() + u"/config"));
    qputenv("NUMERI_DECODER", NUMERI_DECODER);
    diskFormat(true); // asked before the window's own SDL starts
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(here(QStringLiteral("speaker.raw"))));
    qputenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(here(QStringLiteral("mic.raw"))));
    m_sound = std::make_unique<lesson::SdlSound>();
    m_window = std::make_unique<family::FamilyWindow>(*m_sound, QFileInfo(builtMedia()).path());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void FamilyFixture::closeWindow()
{
    m_sound->stop(std::chrono::seconds(5));
    m_window.reset();
    m_sound.reset();
}

QString FamilyFixture::status() const
{
    return m_window->findChild<QLabel *>(QStringLiteral("status"))->text();
}

QPushButton *FamilyFixture::button(const char *name, int digit) const
{
    if (digit < 0)
        return panel()->findChild<QPushButton *>(QString::fromLatin1(name));
    return m_window->findChildren<QPushButton *>(QString::fromLatin1(name)).at(digit);
}

void FamilyFixture::make(
    const QString &program, const QString &options, const QString &source, const QString &made)
{
    QStringList arguments = options.split(u' ');
    for (QString &a : arguments)
        a = a == u"IN" ? source : a == u"OUT" ? made : a;
    const QString failed = runTool(program, arguments);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
}

void FamilyFixture::standIn(const QByteArray &lines)
{
    const QString script = here(QStringLiteral("decoder"));
    QVERIFY(write(script, "#!/bin/sh\n" + lines + '\n'));
    QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));
    qputenv("NUMERI_DECODER", QFile::encodeName(script));
}

void FamilyFixture::drop(const QString &file, int digit)
{
    QWidget *row = button("chooseSound", digit)->parentWidget();
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(file) });
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(row, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(row, &drop);
}

} // namespace testkit
