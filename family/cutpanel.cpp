#include "family/cutpanel.h"

#include "family/familywindow.h"
#include "family/italian.h"
#include "lesson/wav.h"
#include "ui_cutpanel.h"

#include <algorithm>

namespace family {

namespace {
const QString nothingMarked
    = QStringLiteral("Fra le maniglie non c'è nessun suono: spostale sulla parola.");

// A word in a message of a minute or two is a few pixels wide on the whole, its handles on top of
// each other. A second strip shows it closer, under the whole, rather than a zoom the parent has to
// work: it is there as soon as it is needed, the whole stays in sight to go elsewhere, and both
// strips move the same two handles. It comes only where the marked part is narrower than NARROW,
// taking most of the whole's height, so that the window grows little; it goes only past WIDE, so
// that a key pressed at the border does not make the panel jump at every press.
constexpr int narrow = 60;
constexpr int wide = 90;
constexpr int wholeHeight = 90, overviewHeight = 44, closeHeight = 64;

// The marked part in the middle third, and at least a second, so that a short word's handles
// stand well apart and there is room to widen it.
Span around(Span marked, size_t total)
{
    const size_t length
        = std::min(total, std::max<size_t>(3 * (marked.end - marked.begin), lesson::playRate));
    const size_t middle = (marked.begin + marked.end) / 2;
    const size_t begin = std::min(middle - std::min(middle, length / 2), total - length);
    return { begin, begin + length };
}

// The stretch shown stays put while the handles move well inside it, as the eye follows them
// more easily than a strip that scrolls at every key; it is fitted again once a handle nears its
// edge, or the part has shrunk to a small piece of it.
bool fitted(Span shown, Span marked, size_t total)
{
    const size_t length = shown.end - shown.begin, room = length / 10;
    if (length == 0 || shown.end > total)
        return false;
    const bool nearLeft = shown.begin > 0 && marked.begin < shown.begin + room;
    const bool nearRight = shown.end < total && marked.end + room > shown.end;
    const bool small
        = length > size_t(lesson::playRate) && (marked.end - marked.begin) * 6 < length;
    return !nearLeft && !nearRight && !small;
}
} // namespace

CutPanel::CutPanel(QWidget *parent)
    : QGroupBox(parent)
    , m_ui(std::make_unique<Ui::CutPanel>())
{
    m_ui->setupUi(this);
    m_ui->digit->addItem(QStringLiteral("scegli…"), -1);
    for (int d = 0; d <= 9; ++d)
        m_ui->digit->addItem(QString::number(d), d);
    const auto choosable = [this] {
        m_ui->keepPart->setEnabled(digit() >= 0);
        if (isVisible() && digit() >= 0)
            Q_EMIT said(u"Per " + theDigit(digit()) + u": "
                + (m_picture.isEmpty() ? QStringLiteral("ascolta il pezzo, poi «Usa questo pezzo».")
                                       : QStringLiteral("«Usa questa foto» la prepara.")));
    };
    connect(m_ui->digit, &QComboBox::currentIndexChanged, this, choosable);
    connect(m_ui->listenPart, &QPushButton::clicked, this, [this] {
        const std::vector<qint16> part = piece();
        if (part.empty())
            Q_EMIT said(nothingMarked);
        else
            Q_EMIT listenTo(part);
    });
    connect(m_ui->keepPart, &QPushButton::clicked, this, [this] {
        if (!m_picture.isEmpty()) {
            Q_EMIT keepPhoto(digit(), m_picture);
            hide();
            return;
        }
        const std::vector<qint16> part = piece();
        if (part.empty())
            Q_EMIT said(nothingMarked + nothingChanged());
        else
            Q_EMIT keepPiece(digit(), part);
    });
    connect(m_ui->dismiss, &QPushButton::clicked, this, &QWidget::hide);
    connect(m_ui->view, &CutView::markedChanged, this, &CutPanel::arrange);
    connect(m_ui->view, &CutView::dropped, this, &CutPanel::arrange);
    connect(m_ui->zoom, &CutView::markedChanged, this, [this] {
        m_ui->view->setMarked(m_ui->zoom->marked());
        arrange();
    });
    connect(m_ui->zoom, &CutView::dropped, this, &CutPanel::arrange);
    m_ui->zoom->setFixedHeight(closeHeight);
    m_ui->zoom->hide();
    m_ui->view->setFixedHeight(wholeHeight);
    hide();
}

CutPanel::~CutPanel() = default;

void CutPanel::showEvent(QShowEvent *event)
{
    QGroupBox::showEvent(event);
    Q_EMIT visibilityChanged(true);
}

void CutPanel::hideEvent(QHideEvent *event)
{
    QGroupBox::hideEvent(event);
    Q_EMIT visibilityChanged(false);
}

void CutPanel::resizeEvent(QResizeEvent *event)
{
    QGroupBox::resizeEvent(event);
    // The first time, the whole's width is known only now.
    arrange();
}

void CutPanel::arrange()
{
    CutView *view = m_ui->view, *zoom = m_ui->zoom;
    const Span marked = view->marked();
    // Neither strip changes height under a handle being dragged.
    if (!view->dragging() && !zoom->dragging() && m_picture.isEmpty()) {
        const int pixels = view->xOf(marked.end) - view->xOf(marked.begin);
        const bool close = zoom->isHidden() ? pixels < narrow : pixels < wide;
        zoom->setVisible(close);
        view->setFixedHeight(close ? overviewHeight : wholeHeight);
    }
    // The strip being dragged in keeps its scale until the handle is let go; a hidden one is
    // fitted once it shows.
    Span shown = zoom->shown();
    if (!zoom->dragging() && !zoom->isHidden()) {
        if (!fitted(shown, marked, view->sound().size()))
            shown = around(marked, view->sound().size());
        zoom->lookAt(*view, shown);
    }
    view->setLens(zoom->isHidden() ? Span {} : shown);
}

void CutPanel::showSound(
    const std::vector<qint16> &samples, Span marked, int digit, const QString &about)
{
    m_picture.clear();
    setTitle(QStringLiteral("Tieni solo la parola"));
    m_ui->view->show();
    m_ui->listenPart->show();
    m_ui->keepPart->setText(QStringLiteral("Usa questo pezzo"));
    m_ui->about->setText(about);
    m_ui->digit->setCurrentIndex(digit + 1);
    m_ui->keepPart->setEnabled(digit >= 0);
    m_ui->view->setSound(samples, marked);
    m_ui->zoom->lookAt(*m_ui->view, {}); // fitted anew
    arrange();
    show();
    if (digit < 0)
        m_ui->digit->setFocus();
}

void CutPanel::showPicture(const QString &file, const QString &about)
{
    m_picture = file;
    m_ui->view->hide();
    m_ui->zoom->hide();
    m_ui->listenPart->hide();
    m_ui->keepPart->setText(QStringLiteral("Usa questa foto"));
    m_ui->about->setText(about);
    m_ui->digit->setCurrentIndex(0);
    m_ui->keepPart->setEnabled(false);
    setTitle(QStringLiteral("Una foto per un numero"));
    show();
    m_ui->digit->setFocus();
}

int CutPanel::digit() const
{
    return m_ui->digit->currentData().toInt();
}

std::vector<qint16> CutPanel::piece() const
{
    return levelWord(m_ui->view->sound(), m_ui->view->marked());
}

} // namespace family
