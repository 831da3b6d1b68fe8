#pragma once

#include <QWidget>

class QScreen;

namespace lock {

// The largest factor, a little under MOST at the least, at which a form of FORM logical pixels
// sits in the middle of a screen of NATIVE pixels to within a third of a pixel, as the form lies
// on whole logical pixels; else the one nearest the middle.
qreal centredFactor(QSizeF native, QSize form, qreal most);

// The black screen the locked lesson is shown on: FORM, a window of its own otherwise, fills it
// as far as its proportions allow, in the middle, and the screen around it is the program's too,
// pointer included. It fills the screen it is on, and follows that screen's size.
class FullScreen : public QWidget
{
    Q_OBJECT
public:
    explicit FullScreen(QWidget *form);
    ~FullScreen() override;

    // Shows it full screen on the screen the desktop gives the keyboard to.
    void showWhereTheKeysAre();

Q_SIGNALS:
    // The form's scale has changed, and the window's device pixel ratio with it to SCREEN. From Qt
    // 6.6 on the window itself tells its new ratio only once Qt has delivered the change, later.
    void rescaled(qreal screen);

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void follow(QScreen *screen);
    void fit();

    QWidget *m_form;
    QScreen *m_followed = nullptr;
    qreal m_factor = 1; // the one given to m_followed
    bool m_fitting = false;
};

} // namespace lock
