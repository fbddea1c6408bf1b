#pragma once

// What the main program's widget tests share: a screen that shows a known picture, a notification
// area that records what it is asked, and a main window in a temporary application folder.

#include "app/TFormPrincipal.h"
#include "platform/x11/ScreenSource.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestSupport.h"
#include "ui/TTaskBarIcon.h"

#include <QImage>

#include <gtest/gtest.h>

#include <memory>

namespace qdx::test {

// A screen that shows a fixed picture (converted to the asked depth by TBitmap's rules).
class FakeScreen : public qdx::x11::ScreenSource {
public:
    explicit FakeScreen(QImage picture) : m_picture(std::move(picture)) {}
    TBitmap grab(TPixelFormat format) override;
    QSize size() const override { return m_picture.size(); }
    int grabs = 0;

private:
    QImage m_picture;
};

// Runs pending events, window deletions included.
void settle();

// A picture with distinct colours in its corners and a gradient in between.
QImage screenPicture(int width = 320, int height = 200);

class RecordingArea : public TrayArea {
public:
    bool accept = true;
    int adds = 0, modifies = 0, removes = 0;
    bool add(const QIcon&, const QString&) override {
        ++adds;
        return accept;
    }
    void modify(const QIcon&, const QString&) override { ++modifies; }
    void remove() override { ++removes; }
};

// A main window over a temporary application folder with default settings, scripted prompts, a
// fake screen and a recording notification area. No X display is used.
class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A new main window (the old one, if any, is destroyed first without its close steps).
    void recreate();
    QString path(const QString& name) const { return dir.file(name); }
    // The child windows of the main window, in creation order.
    QList<QMdiSubWindow*> children() const;

    TempDir dir;
    ScriptedPrompts prompts;
    RecordingArea area;
    std::shared_ptr<FakeScreen> screen = std::make_shared<FakeScreen>(screenPicture());
    std::unique_ptr<TFormPrincipal> form;
    QString previousCurrent;
};

} // namespace qdx::test
