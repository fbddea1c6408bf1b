#include "editor/TFormJoin.h"

#include "avi/TAviCapture.h"
#include "editor/TSpinEdit.h"
#include "editor/TjanTracker.h"
#include "platform/core/AppFolder.h"
#include "ui/ErrorRoute.h"
#include "ui/TStatusBar.h"

#include <QCheckBox>
#include <QCollator>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kSizeRole = Qt::UserRole;
constexpr int kFramesRole = Qt::UserRole + 1;

QLabel* infoLabel(const char* name) {
    auto* l = new QLabel;
    l->setObjectName(QLatin1String(name));
    return l;
}

QCollator nameOrder() {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseSensitive);
    return collator;
}

} // namespace

TFormJoin::TFormJoin(EditorHost* host, QWidget* parent) : TVisualizadorFilme(host, parent) {
    setWindowTitle(TituloJanela());
    setWindowIcon(QIcon());
    // F1 in the window opens its own help topic (the main window's Help command reads it).
    setProperty("HelpContext", 900);

    CheckBoxSom->setText(QStringLiteral("Gerar arquivos com som."));
    CheckBoxSom->setAccessibleName(CheckBoxSom->text());
    ListViewArquivos = new QTreeWidget;
    ListViewArquivos->setObjectName(QStringLiteral("ListViewArquivos"));
    ListViewArquivos->setAccessibleName(QStringLiteral("Arquivo"));
    ListViewArquivos->setColumnCount(1);
    ListViewArquivos->setHeaderLabels({QStringLiteral("Arquivo")});
    ListViewArquivos->setColumnWidth(0, 275);
    ListViewArquivos->setRootIsDecorated(false);
    ListViewArquivos->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewArquivos->setSelectionMode(QAbstractItemView::SingleSelection);
    // In-place editing of a caption is always refused.
    ListViewArquivos->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewArquivos->setSortingEnabled(false);
    ListViewArquivos->header()->setSectionsClickable(true);
    ListViewArquivos->setAlternatingRowColors(true);

    SpeedButtonAdicionar = BotaoComando("SpeedButtonAdicionar", QStringLiteral("Add"),
                                        QStringLiteral("Adicionar um novo arquivo a lista"));
    SpeedButtonMoveFirst = BotaoComando(
        "SpeedButtonMoveFirst", QStringLiteral("First"),
        QStringLiteral("Mover o arquivo selecionado para a primeira posição da lista."));
    SpeedButtonMoveUp =
        BotaoComando("SpeedButtonMoveUp", QStringLiteral("Move Up"),
                     QStringLiteral("Mover o arquivo selecionado uma posição para cima."));
    SpeedButtonMoveDown =
        BotaoComando("SpeedButtonMoveDown", QStringLiteral("Move Down"),
                     QStringLiteral("Mover o arquivo selecionado uma posição para baixo."));
    SpeedButtonMoveLast =
        BotaoComando("SpeedButtonMoveLast", QStringLiteral("Move Last"),
                     QStringLiteral("Mover o arquivo selecionado para a última posição da lista."));
    SpeedButtonRemove = BotaoComando("SpeedButtonRemove", QStringLiteral("Remove"),
                                     QStringLiteral("Remover o arquivo selecionado da lista"));
    SpeedButtonShow = BotaoComando("SpeedButtonShow", QStringLiteral("Show"),
                                   QStringLiteral("Show frames from selected movie."));
    SpeedButtonJoin =
        BotaoComando("SpeedButtonJoin", QStringLiteral("Join"),
                     QStringLiteral("Join/Merge all fileson the list  to large movie(AVI)."));
    SpeedButtonDividir->setText(QStringLiteral("Split"));
    SpeedButtonSalvar->setText(QStringLiteral("Extract"));
    SpeedButtonCriar = BotaoComando("SpeedButtonCriar", QStringLiteral("New AVI"), QString());

    LabelFileName = infoLabel("LabelFileName");
    LabelFileType = infoLabel("LabelFileType");
    LabelFrames = infoLabel("LabelFrames");
    LabelResolucao = infoLabel("LabelResolucao");
    LabelSize = infoLabel("LabelSize");

    // Left panel: the list with its buttons, then the information panel.
    PanelComFundoArquivos = new QWidget;
    auto* files = new QVBoxLayout(PanelComFundoArquivos);
    files->setContentsMargins(4, 4, 4, 4);
    files->addWidget(CheckBoxSom);
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(ListViewArquivos, 1);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b :
         {SpeedButtonAdicionar, SpeedButtonMoveFirst, SpeedButtonMoveUp, SpeedButtonMoveDown,
          SpeedButtonMoveLast, SpeedButtonRemove, SpeedButtonShow, SpeedButtonJoin})
        buttons->addWidget(b);
    buttons->addStretch(1);
    listRow->addLayout(buttons);
    files->addLayout(listRow, 1);
    auto* info = new QWidget;
    auto* infoLayout = new QVBoxLayout(info);
    infoLayout->setContentsMargins(4, 4, 4, 4);
    for (QLabel* l : {LabelFileName, LabelFileType, LabelFrames, LabelResolucao, LabelSize}) {
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        infoLayout->addWidget(l);
    }
    auto* left = new QSplitter(Qt::Vertical);
    left->addWidget(PanelComFundoArquivos);
    left->addWidget(info);
    left->setStretchFactor(0, 1);

    // Right side: the viewer's top bar, the picture and the slider panel.
    auto* top = new QWidget;
    auto* bar = new QHBoxLayout(top);
    bar->setContentsMargins(4, 2, 4, 2);
    bar->addWidget(LabelZoom);
    SpinEditZoom->setFixedWidth(56);
    bar->addWidget(SpinEditZoom);
    bar->addWidget(LabelPorcento);
    bar->addWidget(SpeedButtonTamanhoNormal);
    bar->addWidget(SpeedButtonAjustarNaTela);
    bar->addWidget(LabelFrame);
    SpinEditFrameAtual->setFixedWidth(72);
    bar->addWidget(SpinEditFrameAtual);
    bar->addWidget(LabelTotal);
    EditTotalFrames->setFixedWidth(64);
    bar->addWidget(EditTotalFrames);
    bar->addStretch(1);

    PanelComFundoTracker = new QWidget;
    PanelComFundoTracker->setMinimumHeight(98);
    auto* trackerPanel = new QVBoxLayout(PanelComFundoTracker);
    trackerPanel->setContentsMargins(2, 2, 3, 2);
    trackerPanel->addWidget(TrackerVideo);
    auto* row = new QHBoxLayout;
    AdicionarCaixasSelecaoPartes(row);
    auto* small = new QVBoxLayout;
    for (QPushButton* b : {SpeedButtonDividir, SpeedButtonSalvar, SpeedButtonCriar}) {
        b->setFixedHeight(std::max(22, b->sizeHint().height())); // taller for a large font
        small->addWidget(b);
    }
    row->addLayout(small);
    row->addStretch(1);
    trackerPanel->addLayout(row);

    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    rightLayout->addWidget(top);
    rightLayout->addWidget(ScrollBoxFrame, 1);
    rightLayout->addWidget(PanelComFundoTracker);

    auto* panes = new QSplitter(Qt::Horizontal);
    panes->addWidget(left);
    panes->addWidget(right);
    panes->setStretchFactor(1, 1);
    auto* client = new QWidget;
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(panes, 1);
    layout->addWidget(StatusBar);
    setWidget(client);
    resize(QSize(764, 488).expandedTo(client->minimumSizeHint() + QSize(8, 30)));
    panes->setSizes({393, width() - 393});

    using qdx::ui::guarded;
    const auto on = [this](QPushButton* b, void (TFormJoin::*handler)()) {
        connect(b, &QPushButton::clicked, this,
                guarded(b, [this, handler] { (this->*handler)(); }));
    };
    on(SpeedButtonAdicionar, &TFormJoin::SpeedButtonAdicionarClick);
    on(SpeedButtonMoveFirst, &TFormJoin::SpeedButtonMoveFirstClick);
    on(SpeedButtonMoveUp, &TFormJoin::SpeedButtonMoveUpClick);
    on(SpeedButtonMoveDown, &TFormJoin::SpeedButtonMoveDownClick);
    on(SpeedButtonMoveLast, &TFormJoin::SpeedButtonMoveLastClick);
    on(SpeedButtonRemove, &TFormJoin::SpeedButtonRemoveClick);
    on(SpeedButtonShow, &TFormJoin::SpeedButtonShowClick);
    on(SpeedButtonJoin, &TFormJoin::SpeedButtonJoinClick);
    on(SpeedButtonDividir, &TFormJoin::SpeedButtonDividirClick);
    on(SpeedButtonSalvar, &TFormJoin::SpeedButtonSalvarClick);
    on(SpeedButtonCriar, &TFormJoin::SpeedButtonCriarClick);
    connect(ListViewArquivos, &QTreeWidget::itemDoubleClicked, this,
            guarded(ListViewArquivos, [this] { ListViewArquivosDblClick(); }));
    connect(ListViewArquivos->header(), &QHeaderView::sectionClicked, this,
            guarded(ListViewArquivos, [this] { ListViewArquivosColumnClick(); }));

    OpenDialogVideo.mustExist = true;
    FormCreate();
}

QString TFormJoin::DuplicateQuestion(const QString& file) {
    return QStringLiteral("The file \"") + file +
           QStringLiteral("\" already is on the list. Do you want add it?");
}

void TFormJoin::DesabilitarControlesJanela() {
    // "Split", "Extract" and "New AVI" stay enabled: they are never disabled.
    LabelFileName->setText(QStringLiteral("File Name: "));
    LabelSize->setText(QStringLiteral("File Size: "));
    LabelFrames->setText(QStringLiteral("Frames: "));
    LabelResolucao->setText(QStringLiteral("Resolution: "));
    LabelFileType->setText(QStringLiteral("File Type: "));
}

void TFormJoin::MostrarInformacoes() {
    LabelFileName->setText(QStringLiteral("File Name: ") + NomeFilme);
    LabelSize->setText(QStringLiteral("File Size: ") + FormataValorBytes(TamanhoFilme));
    LabelFrames->setText(QStringLiteral("Frames: ") + QString::number(AviCapture->Frames));
    LabelResolucao->setText(QStringLiteral("Resolution: ") +
                            QString::number(AviCapture->WidthResolution) + QStringLiteral("x") +
                            QString::number(AviCapture->HeightResolution));
    LabelFileType->setText(QStringLiteral("File Type: ") + AviCapture->FileType);
}

QStringList TFormJoin::Captions() const {
    QStringList captions;
    for (int i = 0; i < ListViewArquivos->topLevelItemCount(); ++i)
        captions.append(ListViewArquivos->topLevelItem(i)->text(0));
    return captions;
}

QStringList TFormJoin::JoinLines(int* total) const {
    QStringList lines;
    int sum = 0;
    for (int i = 0; i < ListViewArquivos->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ListViewArquivos->topLevelItem(i);
        const QString frames = item->data(0, kFramesRole).toString();
        lines.append(item->text(0) + QStringLiteral("=") + frames);
        sum += frames.toInt();
    }
    if (total)
        *total = sum;
    return lines;
}

int TFormJoin::inserirEntrada(int index, const QString& caption, const QString& size,
                              const QString& frames) {
    const int count = ListViewArquivos->topLevelItemCount();
    if (m_sorted) {
        // Setting the caption puts the entry straight into its sorted place.
        const QCollator order = nameOrder();
        index = count;
        for (int i = 0; i < count; ++i)
            if (order.compare(caption, ListViewArquivos->topLevelItem(i)->text(0)) < 0) {
                index = i;
                break;
            }
    }
    index = std::clamp(index, 0, count);
    auto* item = new QTreeWidgetItem;
    item->setText(0, caption);
    item->setData(0, kSizeRole, size);
    item->setData(0, kFramesRole, frames);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    ListViewArquivos->insertTopLevelItem(index, item);
    return index;
}

int TFormJoin::indiceSelecionado() const {
    const QList<QTreeWidgetItem*> selected = ListViewArquivos->selectedItems();
    if (selected.isEmpty())
        return -1;
    return ListViewArquivos->indexOfTopLevelItem(selected.constFirst());
}

void TFormJoin::selecionar(int index) {
    ListViewArquivos->clearSelection();
    if (QTreeWidgetItem* item = ListViewArquivos->topLevelItem(index)) {
        item->setSelected(true);
        ListViewArquivos->setCurrentItem(item);
    }
}

void TFormJoin::ordenar() {
    QList<QTreeWidgetItem*> items;
    while (ListViewArquivos->topLevelItemCount() > 0)
        items.append(ListViewArquivos->takeTopLevelItem(0));
    const QCollator order = nameOrder();
    std::stable_sort(items.begin(), items.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return order.compare(a->text(0), b->text(0)) < 0;
    });
    ListViewArquivos->addTopLevelItems(items);
}

bool TFormJoin::carregar(const QString& path) {
    // Any error while loading makes the load fail.
    try {
        return AbrirVideo(path);
    } catch (...) {
        return false;
    }
}

void TFormJoin::SpeedButtonAdicionarClick() {
    SemComandoEmCurso([this] {
        OpenDialogVideo.title = QStringLiteral("Select the archive to compress.");
        const std::optional<QStringList> chosen = qdx::prompts().openFiles(OpenDialogVideo);
        if (!chosen)
            return;
        for (qsizetype i = chosen->size() - 1; i >= 0; --i) {
            const QString& file = chosen->at(i);
            try {
                if (Captions().contains(file, Qt::CaseInsensitive) &&
                    !qdx::prompts().question(qdx::applicationTitle(), DuplicateQuestion(file)))
                    continue;
                if (carregar(file))
                    inserirEntrada(ListViewArquivos->topLevelItemCount(), NomeFilme,
                                   FormataValorBytes(TamanhoFilme), EditTotalFrames->text());
            } catch (...) {
                // An error with this file leaves it out; the next one is tried.
            }
        }
    });
}

void TFormJoin::SpeedButtonRemoveClick() {
    SemComandoEmCurso([this] {
        const int index = indiceSelecionado();
        if (index < 0)
            return;
        AviCapture->CloseFilm();
        DesabilitarControles();
        delete ListViewArquivos->takeTopLevelItem(index);
        // The sound box follows the films still listed.
        const bool sound = SomDisponivel();
        CheckBoxSom->setEnabled(sound);
        if (!sound)
            CheckBoxSom->setChecked(false);
    });
}

bool TFormJoin::SomDisponivel() {
    if (FilmeExiste() && AviCapture->HasSound(NomeFilme))
        return true;
    const QStringList films = Captions();
    return std::any_of(films.begin(), films.end(),
                       [this](const QString& film) { return AviCapture->HasSound(film); });
}

void TFormJoin::RecarregarFilme() {
    if (!carregar(NomeFilme))
        return;
    for (int i = 0; i < ListViewArquivos->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ListViewArquivos->topLevelItem(i);
        if (TAviCapture::SameFile(item->text(0), NomeFilme)) {
            item->setData(0, kSizeRole, FormataValorBytes(TamanhoFilme));
            item->setData(0, kFramesRole, EditTotalFrames->text());
        }
    }
}

void TFormJoin::moverSelecionado(int insertAt, int finalIndex) {
    const int index = indiceSelecionado();
    QTreeWidgetItem* original = ListViewArquivos->topLevelItem(index);
    const QString caption = original->text(0);
    const QString size = original->data(0, kSizeRole).toString();
    const QString frames = original->data(0, kFramesRole).toString();
    const int placed = inserirEntrada(insertAt, caption, size, frames);
    delete ListViewArquivos->takeTopLevelItem(placed <= index ? index + 1 : index);
    selecionar(finalIndex);
}

void TFormJoin::SpeedButtonMoveFirstClick() {
    const int index = indiceSelecionado();
    if (index > 0)
        moverSelecionado(0, 0);
}

void TFormJoin::SpeedButtonMoveUpClick() {
    const int index = indiceSelecionado();
    if (index > 0)
        moverSelecionado(index - 1, index - 1);
}

void TFormJoin::SpeedButtonMoveDownClick() {
    const int index = indiceSelecionado();
    const int count = ListViewArquivos->topLevelItemCount();
    if (index >= 0 && index < count - 1)
        moverSelecionado(index + 2, index + 1);
}

void TFormJoin::SpeedButtonMoveLastClick() {
    const int index = indiceSelecionado();
    const int count = ListViewArquivos->topLevelItemCount();
    if (index >= 0 && index < count - 1)
        moverSelecionado(count, count - 1);
}

void TFormJoin::SpeedButtonShowClick() {
    SemComandoEmCurso([this] {
        const int index = indiceSelecionado();
        if (index < 0)
            return;
        AviCapture->CloseFilm();
        carregar(ListViewArquivos->topLevelItem(index)->text(0));
    });
}

void TFormJoin::ListViewArquivosDblClick() {
    SpeedButtonShowClick();
}

void TFormJoin::ListViewArquivosColumnClick() {
    m_sorted = !m_sorted;
    if (m_sorted)
        ordenar();
}

void TFormJoin::SpeedButtonJoinClick() {
    if (ListViewArquivos->topLevelItemCount() == 0)
        return;
    ExecutarComandoFilme([this](const QString& target) {
        int total = 0;
        const QStringList lines = JoinLines(&total);
        return AviCapture->JoinFilms(CheckBoxSom->isChecked(), lines, target, total);
    });
}

void TFormJoin::SpeedButtonDividirClick() {
    DividirFilme();
}

void TFormJoin::SpeedButtonSalvarClick() {
    SalvarCena();
}

void TFormJoin::SpeedButtonCriarClick() {
    CopiarSelecao();
}
