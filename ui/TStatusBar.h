#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

class QPainter;
class TStatusBar;

// A panel of the status bar: a fixed width, a text, and whether the program draws it itself.
struct TStatusPanel {
    int Width = 50;
    QString Text;
    bool OwnerDraw = false;
};

// Draws an owner-drawn panel: the painter of the bar, the panel's index and its rectangle.
using TDrawPanelEvent =
    std::function<void(TStatusBar* StatusBar, QPainter& Canvas, int Panel, const QRect& Rect)>;

// A status bar of panels laid out left to right at their widths (the last one takes the rest of
// the bar), each showing its text or drawn by the program through OnDrawPanel.
class TStatusBar : public QWidget {
public:
    explicit TStatusBar(QWidget* parent = nullptr);

    void SetPanels(const QList<TStatusPanel>& panels);
    int PanelCount() const { return int(m_panels.size()); }
    const TStatusPanel& Panel(int index) const { return m_panels.at(index); }
    void SetPanelText(int index, const QString& text);
    // The rectangle of a panel inside the bar.
    QRect PanelRect(int index) const;

    TDrawPanelEvent OnDrawPanel;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<TStatusPanel> m_panels;
};
