// Every window and dialog gives its labels, buttons and check boxes at least the room their size
// hints ask, with the default font and a large one. CTest runs this at the scale factors 1 and 2
// (QT_SCALE_FACTOR). A failure names the window, the control, its text, its size and its hint.

#include "app/TFormExplorer.h"
#include "app/TFormImagem.h"
#include "app/TFormPrincipal.h"
#include "dialogs/TFormConfiguracao.h"
#include "dialogs/TFormErro.h"
#include "dialogs/TFormSelecionaPasta.h"
#include "editor/TFormJoin.h"
#include "editor/TFormSplit.h"
#include "platform/vfwdialog/CompressorDialog.h"
#include "recorder/TFormPrincipalCapture.h"
#include "tests/app/AppTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace qdx::test {
namespace {

// The text a control shows, or empty for controls without text of their own.
QString shownText(const QWidget* widget) {
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->pixmap().isNull() ? label->text() : QString();
    if (qobject_cast<const QToolButton*>(widget))
        return {}; // icon buttons: their hint is the tool tip
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    return {};
}

// The controls of `window` (shown) that get less room than they ask, as readable lines.
QStringList clipped(QWidget* window) {
    QStringList found;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        const QString text = shownText(widget);
        if (text.trimmed().isEmpty() || !widget->isVisibleTo(window))
            continue;
        const QSize hint = widget->sizeHint();
        const auto* label = qobject_cast<const QLabel*>(widget);
        const bool wraps = label && label->wordWrap();
        const int neededHeight = wraps ? label->heightForWidth(widget->width()) : hint.height();
        const bool narrow = !wraps && widget->width() < hint.width();
        const bool low = widget->height() < neededHeight;
        // A control that reaches past its parent is cut by it too.
        const QWidget* parent = widget->parentWidget();
        const bool outside = parent && !parent->rect().contains(widget->geometry());
        if (narrow || low || outside)
            found << QStringLiteral("%1 \"%2\": %3x%4 at %5,%6, asks %7x%8%9")
                         .arg(widget->objectName(), text)
                         .arg(widget->width())
                         .arg(widget->height())
                         .arg(widget->x())
                         .arg(widget->y())
                         .arg(wraps ? widget->width() : hint.width())
                         .arg(neededHeight)
                         .arg(outside ? QStringLiteral(", outside its parent") : QString());
    }
    return found;
}

class WindowsFit : public MainWindowFixture {};

TEST_F(WindowsFit, EveryWindowGivesItsTextTheRoomItAsks) {
    const QFont standard = QApplication::font();
    QFont large = standard;
    large.setPointSizeF(standard.pointSizeF() * 1.5);
    // Each window is made anew under the font it is checked with.
    const std::vector<std::pair<const char*, std::function<std::unique_ptr<QWidget>()>>> windows = {
        {"main window",
         [&] {
             return std::unique_ptr<QWidget>();
         }},
        {"configuration",
         [&] {
             return std::make_unique<TFormConfiguracao>(form.get(), form->PecasConfiguracao());
         }},
        {"contact",
         [&] {
             return std::make_unique<TFormErro>(form.get());
         }},
        {"folder chooser",
         [&] {
             return std::make_unique<TFormSelecionaPasta>(nullptr, form.get());
         }},
        {"compressor",
         [&] {
             return std::make_unique<qdx::vfw::CompressorDialog>();
         }},
        {"split",
         [&] {
             return std::make_unique<TFormSplit>(form.get());
         }},
        {"join",
         [&] {
             return std::make_unique<TFormJoin>(form.get());
         }},
        {"picture",
         [&] {
             return std::make_unique<TFormImagem>();
         }},
        {"browser",
         [&] {
             return std::make_unique<TFormExplorer>();
         }},
        {"recorder",
         [&] {
             return std::make_unique<TFormPrincipalCapture>(QStringList());
         }},
    };
    for (const QFont& font : {standard, large}) {
        QApplication::setFont(font);
        recreate();
        for (const auto& [name, make] : windows) {
            std::unique_ptr<QWidget> made = make();
            QWidget* window = made ? made.get() : form.get();
            window->show();
            QApplication::processEvents();
            const QStringList found = clipped(window);
            EXPECT_TRUE(found.isEmpty()) << found.join(QLatin1Char('\n')).toStdString() << "\n"
                                         << name << " at " << font.pointSizeF() << " points, scale "
                                         << qgetenv("QT_SCALE_FACTOR").constData();
            window->hide();
        }
    }
    QApplication::setFont(standard);
}

} // namespace
} // namespace qdx::test
