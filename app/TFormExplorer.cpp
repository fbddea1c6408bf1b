#include "app/TFormExplorer.h"

#include "app/TFormPrincipal.h"
#include "app/TShellTreeView.h"
#include "app/TThreadPreencheTela.h"
#include "shared/ArquivosImagem.h"
#include "ui/ErrorRoute.h"
#include "ui/TStatusBar.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

using qdx::ui::guarded;

namespace {

constexpr int kDadosRole = Qt::UserRole + 1;

} // namespace

const QList<std::pair<QString, QString>>& TFormExplorer::Filtros() {
    static const QList<std::pair<QString, QString>> filtros = {
        {QStringLiteral("All (*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf)"),
         QStringLiteral("*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf")},
        {QStringLiteral("JPEG Image File (*.jpg)"), QStringLiteral("*.jpg")},
        {QStringLiteral("JPEG Image File (*.jpeg)"), QStringLiteral("*.jpeg")},
        {QStringLiteral("Bitmaps (*.bmp)"), QStringLiteral("*.bmp")},
        {QStringLiteral("Icons (*.ico)"), QStringLiteral("*.ico")},
        {QStringLiteral("Enhanced Metafiles (*.emf)"), QStringLiteral("*.emf")},
        {QStringLiteral("Metafiles (*.wmf)"), QStringLiteral("*.wmf")},
        {QStringLiteral("Gif (*.gif)"), QStringLiteral("*.gif")},
    };
    return filtros;
}

TFormExplorer::TFormExplorer(QWidget* parent)
    : QMdiSubWindow(parent), m_imageList(std::make_unique<TImageList>()) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Images"));
    ImageList = m_imageList.get();

    auto* client = new QWidget;
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Splitter1 = new QSplitter(Qt::Horizontal);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);

    PanelEsquerdo = new QWidget;
    PanelEsquerdo->setObjectName(QStringLiteral("PanelEsquerdo"));
    auto* left = new QVBoxLayout(PanelEsquerdo);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(2);
    FilterComboBox = new QComboBox;
    FilterComboBox->setObjectName(QStringLiteral("FilterComboBox"));
    FilterComboBox->setAccessibleName(QStringLiteral("Filter"));
    for (const auto& [descricao, padroes] : Filtros())
        FilterComboBox->addItem(descricao, padroes);
    FilterComboBox->setCurrentIndex(0);
    FilterComboBox->setMinimumContentsLength(8);
    FilterComboBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ShellTreeView = new TShellTreeView;
    ShellTreeView->setObjectName(QStringLiteral("ShellTreeView"));
    CheckBoxSubPastas = new QCheckBox(QStringLiteral("&Include Subfolders"));
    CheckBoxSubPastas->setObjectName(QStringLiteral("CheckBoxSubPastas"));
    CheckBoxSubPastas->setAccessibleName(QStringLiteral("Include Subfolders"));
    LabelTamanho = new QLabel(QStringLiteral("Tamanho:"));
    LabelTamanho->setObjectName(QStringLiteral("LabelTamanho"));
    ComboBoxTamanho = new QComboBox;
    ComboBoxTamanho->setObjectName(QStringLiteral("ComboBoxTamanho"));
    ComboBoxTamanho->addItems(
        {QStringLiteral("Pequeno"), QStringLiteral("Médio"), QStringLiteral("Grande")});
    ComboBoxTamanho->setAccessibleName(QStringLiteral("Tamanho"));
    LabelTamanho->setBuddy(ComboBoxTamanho);
    left->addWidget(FilterComboBox);
    left->addWidget(ShellTreeView, 1);
    left->addWidget(CheckBoxSubPastas);
    left->addWidget(LabelTamanho);
    left->addWidget(ComboBoxTamanho);

    ListView = new QListWidget;
    ListView->setObjectName(QStringLiteral("ListView"));
    ListView->setAccessibleName(QStringLiteral("Pictures"));
    ListView->setViewMode(QListView::IconMode);
    ListView->setResizeMode(QListView::Adjust);
    ListView->setMovement(QListView::Static);
    ListView->setWrapping(true);
    ListView->setWordWrap(true);
    ListView->setTextElideMode(Qt::ElideMiddle);
    ListView->setLayoutMode(QListView::Batched);
    ListView->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView->setSpacing(5);
    ListView->setContextMenuPolicy(Qt::CustomContextMenu);

    Splitter1->addWidget(PanelEsquerdo);
    Splitter1->addWidget(ListView);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({185, 800});

    StatusBar = new TStatusBar;
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setAccessibleName(QStringLiteral("Status"));
    StatusBar->SetPanels({{200, {}, false}, {300, {}, false}, {50, {}, false}});

    layout->addWidget(Splitter1, 1);
    layout->addWidget(StatusBar);
    setWidget(client);

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    AbrircomQuadrix1 = PopupMenu->addAction(QStringLiteral("Open with Quadrix"));
    AbrircomQuadrix1->setObjectName(QStringLiteral("AbrircomQuadrix1"));
    Abrir1 = PopupMenu->addAction(QStringLiteral("Open"));
    Abrir1->setObjectName(QStringLiteral("Abrir1"));
    Explorar1 = PopupMenu->addAction(QStringLiteral("Explorer"));
    Explorar1->setObjectName(QStringLiteral("Explorar1"));

    // The entries that come into view get their thumbnails back, once per burst of scrolling.
    m_pedir = new QTimer(this);
    m_pedir->setSingleShot(true);
    m_pedir->setInterval(0);
    connect(m_pedir, &QTimer::timeout, this, guarded(this, [this] { pedirVisiveis(); }));
    connect(ListView->verticalScrollBar(), &QAbstractSlider::valueChanged, m_pedir,
            qOverload<>(&QTimer::start));

    FormCreate();

    connect(ShellTreeView, &TShellTreeView::DirChange, this,
            guarded(this, [this](QObject* sender, const QString& path) {
                ShellTreeViewDirChange(sender, path);
            }));
    connect(ComboBoxTamanho, &QComboBox::currentIndexChanged, this,
            guarded(this, [this] { ComboBoxTamanhoChange(); }));
    connect(FilterComboBox, &QComboBox::currentIndexChanged, this,
            guarded(this, [this] { FilterComboBoxChange(); }));
    connect(CheckBoxSubPastas, &QCheckBox::clicked, this,
            guarded(this, [this] { FilterComboBoxChange(); }));
    connect(ListView, &QListWidget::currentItemChanged, this,
            guarded(this, [this](QListWidgetItem* item) { ListViewChange(item); }));
    connect(ListView, &QListWidget::itemDoubleClicked, this,
            guarded(this, [this] { ListViewDblClick(); }));
    connect(ListView, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu->popup(ListView->viewport()->mapToGlobal(at)); });
    connect(AbrircomQuadrix1, &QAction::triggered, this,
            guarded(this, [this] { AbrircomQuadrix1Click(); }));
    connect(Abrir1, &QAction::triggered, this, guarded(this, [this] { Abrir1Click(); }));
    connect(Explorar1, &QAction::triggered, this, guarded(this, [this] { Explorar1Click(); }));
}

TFormExplorer::~TFormExplorer() {
    // A window destroyed without closing (the program ending) still stops its worker first.
    pararTrabalho();
}

void TFormExplorer::FormCreate() {
    ComboBoxTamanho->setCurrentIndex(0);
}

std::optional<TDados> TFormExplorer::Dados(const QListWidgetItem* item) {
    if (!item)
        return std::nullopt;
    const QVariant value = item->data(kDadosRole);
    if (!value.isValid())
        return std::nullopt;
    return value.value<TDados>();
}

// ---- Refresh and the handlers that start it ---------------------------------------------------

void TFormExplorer::ShellTreeViewDirChange(QObject*, const QString&) {
    AtualizarLista();
}

void TFormExplorer::ComboBoxTamanhoChange() {
    AtualizarLista();
}

void TFormExplorer::FilterComboBoxChange() {
    // While a fill runs, it goes on with the filter and check box it started with.
    if (!m_worker || m_worker->Terminated() || m_worker->Refazer)
        AtualizarLista();
}

void TFormExplorer::AtualizarLista() {
    // A refresh that arrives while another waits for the worker needs nothing more: the waiting
    // one starts the new fill with the choices as they are when the wait ends.
    if (m_esperando)
        return;
    try {
        pararTrabalho();
        limparLista();
        if (m_fecharDepois) {
            close();
            return;
        }
        m_pastaLida = ShellTreeView->Path();
        m_worker = std::make_unique<TThreadPreencheTela>(this, m_pastaLida, Padroes(),
                                                         CheckBoxSubPastas->isChecked());
        TThreadPreencheTela* worker = m_worker.get();
        connect(worker, &TThreadPreencheTela::Fim, this, [this, worker] {
            if (m_worker.get() != worker)
                return;
            mostrarAndamento();
            // Entries in view whose thumbnails were not made (the budget was spent) get them now.
            m_pedir->start();
        });
        mostrarAndamento();
    } catch (...) {
        // Errors of a refresh are ignored: the list stays as far as it got.
    }
}

void TFormExplorer::pararTrabalho() {
    if (!m_worker)
        return;
    m_esperando = true;
    m_worker->Parar();
    m_esperando = false;
    m_worker.reset();
}

void TFormExplorer::limparLista() {
    ListView->clear();
    ImageList->Clear();
    m_semMiniatura.clear();
    ListView->setToolTip(QString());
    StatusBar->SetPanelText(0, QString());
    StatusBar->SetPanelText(1, QString());
}

QStringList TFormExplorer::Padroes() const {
    return FilterComboBox->currentData().toString().split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

int TFormExplorer::Percentual() const {
    switch (ComboBoxTamanho->currentIndex()) {
    case 1:
        return 50;
    case 2:
        return 90;
    default:
        return 5;
    }
}

void TFormExplorer::mostrarAndamento() {
    const int count = ListView->count();
    const QString files =
        count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
    if (m_worker && !m_worker->Refazer && !m_worker->Concluido())
        StatusBar->SetPanelText(1, QStringLiteral("%1 - reading %2").arg(files, m_pastaLida));
    else
        StatusBar->SetPanelText(1, files);
}

// ---- The worker's side ------------------------------------------------------------------------

template <class F>
void TFormExplorer::naJanela(F&& f) {
    QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

void TFormExplorer::AjustarMiniaturas(TThreadPreencheTela* worker) {
    QSize celula;
    naJanela([&] {
        const int p = Percentual();
        celula = QSize(std::max(1, ListView->width() * p / 100),
                       std::max(1, ListView->height() * p / 100));
        ImageList->SetSize(celula);
        ListView->setIconSize(celula);
        // Room for the thumbnail and two lines of its name.
        const int line = ListView->fontMetrics().height();
        ListView->setGridSize(
            QSize(std::max(celula.width() + 12, 9 * line), celula.height() + 2 * line + 12));
    });
    worker->Celula = celula;
}

QString TFormExplorer::TextoTamanho(int64_t size) {
    if (size > 1073741824)
        return QStringLiteral("%1 GB").arg(size / 1073741824);
    if (size > 1048576)
        return QStringLiteral("%1 MB").arg(size / 1048576);
    if (size > 1024)
        return QStringLiteral("%1 KB").arg(size / 1024);
    return QStringLiteral("%1bytes").arg(size);
}

bool TFormExplorer::CarregarImagem(const QString& caminho, TBitmap& bitmap, QSize celula) {
    static const QStringList kTipos = {QStringLiteral(".bmp"), QStringLiteral(".gif"),
                                       QStringLiteral(".jpg"), QStringLiteral(".jpeg"),
                                       QStringLiteral(".wmf"), QStringLiteral(".ico")};
    if (!kTipos.contains(ExtensaoImagem(caminho).toLower()))
        return false;
    try {
        bitmap = ::CarregarImagem(caminho, celula);
        return !bitmap.Empty();
    } catch (...) {
        bitmap = TBitmap();
        return false;
    }
}

QImage TFormExplorer::FazerMiniatura(const QString& caminho, QSize celula) {
    // The decoded picture lives only until its thumbnail is made.
    TBitmap figura;
    if (!CarregarImagem(caminho, figura, celula))
        return QImage();
    return CriarMiniatura(figura, celula.width(), celula.height()).Image();
}

TBitmap TFormExplorer::CriarMiniatura(const TBitmap& picture, int width, int height) {
    QImage source = picture.Image();
    if (source.format() != QImage::Format_RGB32 && source.format() != QImage::Format_ARGB32)
        source = source.convertToFormat(QImage::Format_RGB32);
    return TBitmap(source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                   pf32bit);
}

int TFormExplorer::adicionarEntrada(const QString& nome, bool& fazer) {
    auto* item = new QListWidgetItem(nome, ListView);
    const int indice = ListView->row(item);
    mostrarAndamento();
    // Made now while the budget has room, or when it lies nearer the view than a thumbnail held
    // (which it then replaces); else it waits until it comes into view.
    fazer = ImageList->Bytes() + ImageList->CellBytes() <= ImageList->Budget();
    if (!fazer) {
        const std::pair<int, int> faixa = FaixaVisivel();
        const int longe =
            std::max(distancia(ImageList->First(), faixa), distancia(ImageList->Last(), faixa));
        fazer = distancia(indice, faixa) < longe;
    }
    if (!fazer)
        m_semMiniatura.insert(indice);
    return indice;
}

void TFormExplorer::anexarDados(const TDados& dados, const QImage& miniatura) {
    QListWidgetItem* item = ListView->item(dados.Indice);
    if (!item)
        return;
    item->setData(kDadosRole, QVariant::fromValue(dados));
    item->setToolTip(dados.Dica);
    if (miniatura.isNull() || !anexarMiniatura(dados.Indice, miniatura))
        return;
    // The entry changed: the window follows the entry last changed.
    ListViewChange(item);
}

bool TFormExplorer::anexarMiniatura(int indice, const QImage& miniatura) {
    QListWidgetItem* item = ListView->item(indice);
    if (!item)
        return false;
    const QPixmap pixmap = QPixmap::fromImage(miniatura);
    ImageList->Put(indice, pixmap);
    item->setIcon(QIcon(pixmap));
    m_semMiniatura.erase(indice);
    manterOrcamento();
    return true;
}

void TFormExplorer::manterOrcamento() {
    if (ImageList->Bytes() <= ImageList->Budget())
        return;
    const std::pair<int, int> faixa = FaixaVisivel();
    while (ImageList->Bytes() > ImageList->Budget() && ImageList->Count() > 0) {
        // The farthest thumbnail from the view is the lowest or the highest row held.
        const int first = ImageList->First();
        const int last = ImageList->Last();
        const int longe = distancia(last, faixa) >= distancia(first, faixa) ? last : first;
        ImageList->Drop(longe);
        if (QListWidgetItem* item = ListView->item(longe))
            item->setIcon(QIcon());
        m_semMiniatura.insert(longe);
    }
}

int TFormExplorer::distancia(int row, std::pair<int, int> faixa) const {
    if (row < 0)
        return -1;
    const int first = faixa.first;
    const int last = std::max(faixa.first, faixa.second);
    return row < first ? first - row : row > last ? row - last : 0;
}

std::pair<int, int> TFormExplorer::FaixaVisivel() const {
    // The entries are laid out in their order, row after row of the grid, so those in view are
    // one run of rows: found by halving, an entry not laid out yet counting as below the view.
    const int count = ListView->count();
    const QRect view = ListView->viewport()->rect();
    const auto rect = [&](int row) {
        return ListView->visualItemRect(ListView->item(row));
    };
    int low = 0;
    int high = count;
    while (low < high) {
        const int middle = (low + high) / 2;
        const QRect r = rect(middle);
        if (!r.isValid() || r.bottom() >= view.top())
            high = middle;
        else
            low = middle + 1;
    }
    const int first = low;
    high = count;
    while (low < high) {
        const int middle = (low + high) / 2;
        const QRect r = rect(middle);
        if (!r.isValid() || r.top() > view.bottom())
            high = middle;
        else
            low = middle + 1;
    }
    return {first, low - 1};
}

void TFormExplorer::pedirVisiveis() {
    if (m_esperando || m_semMiniatura.empty())
        return;
    const auto [first, last] = FaixaVisivel();
    QList<TThreadPreencheTela::Pedido> pedidos;
    for (auto it = m_semMiniatura.lower_bound(first); it != m_semMiniatura.end() && *it <= last;
         ++it)
        if (const std::optional<TDados> dados = Dados(ListView->item(*it)))
            pedidos.append({*it, dados->Caminho});
    if (pedidos.isEmpty())
        return;
    for (const TThreadPreencheTela::Pedido& pedido : pedidos)
        m_semMiniatura.erase(pedido.Indice);
    // The running worker takes them before its next file; once it has ended, a new one makes
    // only them.
    if (m_worker && m_worker->Pedir(pedidos))
        return;
    pararTrabalho();
    m_worker = std::make_unique<TThreadPreencheTela>(this, ImageList->Size(), pedidos);
    TThreadPreencheTela* worker = m_worker.get();
    connect(worker, &TThreadPreencheTela::Fim, this, [this, worker] {
        if (m_worker.get() == worker)
            mostrarAndamento();
    });
}

void TFormExplorer::AtenderPedidos(TThreadPreencheTela* worker) {
    while (!worker->Terminated()) {
        const std::optional<TThreadPreencheTela::Pedido> pedido = worker->ProximoPedido();
        if (!pedido)
            return;
        std::lock_guard lock(BloqueioExplorer());
        const QImage miniatura = FazerMiniatura(pedido->Caminho, worker->Celula);
        naJanela([&] {
            if (!miniatura.isNull())
                anexarMiniatura(pedido->Indice, miniatura);
        });
    }
}

void TFormExplorer::PreencherPasta(const QString& folder, TThreadPreencheTela* worker) {
    QString pasta = folder;
    if (!pasta.endsWith(QLatin1Char('/')))
        pasta += QLatin1Char('/');
    // Only real folders are filled: the root node's "Drives" names none, and a relative name
    // would depend on the program's working folder.
    if (!QDir::isAbsolutePath(pasta))
        return;
    const QDir dir(pasta);
    for (const QString& padrao : worker->Padroes) {
        // Every kind of entry but folders: hidden files, links, pipes and devices are listed; only
        // regular files are read.
        const QFileInfoList entries = dir.entryInfoList(
            {padrao}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name | QDir::IgnoreCase);
        for (const QFileInfo& entry : entries) {
            const QString nome = entry.fileName();
            if (nome.trimmed() == QLatin1String(".") || nome.trimmed() == QLatin1String("..") ||
                entry.isDir())
                continue;
            // Entries that came into view meanwhile come first.
            AtenderPedidos(worker);
            if (worker->Terminated())
                return;
            int indice = -1;
            bool fazer = true;
            naJanela([&] { indice = adicionarEntrada(nome, fazer); });
            const QString tamanho = TextoTamanho(entry.size());
            {
                std::lock_guard lock(BloqueioExplorer());
                TDados dados;
                dados.Nome = nome;
                dados.Caminho = pasta + nome;
                dados.Tamanho = tamanho;
                dados.Dica = QStringLiteral("Name: ") + nome + QStringLiteral("\r\nPath: ") +
                             dados.Caminho + QStringLiteral("\r\nSize: ") + tamanho;
                dados.Indice = indice;
                const QImage miniatura =
                    fazer ? FazerMiniatura(dados.Caminho, worker->Celula) : QImage();
                naJanela([&] { anexarDados(dados, miniatura); });
            }
            if (worker->Terminated())
                return;
        }
    }
    if (!worker->Terminated() && worker->SubPastas)
        preencherSubpastas(pasta, worker);
}

void TFormExplorer::preencherSubpastas(const QString& pasta, TThreadPreencheTela* worker) {
    const QFileInfoList folders =
        QDir(pasta).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                  QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& sub : folders) {
        // Only plain folders are entered: not hidden ones (a name beginning with "."), not
        // read-only ones (the user cannot write it, or it has no write permission at all), and
        // never a symbolic link, so that a link to a folder above cannot make the fill go round.
        const QFileDevice::Permissions perms = sub.permissions();
        const bool anyWrite =
            perms & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther);
        if (sub.isSymLink() || sub.fileName().startsWith(QLatin1Char('.')) || !sub.isWritable() ||
            !anyWrite)
            continue;
        PreencherPasta(pasta + sub.fileName(), worker);
        if (worker->Terminated())
            return;
    }
}

// ---- Entries ----------------------------------------------------------------------------------

void TFormExplorer::ListViewChange(QListWidgetItem* Item) {
    if (const std::optional<TDados> dados = Dados(Item)) {
        ListView->setToolTip(dados->Dica);
        StatusBar->SetPanelText(0, dados->Tamanho);
        setWindowTitle(QStringLiteral("Images - ") + dados->Caminho);
    } else {
        ListView->setToolTip(QString());
        StatusBar->SetPanelText(0, QString());
    }
}

namespace {

// The list's first selected entry, or none.
std::optional<TDados> selecionado(const QListWidget* list) {
    const QList<QListWidgetItem*> items = list->selectedItems();
    if (items.isEmpty())
        return std::nullopt;
    const QListWidgetItem* first = items.first();
    for (const QListWidgetItem* item : items)
        if (list->row(item) < list->row(first))
            first = item;
    return TFormExplorer::Dados(first);
}

} // namespace

void TFormExplorer::ListViewDblClick() {
    if (const std::optional<TDados> dados = selecionado(ListView))
        AbrirArquivo(dados->Caminho);
}

void TFormExplorer::Abrir1Click() {
    if (const std::optional<TDados> dados = selecionado(ListView))
        AbrirArquivo(dados->Caminho);
}

void TFormExplorer::AbrircomQuadrix1Click() {
    if (const std::optional<TDados> dados = selecionado(ListView))
        if (FormPrincipal)
            FormPrincipal->AbrirImagem(dados->Caminho);
}

void TFormExplorer::Explorar1Click() {
    if (const std::optional<TDados> dados = selecionado(ListView))
        AbrirArquivo(QFileInfo(dados->Caminho).path() + QLatin1Char('/'));
}

bool TFormExplorer::AbrirArquivo(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

// ---- Closing ----------------------------------------------------------------------------------

void TFormExplorer::FormClose() {
    pararTrabalho();
    limparLista();
}

void TFormExplorer::closeEvent(QCloseEvent* event) {
    if (m_esperando) {
        // A refresh is waiting for the worker; it closes the window when its wait ends.
        m_fecharDepois = true;
        event->ignore();
        return;
    }
    FormClose();
    QMdiSubWindow::closeEvent(event);
}
