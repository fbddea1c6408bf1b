#pragma once

#include "dialogs/TJanelaPrincipal.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;
class THotKey;

// The configuration dialog: the only place where the settings of config.ini are changed. It
// starts from the program-wide settings; OK checks the fields, stores them, replaces the capture
// hot key, writes every key and switches the banner; Cancel changes nothing.
class TFormConfiguracao : public QDialog {
    Q_OBJECT
public:
    TFormConfiguracao(QWidget* parent, const TJanelaPrincipal& Principal);

    // Pictures.
    QGroupBox* GroupBoxImagens;
    QCheckBox* CheckBoxSalvarArquivo;
    QWidget* PanelSalvar;
    QLabel* LabelExtensao;
    QComboBox* ComboBoxExtensao;
    QLabel* LabelCaminho;
    QLineEdit* EditCaminho;
    QToolButton* SpeedButton1;
    QLabel* LabelNomeArquivo;
    QLineEdit* EditNomeArquivo;
    QToolButton* SpeedButtonNomeArquivo;
    QLabel* LabelCores;
    QComboBox* ComboBoxCores;
    QLabel* LabelHotKey;
    THotKey* HotKey;

    // Films.
    QGroupBox* GroupBoxVideo;
    QCheckBox* CheckBoxSalvarVideo;
    QWidget* PanelSalvarVideo;
    QLabel* LabelExtensaoVideo;
    QComboBox* ComboBoxExtensaoVideo;
    QLabel* LabelCaminhoVideo;
    QLineEdit* EditCaminhoVideo;
    QToolButton* SpeedButton3;
    QLabel* LabelNomeVideo;
    QLineEdit* EditNomeVideo;
    QToolButton* SpeedButton2;
    QLabel* LabelCoresVideo;
    QComboBox* ComboBoxCoresVideo;
    QLabel* LabelHotKeyVideo;
    THotKey* HotKeyVideo;
    QLabel* LabelNumeroQuadros;
    QSpinBox* SpinEditNumeroQuadros;
    QCheckBox* CheckBoxCompactar;
    QCheckBox* CheckBoxCompactarGravacao;  // compress while recording (compressor_gravacao)
    QPushButton* ButtonCompressorGravacao; // the compressor dialog for it

    QCheckBox* CheckBoxBanner;
    QPushButton* SpeedButtonOK;
    QPushButton* SpeedButtonCancelar;

    // The checks of OK, in order: the first failing one shows its message, moves the focus to
    // its control when that is enabled, and answers false.
    bool ValidarCampos();

public Q_SLOTS:
    void FormCreate();
    void SpeedButtonOKClick();
    void SpeedButtonCancelarClick();
    void CheckBoxSalvarArquivoClick();
    void CheckBoxSalvarVideoClick();
    void SpeedButtonNomeArquivoClick();
    void SpeedButton2Click();
    void SpeedButton1Click();
    void SpeedButton3Click();
    void ButtonCompressorGravacaoClick();

private:
    void buildPictures();
    void buildFilms();
    void SelecionarPasta(QLineEdit* Destino);
    void AplicarBanner();

    TJanelaPrincipal m_principal;
    // The compressor chosen for recordings, stored by OK.
    QString m_compressorGravacao;
    int m_qualidadeGravacao = -1;
};
