#include "lock/boxinwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

namespace lock {

namespace {
constexpr int titleGap = 10; // above and below the title, as a title bar's own
}

BoxInWindow::BoxInWindow(Icon icon, const QString &title, const QString &text, QWidget *area)
    : QMessageBox(icon, title, text, QMessageBox::Ok)
    , m_area(area)
    , m_cover(new QWidget(area))
{
    m_cover->setAttribute(Qt::WA_NoMousePropagation);
    m_cover->setGeometry(area->rect());
    m_cover->hide();
    setParent(area, Qt::Widget);
    // A child takes its parent's colours, and the lesson's are black: the box keeps a box's own,
    // each of them, so that none comes from the black window around it.
    QPalette own = QApplication::palette(this);
    own.setResolveMask(~QPalette::ResolveMask(0));
    setPalette(own);
    setAutoFillBackground(true);
    setContentsMargins(1, QFontMetrics(titleFont()).height() + 2 * titleGap, 1, 1);
    area->installEventFilter(this);
}

BoxInWindow::~BoxInWindow()
{
    delete m_cover;
}

QFont BoxInWindow::titleFont() const
{
    QFont bold = font();
    bold.setBold(true);
    return bold;
}

void BoxInWindow::showEvent(QShowEvent *event)
{
    // The dialog's own showing sizes the box to its text and moves it as a window: placed after.
    QMessageBox::showEvent(event);
    m_cover->show();
    m_cover->raise();
    raise();
    place();
    // A dialog gives its button the keyboard only when it is a window of its own.
    if (QAbstractButton *ok = button(QMessageBox::Ok))
        ok->setFocus(Qt::ActiveWindowFocusReason);
}

void BoxInWindow::place()
{
    if (!m_area)
        return;
    m_cover->setGeometry(m_area->rect());
    move((m_area->width() - width()) / 2, (m_area->height() - height()) / 2);
}

bool BoxInWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Whatever resizes the lesson's window keeps the box in its middle.
    if (watched == m_area && event->type() == QEvent::Resize)
        place();
    return QMessageBox::eventFilter(watched, event);
}

void BoxInWindow::paintEvent(QPaintEvent *event)
{
    QMessageBox::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(titleFont());
    painter.drawText(QRect(0, 0, width(), contentsMargins().top()), Qt::AlignCenter, windowTitle());
}

bool BoxInWindow::focusNextPrevChild(bool)
{
    // Tab would walk on into the lesson behind, to the key catcher.
    return true;
}

} // namespace lock
