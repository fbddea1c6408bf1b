#pragma once

#include <QLineEdit>

#include <functional>

class QToolButton;

// The spin box of the film windows and dialogs: a text field with two arrow buttons.
//  - Reading gives the integer of the text, or the minimum when the text is no integer; the text
//    is not clamped by reading.
//  - Writing puts the value as text, clamped to minimum..maximum unless the two are equal.
//  - Change runs whenever the text changes, also when the program writes it, and runs inside the
//    write; writing the same text again runs nothing.
//  - Leaving the keyboard focus with an out-of-range text rewrites it clamped.
//  - The arrows and the Up/Down keys add or take one Increment.
// Changing the bounds never touches the text.
class TSpinEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    qint64 Value() const;
    void SetValue(qint64 value);
    qint64 MinValue() const { return m_min; }
    qint64 MaxValue() const { return m_max; }
    void SetMinValue(qint64 value) { m_min = value; }
    void SetMaxValue(qint64 value) { m_max = value; }
    void SetBounds(qint64 minimum, qint64 maximum);
    qint64 Increment() const { return m_increment; }
    void SetIncrement(qint64 value) { m_increment = value; }

    // The value as the boxes are written with: clamped unless minimum equals maximum.
    qint64 CheckValue(qint64 value) const;

    // Runs for every key that would type or delete text; setting the key to a null character
    // swallows it.
    std::function<void(QChar& Key)> OnKeyPress;

    QSize sizeHint() const override;

Q_SIGNALS:
    void Change();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void step(int steps);
    void placeButtons();

    qint64 m_min = 0;
    qint64 m_max = 0;
    qint64 m_increment = 1;
    QToolButton* m_up;
    QToolButton* m_down;
};
