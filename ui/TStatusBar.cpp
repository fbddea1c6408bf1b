#include "ui/TStatusBar.h"

#include "ui/ErrorRoute.h"

#include <QPainter>
#include <QStringList>
#include <QStyle>
#include <QStyleOption>

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TStatusBar::SetPanels(const QList<TStatusPanel>& panels) {
    m_panels = panels;
    update();
}

void TStatusBar::SetPanelText(int index, const QString& text) {
    if (index < 0 || index >= m_panels.size() || m_panels[index].Text == text)
        return;
    m_panels[index].Text = text;
    update(PanelRect(index));
    // The texts also reach the accessibility bus, as the bar's description.
    QStringList texts;
    for (const TStatusPanel& panel : m_panels)
        texts.append(panel.Text);
    setAccessibleDescription(texts.join(QLatin1String(" | ")));
}

QRect TStatusBar::PanelRect(int index) const {
    if (index < 0 || index >= m_panels.size())
        return {};
    int left = 0;
    for (int i = 0; i < index; ++i)
        left += m_panels[i].Width;
    int width = m_panels[index].Width;
    if (index == m_panels.size() - 1)
        width = std::max(width, this->width() - left);
    // A two-pixel gap separates panels, as the sunken frames need.
    return QRect(left + 1, 2, std::max(0, width - 3), std::max(0, height() - 3));
}

QSize TStatusBar::sizeHint() const {
    int width = 0;
    for (const TStatusPanel& panel : m_panels)
        width += panel.Width;
    return QSize(width, fontMetrics().height() + 8);
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    for (int i = 0; i < m_panels.size(); ++i) {
        const QRect r = PanelRect(i);
        if (r.isEmpty())
            continue;
        QStyleOptionFrame frame;
        frame.initFrom(this);
        frame.rect = r.adjusted(-1, -1, 1, 1);
        frame.lineWidth = 1;
        frame.state |= QStyle::State_Sunken;
        style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);
        if (m_panels[i].OwnerDraw) {
            if (OnDrawPanel) {
                painter.save();
                painter.setClipRect(r);
                try {
                    OnDrawPanel(this, painter, i, r);
                } catch (...) {
                    qdx::ui::routeCurrentException(this);
                }
                painter.restore();
            }
            continue;
        }
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(r.adjusted(3, 0, -3, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         m_panels[i].Text);
    }
}
