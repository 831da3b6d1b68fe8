#pragma once

#include "family/voice.h"

#include <QWidget>
#include <vector>

namespace family {

// A sound's waveform with the part to keep marked between two handles. Either handle follows
// the mouse from wherever it is grabbed or pressed nearest; on the keyboard, Left and Right move
// the start, with Shift the end, by 20 ms (with Ctrl by 200 ms).
class CutView : public QWidget
{
    Q_OBJECT
public:
    explicit CutView(QWidget *parent = nullptr);

    void setSound(const std::vector<qint16> &samples, Span marked);
    const std::vector<qint16> &sound() const { return m_samples; }
    Span marked() const { return m_marked; }
    // Where sample AT is drawn, in the widget's coordinates.
    int xOf(size_t at) const;

    QSize sizeHint() const override { return { 600, 90 }; }

Q_SIGNALS:
    void markedChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    enum class Handle { None, Begin, End };
    size_t sampleAt(int x) const;
    // Moves HANDLE to sample AT, keeping the part at least its shortest.
    void move(Handle handle, qint64 at);
    void measure();

    std::vector<qint16> m_samples;
    Span m_marked;
    Handle m_dragged = Handle::None;
    std::vector<std::pair<qint16, qint16>> m_columns; // lowest and highest sample of each pixel
};

} // namespace family
