#pragma once

#include <QWidget>

class QScreen;

namespace lock {

// The black screen the locked lesson is shown on: FORM, a window of its own otherwise, sits at
// its own size in the middle, and the screen around it is the program's too, pointer included.
// It fills the screen it starts on, and follows that screen's size.
class FullScreen : public QWidget
{
    Q_OBJECT
public:
    explicit FullScreen(QWidget *form);

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void follow(QScreen *screen);

    QScreen *m_followed = nullptr;
};

} // namespace lock
