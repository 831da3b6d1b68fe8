#pragma once

#include <QMessageBox>
#include <QPointer>

namespace lock {

// A message box drawn inside AREA, centred on it, rather than as a window of its own: in the
// locked lesson a second window would be one the desktop places, focuses and lets keys past, and
// one that a window manager may take the full screen away for. Its title, shown by no title bar,
// is drawn at its top. While it is open a clear cover over AREA takes every click, and Tab stays
// in it, so nothing but its button answers; exec() runs its own event loop as a dialog's does.
class BoxInWindow : public QMessageBox
{
    Q_OBJECT
public:
    BoxInWindow(Icon icon, const QString &title, const QString &text, QWidget *area);
    ~BoxInWindow() override;

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void place();
    QFont titleFont() const;

    QPointer<QWidget> m_area;
    QPointer<QWidget> m_cover;
};

} // namespace lock
