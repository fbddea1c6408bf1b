#include "editor/TVisualizadorFilme.h"

#include "avi/TAviCapture.h"
#include "editor/EditorHost.h"
#include "editor/FilmCommands.h"
#include "editor/TImagemQuadro.h"
#include "editor/TSpinEdit.h"
#include "editor/TjanTracker.h"
#include "shared/Mensagens.h"
#include "ui/ErrorRoute.h"
#include "ui/TStatusBar.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

int roundEven(double value) {
    return int(std::nearbyint(value));
}

const QString kErroAbrir = QStringLiteral("It was not possible to open the archive!");

} // namespace

TVisualizadorFilme::TVisualizadorFilme(EditorHost* host, QWidget* parent)
    : QMdiSubWindow(parent), m_host(host) {
    setAttribute(Qt::WA_DeleteOnClose);

    ScrollBoxFrame = new QScrollArea;
    ScrollBoxFrame->setObjectName(QStringLiteral("ScrollBoxFrame"));
    ScrollBoxFrame->setFrameShape(QFrame::NoFrame);
    ScrollBoxFrame->setWidgetResizable(false);
    ScrollBoxFrame->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ScrollBoxFrame->setAccessibleName(QStringLiteral("Frame"));
    // The picture lies on a canvas at least as large as the box, so that it can be centred.
    m_canvas = new QWidget;
    Imagem = new TImagemQuadro(m_canvas);
    Imagem->setObjectName(QStringLiteral("Imagem"));
    Imagem->setAccessibleName(QStringLiteral("Imagem"));
    ScrollBoxFrame->setWidget(m_canvas);

    auto label = [](const QString& caption) {
        auto* l = new QLabel(caption);
        return l;
    };
    auto spin = [](const char* name, QLabel* buddy) {
        auto* s = new TSpinEdit;
        s->setObjectName(QLatin1String(name));
        if (buddy) {
            buddy->setBuddy(s);
            QString caption = buddy->text();
            caption.remove(QLatin1Char('&'));
            if (caption.endsWith(QLatin1Char(':')))
                caption.chop(1);
            s->setAccessibleName(caption);
        }
        return s;
    };
    auto button = [](const char* name, const QString& caption, const QString& hint) {
        auto* b = new QPushButton(caption);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(hint);
        // The accessible name is the caption, as Qt derives it (also after a caption change).
        b->setAccessibleDescription(hint);
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    };

    LabelZoom = label(QStringLiteral("Zoom:"));
    SpinEditZoom = spin("SpinEditZoom", LabelZoom);
    SpinEditZoom->SetBounds(1, 999);
    SpinEditZoom->SetValue(100);
    LabelPorcento = label(QStringLiteral("%"));
    SpeedButtonTamanhoNormal =
        button("SpeedButtonTamanhoNormal", QStringLiteral("Normal"), QStringLiteral("Real size"));
    SpeedButtonAjustarNaTela = button("SpeedButtonAjustarNaTela", QStringLiteral("Adjust"),
                                      QStringLiteral("Adjust in the screen"));
    LabelFrame = label(QStringLiteral("Frame:"));
    SpinEditFrameAtual = spin("SpinEditFrameAtual", LabelFrame);
    LabelTotal = label(QStringLiteral("Total:"));
    EditTotalFrames = new QLineEdit(QStringLiteral("0"));
    EditTotalFrames->setObjectName(QStringLiteral("EditTotalFrames"));
    EditTotalFrames->setReadOnly(true);
    LabelTotal->setBuddy(EditTotalFrames);
    EditTotalFrames->setAccessibleName(QStringLiteral("Total"));

    TrackerVideo = new TjanTracker;
    TrackerVideo->setObjectName(QStringLiteral("TrackerVideo"));
    TrackerVideo->setAccessibleName(QStringLiteral("TrackerVideo"));
    TrackerVideo->setFixedHeight(14);
    TrackerVideo->SetOrientation(TjanTracker::jtbHorizontal);
    TrackerVideo->SetThumbWidth(7);
    TrackerVideo->SetThumbHeight(10);
    TrackerVideo->SetTrackHeight(6);
    TrackerVideo->SetShowCaption(false);
    TrackerVideo->SetSelectionColorShow(true);

    GroupBoxFramesSelecionados = new QGroupBox(QStringLiteral("Selected Frames"));
    GroupBoxFramesSelecionados->setObjectName(QStringLiteral("GroupBoxFramesSelecionados"));
    GroupBoxFramesSelecionados->setEnabled(false);
    LabelSelecaoInicial = label(QStringLiteral("Initial:"));
    SpinEditSelecaoInicial = spin("SpinEditSelecaoInicial", LabelSelecaoInicial);
    LabelSelecaoFinal = label(QStringLiteral("End:"));
    SpinEditSelecaoFinal = spin("SpinEditSelecaoFinal", LabelSelecaoFinal);

    GroupBoxSplit = new QGroupBox(QStringLiteral("Split AVI"));
    GroupBoxSplit->setObjectName(QStringLiteral("GroupBoxSplit"));
    GroupBoxSplit->setEnabled(false);
    LabelNumeroPartes = label(QStringLiteral("Nº of parts:"));
    SpinEditNumeroPartes = spin("SpinEditNumeroPartes", LabelNumeroPartes);
    // The part count changes only through its arrows: every typed key is swallowed.
    SpinEditNumeroPartes->OnKeyPress = [](QChar& key) {
        key = QChar();
    };
    SpinEditNumeroPartes->setContextMenuPolicy(Qt::NoContextMenu);
    LabelTamanhoPartes = label(QStringLiteral("Size:"));
    SpinEditTamanhoPartes = spin("SpinEditTamanhoPartes", LabelTamanhoPartes);
    EditTamanho = new QLineEdit(QStringLiteral("0"));
    EditTamanho->setObjectName(QStringLiteral("EditTamanho"));
    EditTamanho->setReadOnly(true);
    EditTamanho->setAccessibleName(QStringLiteral("Part size"));
    LabelTextoTamanho = label(QStringLiteral("MB"));
    LabelTextoTamanho->setObjectName(QStringLiteral("LabelTextoTamanho"));

    SpeedButtonDividir = button("SpeedButtonDividir", QString(), QString());
    SpeedButtonSalvar = button("SpeedButtonSalvar", QString(), QString());

    CheckBoxSom = new QCheckBox;
    CheckBoxSom->setObjectName(QStringLiteral("CheckBoxSom"));
    CheckBoxSom->setChecked(true);
    CheckBoxSom->setFocusPolicy(Qt::NoFocus);

    StatusBar = new TStatusBar;
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->SetPanels({{200, QString(), false},
                          {150, QString(), false},
                          {150, QString(), false},
                          {50, QString(), true}});
    ProgressBarCompactar = new QProgressBar(this);
    ProgressBarCompactar->setObjectName(QStringLiteral("ProgressBarCompactar"));
    ProgressBarCompactar->setRange(0, 100);
    ProgressBarCompactar->setValue(0);
    ProgressBarCompactar->setTextVisible(false);
    ProgressBarCompactar->hide();
    StatusBar->OnDrawPanel = [this](TStatusBar*, QPainter& canvas, int panel, const QRect& rect) {
        StatusBarDrawPanel(canvas, panel, rect);
    };

    OpenDialogVideo.filter = QStringLiteral("Arquivo de Video|*.avi");
    OpenDialogVideo.defaultSuffix = QStringLiteral("avi");

    AviCapture = new TAviCapture(this);
    AviCapture->Height = 60;
    AviCapture->Width = 80;
    AviCapture->Scale = 1;
    AviCapture->Rate = 1;
    AviCapture->Stretch = true;
    AviCapture->TipoCaptura = tcTela;
    AviCapture->PixelFormat = pf32bit;
    AviCapture->PermitirCompactacao = false;
    AviCapture->OnProgress = [this](int i, TAviCapture* sender, bool& abort) {
        AviCaptureProgress(i, sender, abort);
    };
    AviCapture->OnExtractFramesProgress = [this](int max, int min, int value, TAviCapture* sender,
                                                 bool& abort) {
        AviCaptureExtractFramesProgress(max, min, value, sender, abort);
    };

    using qdx::ui::guarded;
    connect(TrackerVideo, &TjanTracker::onChangedValue, this,
            guarded(TrackerVideo, [this](TjanTracker*, int v) { TrackerVideoChangedValue(v); }));
    connect(SpinEditFrameAtual, &TSpinEdit::Change, this,
            guarded(SpinEditFrameAtual, [this] { SpinEditFrameAtualChange(); }));
    connect(SpinEditZoom, &TSpinEdit::Change, this,
            guarded(SpinEditZoom, [this] { SpinEditZoomChange(); }));
    connect(SpeedButtonTamanhoNormal, &QPushButton::clicked, this,
            guarded(SpeedButtonTamanhoNormal, [this] { SpeedButtonTamanhoNormalClick(); }));
    connect(SpeedButtonAjustarNaTela, &QPushButton::clicked, this,
            guarded(SpeedButtonAjustarNaTela, [this] { SpeedButtonAjustarNaTelaClick(); }));
    connect(SpinEditSelecaoInicial, &TSpinEdit::Change, this,
            guarded(SpinEditSelecaoInicial, [this] { SpinEditSelecaoInicialChange(); }));
    connect(SpinEditSelecaoFinal, &TSpinEdit::Change, this,
            guarded(SpinEditSelecaoFinal, [this] { SpinEditSelecaoFinalChange(); }));
    connect(SpinEditNumeroPartes, &TSpinEdit::Change, this,
            guarded(SpinEditNumeroPartes, [this] { SpinEditNumeroPartesChange(); }));
    connect(SpinEditTamanhoPartes, &TSpinEdit::Change, this,
            guarded(SpinEditTamanhoPartes, [this] { SpinEditTamanhoPartesChange(); }));
}

TVisualizadorFilme::~TVisualizadorFilme() {
    AviCapture->OnProgress = nullptr;
    AviCapture->OnExtractFramesProgress = nullptr;
}

void TVisualizadorFilme::FormCreate() {
    KB = 1024;
    MB = 1024.0 * 1024.0;
    GB = 1024.0 * 1024.0 * 1024.0;
    TB = 1024.0 * 1024.0 * 1024.0 * 1024.0;
    DesabilitarControles();
}

QString TVisualizadorFilme::FormataValorBytes(qint64 bytes) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const double n = double(bytes);
    const struct {
        double unit;
        const char* name;
    } units[] = {{1099511627776.0, "TB"}, {1073741824.0, "GB"}, {1048576.0, "MB"}, {1024.0, "KB"}};
    for (const auto& u : units)
        if (n > u.unit)
            return locale.toString(n / u.unit, 'f', 2) + QLatin1String(u.name);
    return locale.toString(bytes) + QStringLiteral("B");
}

QString TVisualizadorFilme::NumeroDoTamanho(const QString& text) {
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1).isLetter())
        --end;
    return text.left(end);
}

QString TVisualizadorFilme::UnidadeDoTamanho(const QString& text) {
    return text.mid(NumeroDoTamanho(text).size());
}

qint64 TVisualizadorFilme::TamanhoArquivo(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return 0;
    return info.size();
}

bool TVisualizadorFilme::FilmeExiste() const {
    return !NomeFilme.isEmpty() && QFileInfo(NomeFilme).isFile();
}

const TBitmap* TVisualizadorFilme::SourcePicture() const {
    return Imagem->Picture().Empty() ? nullptr : &Imagem->Picture();
}

QString TVisualizadorFilme::TextoQuadroAoCarregar() const {
    return QStringLiteral("Frame ");
}

void TVisualizadorFilme::DesabilitarControles() {
    GroupBoxFramesSelecionados->setEnabled(false);
    GroupBoxSplit->setEnabled(false);
    TrackerVideo->setEnabled(false);

    EditTotalFrames->setText(QStringLiteral("0"));
    SpinEditFrameAtual->SetBounds(0, 0);

    TrackerVideo->SetMaximum(0);
    TrackerVideo->SetValue(0);
    SpinEditFrameAtual->SetValue(0);
    TrackerVideo->SetMinimum(0);

    for (TSpinEdit* box : {SpinEditSelecaoFinal, SpinEditSelecaoInicial, SpinEditNumeroPartes}) {
        box->SetMinValue(0);
        box->SetValue(0);
        box->SetBounds(SpinEditFrameAtual->MinValue(), SpinEditFrameAtual->MaxValue());
        box->SetValue(SpinEditFrameAtual->Value());
    }

    SpinEditTamanhoPartes->SetBounds(0, 0);
    EditTamanho->setText(QStringLiteral("0"));

    Imagem->Clear();

    SpeedButtonTamanhoNormal->setEnabled(false);
    SpeedButtonAjustarNaTela->setEnabled(false);
    SpinEditZoom->setEnabled(false);
    SpinEditFrameAtual->setEnabled(false);
    EditTotalFrames->setEnabled(false);
    DesabilitarControlesJanela();
}

void TVisualizadorFilme::HabilitarControles() {
    const int frames = AviCapture->Frames;
    GroupBoxFramesSelecionados->setEnabled(true);
    GroupBoxSplit->setEnabled(true);
    TrackerVideo->setEnabled(true);

    EditTotalFrames->setText(QString::number(frames));
    SpinEditFrameAtual->SetBounds(1, frames);

    TrackerVideo->SetMaximum(frames);
    TrackerVideo->SetValue(1);
    SpinEditFrameAtual->SetValue(1);
    TrackerVideo->SetMinimum(1);
    TrackerVideo->SetSelStart(1);
    TrackerVideo->SetSelEnd(1);

    for (TSpinEdit* box : {SpinEditSelecaoFinal, SpinEditSelecaoInicial, SpinEditNumeroPartes}) {
        box->SetMinValue(0);
        box->SetValue(0);
        box->SetBounds(SpinEditFrameAtual->MinValue(), SpinEditFrameAtual->MaxValue());
        box->SetValue(SpinEditFrameAtual->Value());
    }

    // A film without frames has no size per frame: the lower bound is then the whole film.
    SpinEditTamanhoPartes->SetBounds(frames > 0 ? TamanhoFilme / frames : TamanhoFilme,
                                     TamanhoFilme);

    SpeedButtonTamanhoNormal->setEnabled(true);
    SpeedButtonAjustarNaTela->setEnabled(true);
    SpinEditZoom->setEnabled(true);
    SpinEditFrameAtual->setEnabled(true);
    EditTotalFrames->setEnabled(true);
    HabilitarControlesJanela();
}

bool TVisualizadorFilme::AbrirVideo(const QString& path) {
    AviCapture->CloseFilm();
    NomeFilme = path;
    DesabilitarControles();

    if (!AviCapture->ReadFileInfo(path))
        return false;
    TamanhoFilme = TamanhoArquivo(path);
    if (!AviCapture->OpenFilm(path)) {
        DesabilitarControles();
        MensagemErro(kErroAbrir);
        return false;
    }
    MostrarInformacoes();
    HabilitarControles();

    std::unique_ptr<TBitmap> frame = AviCapture->GetFrame(TrackerVideo->Value() - 1);
    if (!frame) {
        MensagemErro(kErroAbrir);
        return false;
    }
    Imagem->SetStretch(true);
    Imagem->SetAutoSize(false);
    AjustarTamanhoTela(frame->Width(), frame->Height());
    Imagem->SetPicture(std::move(*frame));
    Imagem->update();
    AlinharImage();

    StatusBar->SetPanelText(0, QStringLiteral("Size: ") + FormataValorBytes(TamanhoFilme));
    StatusBar->SetPanelText(1, TextoQuadroAoCarregar() + SpinEditFrameAtual->text() +
                                   QStringLiteral(" from ") + EditTotalFrames->text());
    atualizarPainelSelecao();

    setWindowTitle(PrefixoTitulo() + QStringLiteral("[") + NomeFilme + QStringLiteral("]"));

    const bool sound = SomDisponivel();
    CheckBoxSom->setEnabled(sound);
    CheckBoxSom->setChecked(sound);
    return true;
}

bool TVisualizadorFilme::SomDisponivel() {
    return AviCapture->HasSound(NomeFilme);
}

void TVisualizadorFilme::RecarregarFilme() {
    AbrirVideo(NomeFilme);
}

void TVisualizadorFilme::atualizarPainelSelecao() {
    StatusBar->SetPanelText(2, QStringLiteral("Selection: ") + SpinEditSelecaoInicial->text() +
                                   QStringLiteral(" a ") + SpinEditSelecaoFinal->text());
}

void TVisualizadorFilme::mostrarQuadro(std::unique_ptr<TBitmap> frame) {
    // A frame that cannot be fetched leaves an empty picture.
    Imagem->SetPicture(frame ? std::move(*frame) : TBitmap());
    Imagem->update();
    AlinharImage();
}

void TVisualizadorFilme::TrackerVideoChangedValue(int) {
    if (!FilmeExiste())
        return;
    // A film of one frame keeps the slider's range 0..1: its 0 is the first frame too. A fetch
    // below the first frame would close the engine's reader.
    if (TrackerVideo->Value() < 1)
        TrackerVideo->SetValue(1);
    SpinEditFrameAtual->SetValue(TrackerVideo->Value());
    mostrarQuadro(AviCapture->GetFrame(TrackerVideo->Value() - 1));
    SpinEditSelecaoInicial->SetValue(TrackerVideo->SelStart());
    SpinEditSelecaoFinal->SetValue(TrackerVideo->SelEnd());
    SpinEditFrameAtual->SetValue(TrackerVideo->Value());
    StatusBar->SetPanelText(1, QStringLiteral("Frame ") + SpinEditFrameAtual->text() +
                                   QStringLiteral(" from ") + EditTotalFrames->text());
}

void TVisualizadorFilme::SpinEditFrameAtualChange() {
    if (!FilmeExiste())
        return;
    // Moves the thumb only: the slider raises nothing for a value set by the program.
    TrackerVideo->SetValue(int(SpinEditFrameAtual->Value()));
}

void TVisualizadorFilme::SpinEditSelecaoInicialChange() {
    TrackerVideo->SetSelStart(int(SpinEditSelecaoInicial->Value()));
    if (SpinEditSelecaoFinal->Value() < SpinEditSelecaoInicial->Value())
        SpinEditSelecaoFinal->SetValue(SpinEditSelecaoInicial->Value());
    atualizarPainelSelecao();
    TrackerVideo->SetSelStart(int(SpinEditSelecaoInicial->Value()));
}

void TVisualizadorFilme::SpinEditSelecaoFinalChange() {
    const qint64 v = SpinEditSelecaoFinal->Value();
    if (v >= TrackerVideo->SelStart())
        TrackerVideo->SetSelEnd(int(v));
    else
        SpinEditSelecaoFinal->SetValue(TrackerVideo->SelEnd());
    atualizarPainelSelecao();
    TrackerVideo->SetSelEnd(int(SpinEditSelecaoFinal->Value()));
}

void TVisualizadorFilme::SpinEditZoomChange() {
    Imagem->SetAutoSize(false);
    Imagem->SetStretch(true);
    const double zoom = double(SpinEditZoom->Value());
    Imagem->resize(roundEven(zoom / 100.0 * LarguraQuadro), roundEven(zoom / 100.0 * AlturaQuadro));
    AlinharImage();
}

void TVisualizadorFilme::SpeedButtonTamanhoNormalClick() {
    Imagem->SetStretch(false);
    Imagem->SetAutoSize(true);
    SpinEditZoom->SetValue(100);
    // The zoom handler sized the picture for stretching; the picture takes its own size again.
    Imagem->SetStretch(false);
    Imagem->SetAutoSize(true);
    AlinharImage();
}

void TVisualizadorFilme::SpeedButtonAjustarNaTelaClick() {
    Imagem->SetStretch(true);
    Imagem->SetAutoSize(false);
    AjustarTamanhoTela(LarguraQuadro, AlturaQuadro);
}

void TVisualizadorFilme::AjustarTamanhoTela(int width, int height) {
    LarguraQuadro = width;
    AlturaQuadro = height;
    SpinEditZoom->SetValue(100);
    auto scaled = [this](int size) {
        return roundEven(double(SpinEditZoom->Value()) / 100.0 * size);
    };
    int w = scaled(width);
    int h = scaled(height);
    while ((w > ScrollBoxFrame->width() - 10 || h > ScrollBoxFrame->height() - 10) &&
           SpinEditZoom->Value() > 1) {
        SpinEditZoom->SetValue(SpinEditZoom->Value() - 1);
        w = scaled(width);
        h = scaled(height);
    }
    Imagem->resize(w, h);
    AlinharImage();
}

void TVisualizadorFilme::AlinharImage() {
    const QSize box = ScrollBoxFrame->size();
    const QSize picture = Imagem->size();
    if (picture.width() < box.width() && picture.height() < box.height()) {
        Imagem->move((box.width() - picture.width()) / 2, (box.height() - picture.height()) / 2);
        m_canvas->resize(ScrollBoxFrame->viewport()->size());
    } else {
        // The box scrolls over a picture larger than itself.
        Imagem->move(0, 0);
        m_canvas->resize(picture.expandedTo(ScrollBoxFrame->viewport()->size()));
    }
}

void TVisualizadorFilme::SpinEditNumeroPartesChange() {
    const qint64 n = SpinEditNumeroPartes->Value();
    if (n <= 0)
        return;
    TamanhoParte = TamanhoFilme / n;
    SpinEditTamanhoPartes->SetValue(TamanhoParte);
    mostrarTamanhoParte();
    PartesAlteradas();
}

void TVisualizadorFilme::mostrarTamanhoParte() {
    const QString text = FormataValorBytes(TamanhoParte);
    EditTamanho->setText(NumeroDoTamanho(text));
    LabelTextoTamanho->setText(UnidadeDoTamanho(text));
}

void TVisualizadorFilme::SpinEditTamanhoPartesChange() {
    const qint64 v = SpinEditTamanhoPartes->Value();
    // A size of nothing gives no part count (typed text such as "0" or "-5").
    if (v != TamanhoParte && v > 0) {
        TamanhoParte = v;
        SpinEditNumeroPartes->SetValue(TamanhoFilme / v);
        mostrarTamanhoParte();
        const QString unit = UnidadeDoTamanho(FormataValorBytes(TamanhoParte));
        if (unit == QLatin1String("TB"))
            SpinEditTamanhoPartes->SetIncrement(qint64(1) << 40);
        else if (unit == QLatin1String("GB"))
            SpinEditTamanhoPartes->SetIncrement(1073741824);
        else if (unit == QLatin1String("MB"))
            SpinEditTamanhoPartes->SetIncrement(1048576);
        else if (unit == QLatin1String("KB"))
            SpinEditTamanhoPartes->SetIncrement(1024);
        else
            SpinEditTamanhoPartes->SetIncrement(1);
        if (SpinEditNumeroPartes->Value() * TamanhoParte < TamanhoFilme)
            SpinEditNumeroPartes->SetValue(SpinEditNumeroPartes->Value() + 1);
    }
    PartesAlteradas();
}

void TVisualizadorFilme::atualizarTela() {
    StatusBar->repaint();
    QCoreApplication::processEvents();
}

void TVisualizadorFilme::AviCaptureProgress(int I, TAviCapture*, bool&) {
    try {
        ProgressBarCompactar->setRange(0, 100);
        ProgressBarCompactar->setValue(I);
        atualizarTela();
    } catch (...) {
        // Progress is only shown; a failure here must not stop the film work.
    }
}

void TVisualizadorFilme::AviCaptureExtractFramesProgress(int Max, int Min, int Value, TAviCapture*,
                                                         bool&) {
    try {
        ProgressBarCompactar->setRange(Min, Max);
        ProgressBarCompactar->setValue(Value);
        atualizarTela();
    } catch (...) {
    }
}

void TVisualizadorFilme::StatusBarDrawPanel(QPainter& canvas, int panel, const QRect& rect) {
    if (panel != 3)
        return;
    // The bar is never shown as a control: it is painted into the panel.
    ProgressBarCompactar->resize(std::max(0, rect.width() - 1), rect.height() + 1);
    ProgressBarCompactar->render(&canvas, rect.topLeft(), QRegion(), QWidget::DrawChildren);
}

QPushButton* TVisualizadorFilme::BotaoComando(const char* name, const QString& caption,
                                              const QString& hint) {
    auto* b = new QPushButton(caption);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(hint);
    b->setAccessibleDescription(hint);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

void TVisualizadorFilme::AdicionarCaixasSelecaoPartes(QHBoxLayout* row) {
    auto* selection = new QGridLayout(GroupBoxFramesSelecionados);
    selection->setContentsMargins(6, 2, 6, 2);
    selection->addWidget(LabelSelecaoInicial, 0, 0);
    selection->addWidget(SpinEditSelecaoInicial, 0, 1);
    selection->addWidget(LabelSelecaoFinal, 1, 0);
    selection->addWidget(SpinEditSelecaoFinal, 1, 1);
    SpinEditSelecaoInicial->setFixedWidth(72);
    SpinEditSelecaoFinal->setFixedWidth(72);
    row->addWidget(GroupBoxFramesSelecionados);

    auto* split = new QGridLayout(GroupBoxSplit);
    split->setContentsMargins(6, 2, 6, 2);
    split->addWidget(LabelNumeroPartes, 0, 0);
    SpinEditNumeroPartes->setFixedWidth(69);
    split->addWidget(SpinEditNumeroPartes, 0, 1);
    split->addWidget(LabelTamanhoPartes, 1, 0);
    // The formatted part size lies over the left part of the size box, beside its arrows.
    SpinEditTamanhoPartes->setFixedWidth(69);
    split->addWidget(SpinEditTamanhoPartes, 1, 1);
    EditTamanho->setParent(SpinEditTamanhoPartes);
    EditTamanho->setGeometry(0, 0, 52, SpinEditTamanhoPartes->sizeHint().height());
    split->addWidget(LabelTextoTamanho, 1, 2);
    row->addWidget(GroupBoxSplit);
}

void TVisualizadorFilme::ComandoFilme(const OperacaoFilme& operacao) {
    if (!FilmeExiste())
        return;
    ExecutarComandoFilme(operacao);
}

QString TVisualizadorFilme::TextoComandoRecusado() {
    return QStringLiteral("Another film command is running: wait until it ends.");
}

void TVisualizadorFilme::ExecutarComandoFilme(const OperacaoFilme& operacao) {
    if (!m_host)
        return;
    // The running command (of this window or another) needs its engine and the shared progress
    // of merges until it returns.
    if (m_comandoEmCurso || FilmCommands::Running() > 0) {
        StatusBar->SetPanelText(1, TextoComandoRecusado());
        return;
    }
    qdx::FileDialogRequest& dialog = m_host->SaveDialogVideoRequest();
    dialog.title = QStringLiteral("Select the file name to destination.");
    const std::optional<QString> target = qdx::prompts().saveFile(dialog);
    if (!target)
        return;
    const QString remembered = m_host->StatusText(2);
    m_host->SetStatusText(2, QStringLiteral("processing..."));
    struct Restore {
        TVisualizadorFilme* window;
        QString text;
        FilmCommands::Scope scope;
        ~Restore() {
            window->m_host->SetStatusText(2, text);
            window->m_comandoEmCurso = false;
            if (window->m_fecharAoTerminar)
                QTimer::singleShot(0, window, [w = window] { w->close(); });
        }
    } restore{this, remembered, {}};
    m_comandoEmCurso = true;
    const bool carregado = TrackerVideo->isEnabled();
    const auto antes = TAviCapture::FileIdentity(NomeFilme);
    const FilmOutcome outcome = operacao(*target);
    // The error box and the new load still belong to the command: the window stays until both
    // are done.
    m_host->SetStatusText(2, remembered);
    if (outcome.failed())
        MensagemErro(outcome.reason);
    if (carregado && TAviCapture::FileIdentity(NomeFilme) != antes)
        RecarregarFilme();
}

void TVisualizadorFilme::SemComandoEmCurso(const std::function<void()>& comando) {
    if (m_comandoEmCurso)
        return;
    comando();
}

void TVisualizadorFilme::ComandoSelecao(OperacaoSelecao operacao) {
    ComandoFilme([this, operacao](const QString& target) -> FilmOutcome {
        int filmFirst = 0;
        int filmLast = 0;
        if (!AviCapture->GetFrameRange(NomeFilme, filmFirst, filmLast))
            return {FilmOutcome::Cancelled, QString()}; // the engine has said why
        // After the join window's Remove the reset selection may start at 0: the first frame is
        // never below the film's.
        const int first = std::clamp(TrackerVideo->SelStart() - 1, filmFirst, filmLast);
        const int last = std::clamp(TrackerVideo->SelEnd() - 1, filmFirst, filmLast);
        if (last < first)
            return {FilmOutcome::Cancelled, QString()};
        return (AviCapture->*operacao)(CheckBoxSom->isChecked(), first, last, NomeFilme, target);
    });
}

void TVisualizadorFilme::CopiarSelecao() {
    ComandoSelecao(&TAviCapture::CopySelection);
}

void TVisualizadorFilme::DividirFilme() {
    ComandoFilme([this](const QString& target) -> FilmOutcome {
        // The whole film, as the engine reads it now.
        int first = 0;
        int last = 0;
        if (!AviCapture->GetFrameRange(NomeFilme, first, last))
            return {FilmOutcome::Cancelled, QString()}; // the engine has said why
        const qint64 parts = SpinEditNumeroPartes->Value();
        if (parts <= 0 || last < first)
            return {FilmOutcome::Cancelled, QString()};
        return AviCapture->SplitFilm(CheckBoxSom->isChecked(), first, last, int(parts), NomeFilme,
                                     target);
    });
}

void TVisualizadorFilme::SalvarCena() {
    if (m_host)
        m_host->SaveShownFrame(this);
}

void TVisualizadorFilme::closeEvent(QCloseEvent* event) {
    if (m_comandoEmCurso) {
        // Closed as soon as the running command returns.
        m_fecharAoTerminar = true;
        event->ignore();
        return;
    }
    QMdiSubWindow::closeEvent(event);
}

void TVisualizadorFilme::resizeEvent(QResizeEvent* event) {
    QMdiSubWindow::resizeEvent(event);
    AlinharImage();
}
