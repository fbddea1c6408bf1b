#include "app/TFormImagem.h"

#include "app/TFormPrincipal.h"
#include "platform/core/Prompts.h"
#include "ui/ErrorRoute.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QMdiArea>
#include <QScrollArea>

TFormImagem::TFormImagem(QWidget* parent) : QMdiSubWindow(parent) {
    setObjectName(QString());
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("FormImagem"));
    ScrollBoxPaint = new QScrollArea(this);
    ScrollBoxPaint->setObjectName(QStringLiteral("ScrollBoxPaint"));
    ScrollBoxPaint->setWidgetResizable(false);
    ScrollBoxPaint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Imagem = new TImage;
    ScrollBoxPaint->setWidget(Imagem);
    setWidget(ScrollBoxPaint);
    resize(548, 375);
}

const TBitmap* TFormImagem::SourcePicture() const {
    return &Imagem->Picture();
}

QString TFormImagem::confirmText() {
    return QStringLiteral("It is certain that it desires to leave without saving this image?");
}

void TFormImagem::FormClose(bool& canClose) {
    if (QFileInfo(windowTitle()).isFile()) {
        canClose = true;
        return;
    }
    if (qdx::prompts().question(QStringLiteral("Confirm"), confirmText())) {
        canClose = true;
        return;
    }
    canClose = false;
    if (FormPrincipal) {
        if (mdiArea())
            mdiArea()->setActiveSubWindow(this);
        FormPrincipal->SalvarClick(this);
    }
}

void TFormImagem::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    try {
        FormClose(canClose);
    } catch (...) {
        // A failed Save leaves the picture where it is: the window stays open.
        canClose = false;
        qdx::ui::routeCurrentException(this);
    }
    if (canClose)
        QMdiSubWindow::closeEvent(event);
    else
        event->ignore();
}
