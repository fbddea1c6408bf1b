#include "editor/TSpinEdit.h"

#include <QKeyEvent>
#include <QToolButton>

#include <limits>

namespace {

constexpr int kButtonWidth = 15;

} // namespace

TSpinEdit::TSpinEdit(QWidget* parent) : QLineEdit(parent) {
    m_up = new QToolButton(this);
    m_down = new QToolButton(this);
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {m_up, m_down}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::ArrowCursor);
        button->setAutoRaise(false);
    }
    connect(m_up, &QToolButton::clicked, this, [this] { step(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { step(-1); });
    connect(this, &QLineEdit::textChanged, this, [this] { Q_EMIT Change(); });
    setTextMargins(0, 0, kButtonWidth, 0);
    setText(QStringLiteral("0"));
    placeButtons();
}

qint64 TSpinEdit::Value() const {
    bool ok = false;
    const qint64 value = text().trimmed().toLongLong(&ok);
    return ok ? value : m_min;
}

qint64 TSpinEdit::CheckValue(qint64 value) const {
    if (m_min == m_max)
        return value;
    if (value < m_min)
        return m_min;
    if (value > m_max)
        return m_max;
    return value;
}

void TSpinEdit::SetValue(qint64 value) {
    // QLineEdit announces only real changes: the same text again runs nothing.
    setText(QString::number(CheckValue(value)));
}

void TSpinEdit::SetBounds(qint64 minimum, qint64 maximum) {
    m_min = minimum;
    m_max = maximum;
}

void TSpinEdit::step(int steps) {
    if (isReadOnly() || !isEnabled())
        return;
    const qint64 value = Value();
    qint64 next = value;
    const qint64 delta = m_increment * steps;
    if (delta > 0 && value > std::numeric_limits<qint64>::max() - delta)
        next = std::numeric_limits<qint64>::max();
    else if (delta < 0 && value < std::numeric_limits<qint64>::min() - delta)
        next = std::numeric_limits<qint64>::min();
    else
        next = value + delta;
    SetValue(next);
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up) {
        step(1);
        return;
    }
    if (event->key() == Qt::Key_Down) {
        step(-1);
        return;
    }
    const bool edits = !event->text().isEmpty() || event->key() == Qt::Key_Backspace ||
                       event->key() == Qt::Key_Delete || event->matches(QKeySequence::Paste) ||
                       event->matches(QKeySequence::Cut);
    const bool control = (event->modifiers() & Qt::ControlModifier) &&
                         !event->matches(QKeySequence::Paste) && !event->matches(QKeySequence::Cut);
    if (edits && !control) {
        QChar key = event->text().isEmpty() ? QChar(0x7f) : event->text().at(0);
        if (event->key() == Qt::Key_Backspace)
            key = QChar(0x08);
        if (OnKeyPress)
            OnKeyPress(key);
        if (key.isNull())
            return;
        // Only digits and signs are typed into a number box.
        if (key.isPrint() && !key.isDigit() && key != QLatin1Char('-') && key != QLatin1Char('+'))
            return;
    }
    QLineEdit::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    const qint64 value = Value();
    if (CheckValue(value) != value)
        SetValue(value);
}

void TSpinEdit::wheelEvent(QWheelEvent* event) {
    if (!hasFocus()) {
        QLineEdit::wheelEvent(event);
        return;
    }
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0)
        step(steps);
    event->accept();
}

void TSpinEdit::changeEvent(QEvent* event) {
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::EnabledChange || event->type() == QEvent::ReadOnlyChange) {
        m_up->setEnabled(isEnabled() && !isReadOnly());
        m_down->setEnabled(isEnabled() && !isReadOnly());
    }
}

void TSpinEdit::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    placeButtons();
}

void TSpinEdit::placeButtons() {
    const int h = height();
    const int top = h / 2;
    m_up->setGeometry(width() - kButtonWidth - 1, 1, kButtonWidth, top - 1);
    m_down->setGeometry(width() - kButtonWidth - 1, top, kButtonWidth, h - top - 1);
    // The arrows are reached by their field's name.
    m_up->setAccessibleName(accessibleName() + QStringLiteral(" up"));
    m_down->setAccessibleName(accessibleName() + QStringLiteral(" down"));
}

QSize TSpinEdit::sizeHint() const {
    QSize size = QLineEdit::sizeHint();
    size.setWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + kButtonWidth + 12);
    return size;
}
