#include "family/cutview.h"

#include "lesson/wav.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace family {

namespace {
constexpr int margin = 6; // room for a handle at either end
constexpr int grip = 10; // how near a handle the mouse grabs it
constexpr qint64 shortest = lesson::playRate / 10; // 100 ms
constexpr qint64 keyStep = lesson::playRate / 50; // 20 ms
} // namespace

CutView::CutView(QWidget *parent)
    : QWidget(parent)
    , m_samples(std::make_shared<const std::vector<qint16>>())
{
    setFocusPolicy(Qt::StrongFocus);
    setMinimumHeight(70);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("Il suono, con la parte da tenere fra due maniglie"));
    setToolTip(QStringLiteral("Trascina le maniglie; da tastiera ← → spostano l'inizio, "
                              "Maiusc+← → la fine"));
}

void CutView::setSound(const std::vector<qint16> &samples, Span marked)
{
    m_samples = std::make_shared<const std::vector<qint16>>(samples);
    m_marked = marked;
    m_shown = { 0, samples.size() };
    m_lens = {};
    m_dragged = Handle::None;
    measure();
    update();
}

void CutView::lookAt(const CutView &whole, Span shown)
{
    const bool redraw = m_samples != whole.m_samples || m_shown != shown;
    m_samples = whole.m_samples;
    m_marked = whole.m_marked;
    m_shown = shown;
    if (redraw)
        measure();
    update();
}

void CutView::setMarked(Span marked)
{
    m_marked = marked;
    update();
}

void CutView::setLens(Span lens)
{
    m_lens = lens;
    update();
}

int CutView::xOf(size_t at) const
{
    const qint64 width = std::max(1, this->width() - 2 * margin);
    const qint64 length = std::max<qint64>(1, qint64(m_shown.end) - qint64(m_shown.begin));
    return margin + int((qint64(at) - qint64(m_shown.begin)) * width / length);
}

size_t CutView::sampleAt(int x) const
{
    const int width = std::max(1, this->width() - 2 * margin);
    const qint64 length = qint64(m_shown.end) - qint64(m_shown.begin);
    return m_shown.begin + size_t(qint64(std::clamp(x - margin, 0, width)) * length / width);
}

void CutView::move(Handle handle, qint64 at)
{
    const qint64 total = qint64(m_samples->size());
    if (handle == Handle::Begin)
        m_marked.begin = size_t(std::clamp<qint64>(at, 0, qint64(m_marked.end) - shortest));
    else if (handle == Handle::End)
        m_marked.end = size_t(std::clamp<qint64>(at, qint64(m_marked.begin) + shortest, total));
    update();
    Q_EMIT markedChanged();
}

void CutView::measure()
{
    const int width = std::max(1, this->width() - 2 * margin);
    m_columns.assign(size_t(width), { 0, 0 });
    const std::vector<qint16> &samples = *m_samples;
    const size_t end = std::min(m_shown.end, samples.size());
    if (m_shown.begin >= end)
        return;
    const qint64 length = qint64(end - m_shown.begin);
    for (int x = 0; x < width; ++x) {
        const size_t from = m_shown.begin + size_t(qint64(x) * length / width);
        const size_t to
            = std::max(from + 1, m_shown.begin + size_t(qint64(x + 1) * length / width));
        const auto [low, high] = std::minmax_element(
            samples.begin() + qsizetype(from), samples.begin() + qsizetype(std::min(to, end)));
        m_columns[size_t(x)] = { *low, *high };
    }
}

void CutView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    measure();
}

void CutView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    if (m_samples->empty())
        return;
    const int begin = xOf(m_marked.begin), end = xOf(m_marked.end);
    painter.fillRect(QRect(QPoint(begin, 0), QPoint(end, height() - 1)),
        palette().highlight().color().lighter(170));
    const int middle = height() / 2;
    const double scale = (height() / 2 - 4) / 32768.0;
    for (size_t x = 0; x < m_columns.size(); ++x) {
        const int at = margin + int(x);
        painter.setPen(
            at >= begin && at <= end ? palette().highlight().color() : palette().mid().color());
        painter.drawLine(at, middle - int(m_columns[x].second * scale), at,
            middle - int(m_columns[x].first * scale));
    }
    painter.setPen(QPen(palette().text().color(), 2));
    for (const int x : { begin, end }) {
        painter.drawLine(x, 0, x, height());
        painter.fillRect(x - 4, 0, 9, 10, palette().text());
        painter.fillRect(x - 4, height() - 10, 9, 10, palette().text());
    }
    if (m_lens.end > m_lens.begin) {
        painter.setPen(QPen(palette().text().color(), 1, Qt::DashLine));
        painter.drawRect(
            QRect(QPoint(xOf(m_lens.begin), 1), QPoint(xOf(m_lens.end), height() - 2)));
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().highlight().color(), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void CutView::mousePressEvent(QMouseEvent *event)
{
    if (m_samples->empty() || event->button() != Qt::LeftButton)
        return;
    const int x = event->position().toPoint().x();
    const int toBegin = std::abs(x - xOf(m_marked.begin)), toEnd = std::abs(x - xOf(m_marked.end));
    m_dragged = toBegin < toEnd || (toBegin == toEnd && x < xOf(m_marked.begin)) ? Handle::Begin
                                                                                 : Handle::End;
    // Pressed away from both: the nearer one comes to the mouse.
    if (std::min(toBegin, toEnd) > grip)
        move(m_dragged, qint64(sampleAt(x)));
}

void CutView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragged != Handle::None)
        move(m_dragged, qint64(sampleAt(event->position().toPoint().x())));
}

void CutView::mouseReleaseEvent(QMouseEvent *)
{
    if (m_dragged == Handle::None)
        return;
    m_dragged = Handle::None;
    Q_EMIT dropped();
}

void CutView::keyPressEvent(QKeyEvent *event)
{
    const int direction = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    if (direction == 0 || m_samples->empty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    const qint64 step = direction * keyStep * (event->modifiers() & Qt::ControlModifier ? 10 : 1);
    if (event->modifiers() & Qt::ShiftModifier)
        move(Handle::End, qint64(m_marked.end) + step);
    else
        move(Handle::Begin, qint64(m_marked.begin) + step);
}

} // namespace family
