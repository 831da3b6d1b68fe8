#pragma once

#include "family/voice.h"

#include <QWidget>
#include <memory>
#include <vector>

namespace family {

// A sound's waveform with the part to keep marked between two handles. Either handle follows
// the mouse from wherever it is grabbed or pressed nearest; on the keyboard, Left and Right move
// the start, with Shift the end, by 20 ms (with Ctrl by 200 ms). It draws the whole sound, or
// only a stretch of it across its width, to look closer at the handles.
class CutView : public QWidget
{
    Q_OBJECT
public:
    explicit CutView(QWidget *parent = nullptr);

    void setSound(const std::vector<qint16> &samples, Span marked);
    // Shows WHOLE's sound and marks, only the stretch SHOWN of it drawn across the width.
    void lookAt(const CutView &whole, Span shown);
    // Marks MARKED, as moved elsewhere: no markedChanged.
    void setMarked(Span marked);
    // Outlines LENS, the stretch shown closer elsewhere; empty for none.
    void setLens(Span lens);
    const std::vector<qint16> &sound() const { return *m_samples; }
    Span marked() const { return m_marked; }
    Span shown() const { return m_shown; }
    bool dragging() const { return m_dragged != Handle::None; }
    // Where sample AT is drawn, in the widget's coordinates.
    int xOf(size_t at) const;

    QSize sizeHint() const override { return { 600, 90 }; }

Q_SIGNALS:
    void markedChanged();
    // A handle let go by the mouse.
    void dropped();

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

    // Shared with a closer view of the same sound: two minutes are 5 MB.
    std::shared_ptr<const std::vector<qint16>> m_samples;
    Span m_marked;
    Span m_shown; // the stretch drawn from the left margin to the right one
    Span m_lens;
    Handle m_dragged = Handle::None;
    std::vector<std::pair<qint16, qint16>> m_columns; // lowest and highest sample of each pixel
};

} // namespace family
