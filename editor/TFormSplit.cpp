#include "editor/TFormSplit.h"

#include "avi/TAviCapture.h"
#include "editor/TSpinEdit.h"
#include "editor/TjanTracker.h"
#include "ui/ErrorRoute.h"
#include "ui/TStatusBar.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

TFormSplit::TFormSplit(EditorHost* host, QWidget* parent) : TVisualizadorFilme(host, parent) {
    setWindowTitle(TituloJanela());
    setWindowIcon(QIcon());
    // F1 in the window opens its own help topic (the main window's Help command reads it).
    setProperty("HelpContext", 1000);

    SpeedButton3 = BotaoComando("SpeedButton3", QStringLiteral("Select Archive"), QString());
    SpeedButtonFechar = BotaoComando("SpeedButtonFechar", QStringLiteral("Close AVI"), QString());
    SpeedButtonSalvar->setText(QStringLiteral("Save scene of the film as image"));
    SpeedButtonSalvar->setToolTip(
        QStringLiteral("Save the selected frame as image (bmp, gif, jpg, wmf)"));
    SpeedButtonApagar = BotaoComando("SpeedButtonApagar", QStringLiteral("Remove selected frames"),
                                     QStringLiteral("Create new AVI without selected frames"));
    SpeedButtonCrairNovo =
        BotaoComando("SpeedButtonCrairNovo", QStringLiteral("Create new AVI with selected frames."),
                     QStringLiteral("Create new archive wiht selected frames"));
    SpeedButtonDividir->setText(QStringLiteral("SplitAVI in some archives "));
    SpeedButtonDividir->setToolTip(
        QStringLiteral("SplitAVI in some parts, each part in one archive."));
    SpeedButtonDividir->setAccessibleDescription(SpeedButtonDividir->toolTip());
    CheckBoxSom->setText(QStringLiteral("Manter Som"));
    CheckBoxSom->setAccessibleName(CheckBoxSom->text());

    // Top bar.
    PanelTopo = new QWidget;
    auto* top = new QHBoxLayout(PanelTopo);
    top->setContentsMargins(4, 2, 4, 2);
    top->setSpacing(4);
    top->addWidget(SpeedButton3);
    top->addSpacing(8);
    top->addWidget(LabelZoom);
    SpinEditZoom->setFixedWidth(56);
    top->addWidget(SpinEditZoom);
    top->addWidget(LabelPorcento);
    top->addWidget(SpeedButtonTamanhoNormal);
    top->addWidget(SpeedButtonAjustarNaTela);
    top->addSpacing(8);
    top->addWidget(LabelFrame);
    SpinEditFrameAtual->setFixedWidth(72);
    top->addWidget(SpinEditFrameAtual);
    top->addWidget(LabelTotal);
    EditTotalFrames->setFixedWidth(64);
    top->addWidget(EditTotalFrames);
    top->addSpacing(8);
    top->addWidget(SpeedButtonFechar);
    top->addWidget(CheckBoxSom);
    top->addStretch(1);

    // Bottom panel: the slider across the top, four buttons in two rows and the two groups.
    PanelInferior = new QWidget;
    PanelInferior->setMinimumHeight(95);
    auto* bottom = new QVBoxLayout(PanelInferior);
    bottom->setContentsMargins(10, 2, 10, 2);
    bottom->setSpacing(2);
    bottom->addWidget(TrackerVideo);
    auto* row = new QHBoxLayout;
    auto* buttons = new QGridLayout;
    buttons->setSpacing(2);
    for (QPushButton* b :
         {SpeedButtonSalvar, SpeedButtonApagar, SpeedButtonCrairNovo, SpeedButtonDividir}) {
        // 221 x 27 where the window is wide enough; narrower rather than overlapping.
        b->setFixedHeight(std::max(27, b->sizeHint().height())); // taller for a large font
        b->setMinimumWidth(b->fontMetrics().horizontalAdvance(b->text()) + 16);
        b->setMaximumWidth(221);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    buttons->addWidget(SpeedButtonSalvar, 0, 0);
    buttons->addWidget(SpeedButtonApagar, 0, 1);
    buttons->addWidget(SpeedButtonCrairNovo, 1, 0);
    buttons->addWidget(SpeedButtonDividir, 1, 1);
    row->addLayout(buttons);

    AdicionarCaixasSelecaoPartes(row);
    row->addStretch(1);
    bottom->addLayout(row);
    // The panel never gets less than its texts need.
    PanelInferior->setMinimumHeight(std::max(95, PanelInferior->sizeHint().height()));

    Splitter1 = new QSplitter(Qt::Vertical);
    Splitter1->addWidget(ScrollBoxFrame);
    Splitter1->addWidget(PanelInferior);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setChildrenCollapsible(false);

    auto* client = new QWidget;
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(PanelTopo);
    layout->addWidget(Splitter1, 1);
    layout->addWidget(StatusBar);
    setWidget(client);
    resize(QSize(764, 469).expandedTo(client->minimumSizeHint() + QSize(8, 30)));
    Splitter1->setSizes({469 - 95, 95});

    using qdx::ui::guarded;
    connect(SpeedButton3, &QPushButton::clicked, this,
            guarded(SpeedButton3, [this] { SpeedButton3Click(); }));
    connect(SpeedButtonFechar, &QPushButton::clicked, this,
            guarded(SpeedButtonFechar, [this] { SpeedButtonFecharClick(); }));
    connect(SpeedButtonSalvar, &QPushButton::clicked, this,
            guarded(SpeedButtonSalvar, [this] { SpeedButtonSalvarClick(); }));
    connect(SpeedButtonApagar, &QPushButton::clicked, this,
            guarded(SpeedButtonApagar, [this] { SpeedButtonApagarClick(); }));
    connect(SpeedButtonCrairNovo, &QPushButton::clicked, this,
            guarded(SpeedButtonCrairNovo, [this] { SpeedButtonCrairNovoClick(); }));
    connect(SpeedButtonDividir, &QPushButton::clicked, this,
            guarded(SpeedButtonDividir, [this] { SpeedButtonDividirClick(); }));

    FormCreate();
}

void TFormSplit::habilitarBotoes(bool enabled) {
    for (QPushButton* b : {SpeedButtonFechar, SpeedButtonSalvar, SpeedButtonDividir,
                           SpeedButtonApagar, SpeedButtonCrairNovo})
        b->setEnabled(enabled);
    SpeedButtonDividir->setText(QStringLiteral("Split AVI in same archives"));
}

void TFormSplit::DesabilitarControlesJanela() {
    habilitarBotoes(false);
}

void TFormSplit::HabilitarControlesJanela() {
    habilitarBotoes(true);
}

void TFormSplit::PartesAlteradas() {
    SpeedButtonDividir->setText(QStringLiteral("Split AVI in ") +
                                QString::number(SpinEditNumeroPartes->Value()) +
                                QStringLiteral(" part(s)"));
}

void TFormSplit::SpeedButton3Click() {
    SemComandoEmCurso([this] {
        OpenDialogVideo.title = QStringLiteral("Select the archive to compress.");
        const std::optional<QString> path = qdx::prompts().openFile(OpenDialogVideo);
        if (path && QFileInfo(*path).isFile())
            AbrirVideo(*path);
    });
}

void TFormSplit::SpeedButtonFecharClick() {
    SemComandoEmCurso([this] {
        AviCapture->CloseFilm();
        DesabilitarControles();
    });
}

void TFormSplit::SpeedButtonSalvarClick() {
    SalvarCena();
}

void TFormSplit::SpeedButtonApagarClick() {
    ComandoSelecao(&TAviCapture::RemoveSelection);
}

void TFormSplit::SpeedButtonCrairNovoClick() {
    CopiarSelecao();
}

void TFormSplit::SpeedButtonDividirClick() {
    DividirFilme();
}
