#pragma once

#include "family/voice.h"

#include <QGroupBox>
#include <memory>
#include <vector>

namespace Ui {
class CutPanel;
}

namespace family {

// Under the digits' rows: a take or a sound file shown whole, with the part to keep marked, to be
// listened to and kept as a digit's word; or a picture handed to the program, waiting to be told
// its digit. Hidden while there is nothing to cut.
class CutPanel : public QGroupBox
{
    Q_OBJECT
public:
    explicit CutPanel(QWidget *parent = nullptr);
    ~CutPanel() override;

    // Shows SAMPLES, marked at MARKED, for DIGIT (-1: the parent is asked which), with ABOUT
    // saying where it came from.
    void showSound(
        const std::vector<qint16> &samples, Span marked, int digit, const QString &about);
    // Shows the picture FILE handed to the program, for the parent to say which digit it is for.
    void showPicture(const QString &file, const QString &about);
    int digit() const;
    // The marked part, levelled as the lesson plays it; empty where it holds no sound.
    std::vector<qint16> piece() const;

Q_SIGNALS:
    void listenTo(const std::vector<qint16> &samples);
    void keepPiece(int digit, const std::vector<qint16> &samples);
    void keepPhoto(int digit, const QString &file);
    void said(const QString &text);
    // Shown or hidden: the window makes room for it.
    void visibilityChanged(bool visible);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Shows the closer strip where the marked part is narrow on the whole, fitted around it.
    void arrange();

    std::unique_ptr<Ui::CutPanel> m_ui;
    QString m_picture; // the picture shown instead of a sound, where one is
};

} // namespace family
