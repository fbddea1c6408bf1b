#include "app/TShellTreeView.h"

#include <QDir>
#include <QFileInfo>
#include <QStyle>

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLoadedRole = Qt::UserRole + 1;

} // namespace

TShellTreeView::TShellTreeView(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    setAccessibleName(QStringLiteral("Folders"));

    auto* root = new QTreeWidgetItem(this, {QStringLiteral("Computer")});
    root->setIcon(0, style()->standardIcon(QStyle::SP_ComputerIcon));
    root->setData(0, kPathRole, RootPath());
    root->setData(0, kLoadedRole, true);
    addFolder(root, QStringLiteral("/"), QStringLiteral("/"));
    const QString home = QDir::homePath();
    if (home != QLatin1String("/") && QFileInfo(home).isDir())
        addFolder(root, QFileInfo(home).fileName(), home);
    root->setExpanded(true);

    connect(this, &QTreeWidget::itemExpanded, this, &TShellTreeView::loadChildren);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
                if (current)
                    Q_EMIT DirChange(this, pathOf(current));
            });
}

QTreeWidgetItem* TShellTreeView::FileSystemNode() const {
    return RootNode()->child(0);
}

QTreeWidgetItem* TShellTreeView::HomeNode() const {
    return RootNode()->childCount() > 1 ? RootNode()->child(1) : nullptr;
}

QString TShellTreeView::pathOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, kPathRole).toString() : QString();
}

QString TShellTreeView::Path() const {
    return pathOf(currentItem());
}

QTreeWidgetItem* TShellTreeView::addFolder(QTreeWidgetItem* parent, const QString& caption,
                                           const QString& path) {
    auto* item = new QTreeWidgetItem(parent, {caption});
    item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    item->setData(0, kPathRole, path);
    item->setData(0, kLoadedRole, false);
    item->setToolTip(0, path);
    // Until it is read, a folder offers to expand; reading it settles whether it has children.
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return item;
}

void TShellTreeView::loadChildren(QTreeWidgetItem* item) {
    if (!item || item->data(0, kLoadedRole).toBool())
        return;
    item->setData(0, kLoadedRole, true);
    const QString path = pathOf(item);
    const QFileInfoList folders = QDir(path).entryInfoList(
        QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    const QString prefix = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    for (const QFileInfo& folder : folders) {
        if (folder.isSymLink() || folder.fileName().startsWith(QLatin1Char('.')))
            continue;
        addFolder(item, folder.fileName(), prefix + folder.fileName());
    }
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

bool TShellTreeView::SetPath(const QString& path) {
    if (path == RootPath()) {
        setCurrentItem(RootNode());
        return true;
    }
    const QString clean = QDir::cleanPath(path);
    if (!QDir::isAbsolutePath(clean))
        return false;
    QTreeWidgetItem* node = FileSystemNode();
    QString rest = clean.mid(1);
    const QTreeWidgetItem* home = HomeNode();
    const QString homePath = pathOf(home);
    if (home && (clean == homePath || clean.startsWith(homePath + QLatin1Char('/')))) {
        node = const_cast<QTreeWidgetItem*>(home);
        rest = clean.mid(homePath.size() + 1);
    }
    for (const QString& name : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        loadChildren(node);
        node->setExpanded(true);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < node->childCount() && !next; ++i)
            if (node->child(i)->text(0) == name)
                next = node->child(i);
        if (!next)
            return false;
        node = next;
    }
    setCurrentItem(node);
    scrollToItem(node);
    return true;
}
