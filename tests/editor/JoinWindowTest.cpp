// The join window inside the main window, on films made by ffmpeg: the menu entry and its tool
// button, Add loading the dialog's files from the last to the first, the duplicate question, the
// moves in both list orders, Remove and Show, the lines and total handed to JoinFilms with the
// joined film read back by ffprobe and ffmpeg, and "New AVI" after a Remove.

#include "avi/TAviCapture.h"
#include "editor/TFormJoin.h"
#include "editor/TSpinEdit.h"
#include "editor/TjanTracker.h"
#include "platform/core/AppFolder.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/FilmMaker.h"
#include "tests/support/FilmPeers.h"
#include "ui/TStatusBar.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

using namespace qdx;
using namespace qdx::test;

namespace {

class JoinWindow : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        QLocale::setDefault(QLocale::c());
        form->resize(1100, 760);
        form->show();
    }
    TFormJoin* openWindow() {
        auto* button = form->findChild<QToolButton*>(QStringLiteral("ToolButton14"));
        EXPECT_NE(button, nullptr);
        if (button)
            button->click();
        settle();
        return dynamic_cast<TFormJoin*>(form->MdiArea->currentSubWindow());
    }
    QString film(const QString& name, int frames, int width = 64, bool sound = false) {
        FilmRecipe recipe;
        recipe.frames = frames;
        recipe.width = width;
        recipe.height = width * 3 / 4;
        recipe.sound = sound;
        return makeFilm(dir, name, recipe);
    }
    void select(TFormJoin* w, int index) {
        w->ListViewArquivos->clearSelection();
        w->ListViewArquivos->topLevelItem(index)->setSelected(true);
    }
    static int selected(const TFormJoin* w) {
        const auto items = w->ListViewArquivos->selectedItems();
        return items.isEmpty() ? -1 : w->ListViewArquivos->indexOfTopLevelItem(items.first());
    }
};

TEST_F(JoinWindow, AddLoadsFromTheLastChosenAsksForDuplicatesAndMovesInBothOrders) {
    if (!haveTool(QStringLiteral("ffmpeg")))
        GTEST_SKIP() << "ffmpeg is missing";
    const QString a1 = film(QStringLiteral("a1.avi"), 4);
    const QString b1 = film(QStringLiteral("b1.avi"), 5);
    const QString c1 = film(QStringLiteral("c1.avi"), 6);
    const QString bad = path(QStringLiteral("B0.avi"));
    writeAll(bad, QByteArray("not a film"));
    TFormJoin* w = openWindow();
    ASSERT_NE(w, nullptr);
    form->AviSplit1->trigger(); // another kind of window in between does not matter
    settle();
    form->MdiArea->setActiveSubWindow(w);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("QDX-Join"));
    EXPECT_EQ(w->LabelFileName->text(), QStringLiteral("File Name: "));
    EXPECT_TRUE(w->SpeedButtonDividir->isEnabled());
    EXPECT_TRUE(w->SpeedButtonCriar->isEnabled());

    // a1, b1, c1 chosen in that order (and a file that is no film): loaded c1, b1, a1; listed by
    // name; the viewer shows a1.
    prompts.fileLists.push_back(QStringList{a1, b1, bad, c1});
    w->SpeedButtonAdicionar->click();
    ASSERT_FALSE(prompts.asked.empty());
    EXPECT_EQ(prompts.asked.back().text, QStringLiteral("Select the archive to compress."));
    EXPECT_TRUE(prompts.asked.back().request.mustExist);
    EXPECT_EQ(w->Captions(), (QStringList{a1, b1, c1}));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("QDX-Join[") + a1 + QStringLiteral("]"));
    EXPECT_EQ(w->LabelFileName->text(), QStringLiteral("File Name: ") + a1);
    EXPECT_EQ(w->LabelFrames->text(), QStringLiteral("Frames: 4"));
    EXPECT_EQ(w->LabelResolucao->text(), QStringLiteral("Resolution: 64x48"));
    EXPECT_TRUE(w->LabelFileType->text().startsWith(QStringLiteral("File Type: ")));
    EXPECT_TRUE(w->LabelSize->text().endsWith(QStringLiteral("KB")));
    EXPECT_EQ(w->StatusBar->Panel(1).Text, QStringLiteral("Frames: 1 from 4"));
    EXPECT_EQ(w->SpeedButtonDividir->text(), QStringLiteral("Split"));
    int total = 0;
    EXPECT_EQ(w->JoinLines(&total),
              (QStringList{a1 + QStringLiteral("=4"), b1 + QStringLiteral("=5"),
                           c1 + QStringLiteral("=6")}));
    EXPECT_EQ(total, 15);

    // A file already listed (other letter case): the question, and No leaves it out.
    QString upper = b1;
    upper.replace(QStringLiteral("b1.avi"), QStringLiteral("B1.AVI"));
    prompts.fileLists.push_back(QStringList{upper});
    prompts.answers.push_back(false);
    w->SpeedButtonAdicionar->click();
    ASSERT_EQ(prompts.texts(QStringLiteral("question")).size(), 1);
    EXPECT_EQ(prompts.texts(QStringLiteral("question")).first(),
              QStringLiteral("The file \"") + upper +
                  QStringLiteral("\" already is on the list. Do you want add it?"));
    EXPECT_EQ(prompts.asked.back().caption, applicationTitle());
    EXPECT_EQ(w->Captions().size(), 3);

    // Sorted by name: Move Up on the second entry keeps the order and selects the first.
    select(w, 1);
    w->SpeedButtonMoveUp->click();
    EXPECT_EQ(w->Captions(), (QStringList{a1, b1, c1}));
    EXPECT_EQ(selected(w), 0);
    select(w, 0);
    w->SpeedButtonMoveLast->click();
    EXPECT_EQ(w->Captions(), (QStringList{a1, b1, c1}));
    EXPECT_EQ(selected(w), 2);

    // After a column click the order is manual: Move Up on b1 gives b1, a1, c1 with b1 selected;
    // Move Last on b1 then gives a1, c1, b1; First and Move Down as the table says.
    w->ListViewArquivos->header()->sectionClicked(0);
    EXPECT_FALSE(w->SortedByName());
    select(w, 1);
    w->SpeedButtonMoveUp->click();
    EXPECT_EQ(w->Captions(), (QStringList{b1, a1, c1}));
    EXPECT_EQ(selected(w), 0);
    w->SpeedButtonMoveLast->click();
    EXPECT_EQ(w->Captions(), (QStringList{a1, c1, b1}));
    EXPECT_EQ(selected(w), 2);
    w->SpeedButtonMoveFirst->click();
    EXPECT_EQ(w->Captions(), (QStringList{b1, a1, c1}));
    w->SpeedButtonMoveDown->click();
    EXPECT_EQ(w->Captions(), (QStringList{a1, b1, c1}));
    EXPECT_EQ(selected(w), 1);
    // Moves not allowed at the ends do nothing.
    select(w, 0);
    w->SpeedButtonMoveUp->click();
    w->SpeedButtonMoveFirst->click();
    select(w, 2);
    w->SpeedButtonMoveDown->click();
    w->SpeedButtonMoveLast->click();
    EXPECT_EQ(w->Captions(), (QStringList{a1, b1, c1}));
    // Back to sorted by name sorts at once; the comparison is case-sensitive and locale-aware.
    select(w, 0);
    w->SpeedButtonMoveLast->click();
    EXPECT_EQ(w->Captions(), (QStringList{b1, c1, a1}));
    w->ListViewArquivos->header()->sectionClicked(0);
    EXPECT_TRUE(w->SortedByName());
    EXPECT_EQ(w->Captions(), (QStringList{a1, b1, c1}));

    // A duplicate answered Yes is listed twice; in-place editing is refused.
    prompts.fileLists.push_back(QStringList{c1});
    prompts.answers.push_back(true);
    w->SpeedButtonAdicionar->click();
    EXPECT_EQ(w->Captions(), (QStringList{a1, b1, c1, c1}));
    EXPECT_EQ(w->ListViewArquivos->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(w->ListViewArquivos->topLevelItem(0)->flags() & Qt::ItemIsEditable);

    // Show loads the selected entry; Remove resets the viewer and deletes the entry.
    select(w, 1);
    w->SpeedButtonShow->click();
    EXPECT_EQ(w->EditTotalFrames->text(), QStringLiteral("5"));
    select(w, 3);
    w->SpeedButtonRemove->click();
    EXPECT_EQ(w->Captions(), (QStringList{a1, b1, c1}));
    EXPECT_EQ(w->EditTotalFrames->text(), QStringLiteral("0"));
    EXPECT_EQ(w->LabelFileName->text(), QStringLiteral("File Name: "));
    EXPECT_FALSE(w->TrackerVideo->isEnabled());
}

// A film without sound in the list: the sound box is enabled though the film shown has none, and
// the joined sound holds silence for its frames, so the later film's sound plays with its frames.
TEST_F(JoinWindow, JoinWritesTheListInOrderWithItsSoundAndNewAviWorksAfterARemove) {
    if (!haveTool(QStringLiteral("ffmpeg")) || !haveTool(QStringLiteral("ffprobe")))
        GTEST_SKIP() << "ffmpeg is missing";
    const QString first = film(QStringLiteral("first.avi"), 100, 64, true);
    const QString middle = film(QStringLiteral("middle.avi"), 50, 64, false);
    const QString second = film(QStringLiteral("second.avi"), 250, 64, true);
    TFormJoin* w = openWindow();
    ASSERT_NE(w, nullptr);
    prompts.fileLists.push_back(QStringList{middle, second, first});
    w->SpeedButtonAdicionar->click();
    ASSERT_EQ(w->Captions(), (QStringList{first, middle, second}));
    EXPECT_EQ(w->NomeFilme, middle);
    EXPECT_TRUE(w->CheckBoxSom->isEnabled());
    EXPECT_TRUE(w->CheckBoxSom->isChecked());
    int total = 0;
    EXPECT_EQ(w->JoinLines(&total),
              (QStringList{first + QStringLiteral("=100"), middle + QStringLiteral("=50"),
                           second + QStringLiteral("=250")}));
    EXPECT_EQ(total, 400);

    form->StatusBar->SetPanelText(2, QStringLiteral("ready"));
    const QString target = path(QStringLiteral("joined.avi"));
    prompts.files.push_back(target);
    w->SpeedButtonJoin->click();
    EXPECT_EQ(prompts.asked.back().text, QStringLiteral("Select the file name to destination."));
    EXPECT_EQ(form->StatusText(2), QStringLiteral("ready"));
    EXPECT_TRUE(prompts.texts(QStringLiteral("error")).isEmpty());
    EXPECT_EQ(probeFrameCount(target), 400);
    EXPECT_EQ(probeAudioSamples(target), 400 * 44100 / 25);
    const QStringList pcm{QStringLiteral("-vn"), QStringLiteral("-f"), QStringLiteral("s16le")};
    EXPECT_EQ(ffmpegOutput(target, pcm), ffmpegOutput(first, pcm) +
                                             QByteArray(50 * 44100 / 25 * 2, '\0') +
                                             ffmpegOutput(second, pcm));
    EXPECT_EQ(joined(ffmpegPictures(target, 64, 48)), joined(ffmpegPictures(first, 64, 48)) +
                                                          joined(ffmpegPictures(middle, 64, 48)) +
                                                          joined(ffmpegPictures(second, 64, 48)));

    // Without the film that has no sound the box stays enabled; Show loads the first film for the
    // commands below.
    select(w, 1);
    w->SpeedButtonRemove->click();
    EXPECT_EQ(w->Captions(), (QStringList{first, second}));
    EXPECT_TRUE(w->CheckBoxSom->isEnabled());
    select(w, 0);
    w->SpeedButtonShow->click();
    EXPECT_EQ(w->NomeFilme, first);

    // After a Remove the viewer is empty; "New AVI" still writes from the last film loaded, never
    // from a frame below 0: the reset selection starts at 0 and ends at 7, so frames 1 to 7 with
    // their sound; "Split" asks for 0 parts and writes nothing.
    w->SpinEditSelecaoInicial->setText(QStringLiteral("3"));
    w->SpinEditSelecaoFinal->setText(QStringLiteral("7"));
    select(w, 1);
    w->SpeedButtonRemove->click();
    EXPECT_EQ(w->Captions(), QStringList{first});
    const QString copy = path(QStringLiteral("copy.avi"));
    prompts.files.push_back(copy);
    w->SpeedButtonCriar->click();
    EXPECT_EQ(probeFrameCount(copy), 7);
    EXPECT_EQ(probeAudioSamples(copy), 7 * 44100 / 25);
    EXPECT_EQ(joined(ffmpegPictures(copy, 64, 48)),
              joined(ffmpegPictures(first, 64, 48)).left(7 * 64 * 48 * 3));
    prompts.files.push_back(path(QStringLiteral("parts.avi")));
    w->SpeedButtonDividir->click();
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("parts01.avi"))));
    EXPECT_TRUE(prompts.texts(QStringLiteral("error")).isEmpty());

    // Only the film without sound left: the box is disabled.
    prompts.fileLists.push_back(QStringList{middle});
    w->SpeedButtonAdicionar->click();
    select(w, 0);
    w->SpeedButtonRemove->click();
    EXPECT_EQ(w->Captions(), QStringList{middle});
    EXPECT_FALSE(w->CheckBoxSom->isEnabled());
    EXPECT_FALSE(w->CheckBoxSom->isChecked());

    // An empty list joins nothing.
    select(w, 0);
    w->SpeedButtonRemove->click();
    const size_t asked = prompts.asked.size();
    w->SpeedButtonJoin->click();
    EXPECT_EQ(prompts.asked.size(), asked);
}

} // namespace
