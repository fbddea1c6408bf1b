#pragma once

#include "app/TImage.h"
#include "ui/PictureSource.h"

#include <QMdiSubWindow>

class QScrollArea;

// A picture window: a child of the main window that shows one picture at its natural size in a
// scrolling area. Its caption names the picture's file once the picture is in one; closing a
// window whose caption names no existing file asks first.
class TFormImagem : public QMdiSubWindow, public PictureSource {
public:
    explicit TFormImagem(QWidget* parent = nullptr);

    QScrollArea* ScrollBoxPaint;
    TImage* Imagem;

    // Puts a picture into the window and sizes the picture control to it.
    void SetPicture(TBitmap picture) { Imagem->SetPicture(std::move(picture)); }

    const TBitmap* SourcePicture() const override;
    bool TakesSavedName() const override { return true; }

    // Whether the window may close: yes when the caption names an existing file; otherwise the
    // question decides, and No runs the main window's Save on this window.
    void FormClose(bool& canClose);

    // The question asked before an unsaved picture is lost.
    static QString confirmText();

protected:
    void closeEvent(QCloseEvent* event) override;
};
