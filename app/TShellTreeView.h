#pragma once

#include <QString>
#include <QTreeWidget>

// The image browser's directory tree. The root node stands for the computer and reports "Drives"
// (Linux has no drives); its children are the file-system root "/" and the user's home folder
// (captioned with its name).
// Every folder shows its subfolders when it is expanded, read then and not before, so the disk is
// never walked as a whole. Hidden folders (a name beginning with ".") and symbolic links are not
// shown: a link cannot lead the tree in a circle.
class TShellTreeView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TShellTreeView(QWidget* parent = nullptr);

    // The selected node's path: "Drives" for the root node, "/" for the file-system root, a
    // folder's full path without a final "/"; empty when nothing is selected.
    QString Path() const;
    // Selects the node of a folder, loading and expanding the nodes on its way. False when the
    // folder is not reachable in the tree (missing, hidden, or behind a link).
    bool SetPath(const QString& path);

    // The report of the root node.
    static QString RootPath() { return QStringLiteral("Drives"); }

    QTreeWidgetItem* RootNode() const { return topLevelItem(0); }
    QTreeWidgetItem* FileSystemNode() const;
    QTreeWidgetItem* HomeNode() const;

Q_SIGNALS:
    // After each change of the selected node, with its path.
    void DirChange(QObject* Sender, const QString& SelectedPath);

private:
    QTreeWidgetItem* addFolder(QTreeWidgetItem* parent, const QString& caption,
                               const QString& path);
    // Reads the subfolders of a node once, when it is first expanded.
    void loadChildren(QTreeWidgetItem* item);
    static QString pathOf(const QTreeWidgetItem* item);
};
