#include "family/cutpanel.h"

#include "family/italian.h"
#include "lesson/wav.h"
#include "ui_cutpanel.h"

namespace family {

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
            Q_EMIT said(
                u"Per " + theDigit(digit()) + u": ascolta il pezzo, poi «Usa questo pezzo».");
    };
    connect(m_ui->digit, &QComboBox::currentIndexChanged, this, choosable);
    connect(m_ui->listenPart, &QPushButton::clicked, this, [this] {
        const std::vector<qint16> part = piece();
        if (part.empty())
            Q_EMIT said(
                QStringLiteral("Fra le maniglie non c'è nessun suono: spostale sulla parola."));
        else
            Q_EMIT listenTo(part);
    });
    connect(m_ui->keepPart, &QPushButton::clicked, this, [this] {
        const std::vector<qint16> part = piece();
        if (part.empty())
            Q_EMIT said(QStringLiteral("Fra le maniglie non c'è nessun suono: spostale sulla "
                                       "parola. Non è cambiato niente."));
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
    m_ui->about->setText(about);
    m_ui->digit->setCurrentIndex(digit + 1);
    m_ui->keepPart->setEnabled(digit >= 0);
    m_ui->view->setSound(samples, marked);
    show();
    if (digit < 0)
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
