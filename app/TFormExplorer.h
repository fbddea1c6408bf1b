#pragma once

#include "app/TDados.h"
#include "app/TImageList.h"
#include "platform/core/TBitmap.h"

#include <QMdiSubWindow>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <utility>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QSplitter;
class QTimer;
class TShellTreeView;
class TStatusBar;
class TThreadPreencheTela;

// The image browser: a child window of the main window in which the user picks a folder in the
// directory tree and sees its pictures (and, on request, those of its subfolders) as thumbnails.
// Each window has its own worker, TThreadPreencheTela, that lists the files and makes the
// thumbnails; choosing another folder or thumbnail size stops the running fill and starts anew.
// Only the thumbnails are kept, within the image list's budget: when it is spent, the thumbnails
// of the entries farthest from the view are dropped (and entries far from it are not made at
// all), and they are made again, by the worker, when they come into view. A picture is read again
// from its file when it is opened.
class TFormExplorer : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit TFormExplorer(QWidget* parent = nullptr);
    ~TFormExplorer() override;
    TFormExplorer(const TFormExplorer&) = delete;
    TFormExplorer& operator=(const TFormExplorer&) = delete;

    // Components.
    QWidget* PanelEsquerdo;
    QSplitter* Splitter1;
    QComboBox* FilterComboBox;
    TShellTreeView* ShellTreeView;
    QCheckBox* CheckBoxSubPastas;
    QLabel* LabelTamanho;
    QComboBox* ComboBoxTamanho;
    QListWidget* ListView;
    TImageList* ImageList;
    TStatusBar* StatusBar;
    QMenu* PopupMenu;
    QAction *AbrircomQuadrix1, *Abrir1, *Explorar1;

    // The window's worker, if any (none before the first fill).
    TThreadPreencheTela* Worker() const { return m_worker.get(); }
    // The record attached to an entry; nullptr when it carries none.
    static std::optional<TDados> Dados(const QListWidgetItem* item);

    // Handlers.
    void FormCreate();
    void ShellTreeViewDirChange(QObject* Sender, const QString& SelectedPath);
    void ComboBoxTamanhoChange();
    void FilterComboBoxChange();
    void ListViewChange(QListWidgetItem* Item);
    void ListViewDblClick();
    void Abrir1Click();
    void AbrircomQuadrix1Click();
    void Explorar1Click();
    void FormClose();

    // Stops the running fill, empties the list and starts a new fill of the tree's folder.
    void AtualizarLista();
    // Asks the desktop to open a file (or show a folder) with its associated program; true when
    // the desktop took the request.
    bool AbrirArquivo(const QString& path);

    // Run on the worker.
    // The thumbnail cell: p % of the list's width by p % of its height, rounded down (p is 5, 50
    // or 90 for "Pequeno", "Médio", "Grande"), at least one pixel each way.
    void AjustarMiniaturas(TThreadPreencheTela* worker);
    // Lists the folder's files that match the worker's patterns into the list, with their
    // thumbnails, then (when asked) fills its subfolders the same way. Stops after the current file
    // or subfolder once the worker's stop flag is set.
    void PreencherPasta(const QString& folder, TThreadPreencheTela* worker);
    // Makes the thumbnails the window asked the worker for, while its stop flag is not set.
    void AtenderPedidos(TThreadPreencheTela* worker);

    // The rows of the list the view shows, first and last (last < first when it shows none).
    std::pair<int, int> FaixaVisivel() const;

    // Thread-safe picture routines of the fill.
    // Decodes a picture by its extension in lower case (".bmp", ".gif", ".jpg", ".jpeg", ".wmf",
    // ".ico"); a JPEG is decoded reduced to the smallest size not below `celula`. False for any
    // other extension (".emf" included), a file that is not a regular file, or a damaged picture.
    static bool CarregarImagem(const QString& caminho, TBitmap& bitmap, QSize celula = QSize());
    // The thumbnail: the whole picture stretched over width x height (proportions not kept).
    static TBitmap CriarMiniatura(const TBitmap& picture, int width, int height);
    // The thumbnail of a file in `celula` (both steps above); a null image when it has none.
    static QImage FazerMiniatura(const QString& caminho, QSize celula);
    // The size text of an entry: GB, MB, KB above 1073741824, 1048576 and 1024 bytes (rounded
    // down), else the count followed by "bytes".
    static QString TextoTamanho(int64_t size);
    // The patterns of a filter of FilterComboBox.
    QStringList Padroes() const;
    // The thumbnail size in percent of the list for ComboBoxTamanho's choice.
    int Percentual() const;

    // The filters of FilterComboBox: description, then the patterns separated by ";".
    static const QList<std::pair<QString, QString>>& Filtros();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Step 1 of a refresh: stops the worker and forgets it, serving deliveries while waiting.
    void pararTrabalho();
    // Step 2: empties the records, the image list and the list.
    void limparLista();
    // Runs `f` on the GUI thread and waits for it (called by the worker).
    template <class F>
    void naJanela(F&& f);
    // Run on the GUI thread for the worker.
    // Adds the entry; `fazer` tells whether its thumbnail is to be made now (it is near the view
    // or the budget has room), else it waits until it comes into view.
    int adicionarEntrada(const QString& nome, bool& fazer);
    void anexarDados(const TDados& dados, const QImage& miniatura);
    // Gives an entry its thumbnail, then keeps the thumbnails within the budget.
    bool anexarMiniatura(int indice, const QImage& miniatura);
    void manterOrcamento();
    // How far a row lies from the rows in view (0 in view).
    int distancia(int row, std::pair<int, int> faixa) const;
    // Asks the worker (a new one when none takes requests) for the thumbnails of the entries in
    // view that have none to show yet.
    void pedirVisiveis();
    void mostrarAndamento();
    void preencherSubpastas(const QString& folder, TThreadPreencheTela* worker);

    std::unique_ptr<TImageList> m_imageList;
    std::unique_ptr<TThreadPreencheTela> m_worker;
    bool m_esperando = false;     // a refresh or close waits for the worker
    bool m_fecharDepois = false;  // a close arrived during that wait
    QString m_pastaLida;          // the folder the worker is reading (status panel 2)
    std::set<int> m_semMiniatura; // rows whose thumbnail waits to come into view
    QTimer* m_pedir;              // asks for the entries in view once the events are through
};
