#pragma once

#include "editor/TVisualizadorFilme.h"

class QTreeWidget;
class QTreeWidgetItem;

// The join window ("QDX-Join"): an ordered list of films written one after another into a single
// new film, and beside it the frame viewer showing the film loaded last, with the split window's
// range and part commands for that film.
//
// The list has two orders: sorted by name (at the start; an entry whose caption is set goes at
// once to its place under the locale's case-sensitive comparison) and the manual order (after a
// click on the column header; entries stay where they are put). A list entry carries the film's
// path as caption and, hidden, its size text and its frame count.
class TFormJoin : public TVisualizadorFilme {
    Q_OBJECT

public:
    explicit TFormJoin(EditorHost* host, QWidget* parent = nullptr);

    QWidget* PanelComFundoArquivos;
    QTreeWidget* ListViewArquivos;
    QPushButton* SpeedButtonAdicionar;
    QPushButton* SpeedButtonMoveFirst;
    QPushButton* SpeedButtonMoveUp;
    QPushButton* SpeedButtonMoveDown;
    QPushButton* SpeedButtonMoveLast;
    QPushButton* SpeedButtonRemove;
    QPushButton* SpeedButtonShow;
    QPushButton* SpeedButtonJoin;
    QLabel* LabelFileName;
    QLabel* LabelFileType;
    QLabel* LabelFrames;
    QLabel* LabelResolucao;
    QLabel* LabelSize;
    QWidget* PanelComFundoTracker;
    QPushButton* SpeedButtonCriar;

    void SpeedButtonAdicionarClick();
    void SpeedButtonRemoveClick();
    void SpeedButtonMoveFirstClick();
    void SpeedButtonMoveUpClick();
    void SpeedButtonMoveDownClick();
    void SpeedButtonMoveLastClick();
    void SpeedButtonShowClick();
    void ListViewArquivosDblClick();
    void ListViewArquivosColumnClick();
    void SpeedButtonJoinClick();
    void SpeedButtonDividirClick();
    void SpeedButtonSalvarClick();
    void SpeedButtonCriarClick();

    // The list as captions in its order, and whether it is sorted by name.
    QStringList Captions() const;
    bool SortedByName() const { return m_sorted; }
    // The lines "path=frames" handed to JoinFilms, in list order, and their total.
    QStringList JoinLines(int* total) const;

    static QString TituloJanela() { return QStringLiteral("QDX-Join"); }
    static QString DuplicateQuestion(const QString& file);

protected:
    QString PrefixoTitulo() const override { return TituloJanela(); }
    void DesabilitarControlesJanela() override;
    void MostrarInformacoes() override;
    QString TextoQuadroAoCarregar() const override { return QStringLiteral("Frames: "); }
    // The entries of the film written over take its new size and frame count.
    void RecarregarFilme() override;
    // The joined film has sound when any listed film (or the one being added) has.
    bool SomDisponivel() override;

private:
    // Inserts an entry at `index` (or, while sorted, at its sorted place); returns where it went.
    int inserirEntrada(int index, const QString& caption, const QString& size,
                       const QString& frames);
    // Copies the selected entry to `insertAt`, deletes the original, selects `finalIndex`.
    void moverSelecionado(int insertAt, int finalIndex);
    int indiceSelecionado() const;
    void selecionar(int index);
    void ordenar();
    bool carregar(const QString& path);

    bool m_sorted = true;
};
