#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;
class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QTreeView;

// The folder chooser of the configuration dialog: the mounted file systems in `DriveComboBox`
// (the root first, then the user's home, then the other mounts), the folder tree of the chosen
// one in `DirectoryListBox`, OK and Cancel. OK puts the chosen folder into the target field.
class TFormSelecionaPasta : public QDialog {
    Q_OBJECT
public:
    // `Destino` receives the chosen folder; the chooser starts at the folder it holds when that
    // exists. Not owned.
    TFormSelecionaPasta(QLineEdit* Destino, QWidget* parent = nullptr);

    QComboBox* DriveComboBox;
    QTreeView* DirectoryListBox;
    QPushButton* SpeedButtonOK;
    QPushButton* SpeedButtonCancelar;

    // The folder the tree shows as current, without a trailing "/" except for the root.
    QString Directory() const;
    // Makes `path` the tree's current folder.
    void SetDirectory(const QString& path);

    // The drives of this machine: "/", the home folder, then the other mounted file systems
    // that hold files (pseudo file systems and the system's runtime mounts left out).
    static QStringList Drives();
    // The drive among `drives` that holds `path`: the longest one that is a prefix of it.
    static QString DriveOf(const QString& path, const QStringList& drives);

public Q_SLOTS:
    void FormCreate();
    void DriveComboBoxChange();
    void SpeedButtonOKClick();
    void SpeedButtonCancelarClick();

private:
    QLineEdit* m_destino;
    QFileSystemModel* m_model;
    QString m_pendente; // the folder to show once the folders above it are read
};
