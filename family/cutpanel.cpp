#include "family/cutpanel.h"

#include "family/familywindow.h"
#include "family/italian.h"
#include "lesson/wav.h"
#include "ui_cutpanel.h"

namespace family {

namespace {
const QString nothingMarked
    = QStringLiteral("Fra le maniglie non c'è nessun suono: spostale sulla parola.");
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
    show();
    if (digit < 0)
        m_ui->digit->setFocus();
}

void CutPanel::showPicture(const QString &file, const QString &about)
{
    m_picture = file;
    m_ui->view->hide();
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
