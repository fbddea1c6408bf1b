#pragma once

#include "editor/TVisualizadorFilme.h"

class QSplitter;
class QWidget;

// The split window ("QDX-SplitAvi"): one film in the frame viewer, a range of frames marked on the
// slider or in the boxes, and the commands that write a new film without that range, a new film of
// just that range, or the whole film cut into a number of parts; the shown frame can be saved as a
// picture. The source film is never changed.
class TFormSplit : public TVisualizadorFilme {
    Q_OBJECT

public:
    explicit TFormSplit(EditorHost* host, QWidget* parent = nullptr);

    QWidget* PanelTopo;
    QSplitter* Splitter1;
    QWidget* PanelInferior;
    QPushButton* SpeedButton3;
    QPushButton* SpeedButtonFechar;
    QPushButton* SpeedButtonApagar;
    QPushButton* SpeedButtonCrairNovo;

    void SpeedButton3Click();
    void SpeedButtonFecharClick();
    void SpeedButtonSalvarClick();
    void SpeedButtonApagarClick();
    void SpeedButtonCrairNovoClick();
    void SpeedButtonDividirClick();

    static QString TituloJanela() { return QStringLiteral("QDX-SplitAvi"); }

protected:
    QString PrefixoTitulo() const override { return TituloJanela(); }
    void DesabilitarControlesJanela() override;
    void HabilitarControlesJanela() override;
    void PartesAlteradas() override;

private:
    void habilitarBotoes(bool enabled);
};
