#include "dialogs/TFormSelecionaPasta.h"

#include "shared/Mensagens.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QStorageInfo>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// File systems that hold no user files.
bool isPseudo(const QStorageInfo& volume) {
    static const QStringList pseudo = {
        QStringLiteral("proc"),        QStringLiteral("sysfs"),
        QStringLiteral("devtmpfs"),    QStringLiteral("devpts"),
        QStringLiteral("cgroup"),      QStringLiteral("cgroup2"),
        QStringLiteral("securityfs"),  QStringLiteral("pstore"),
        QStringLiteral("debugfs"),     QStringLiteral("tracefs"),
        QStringLiteral("mqueue"),      QStringLiteral("hugetlbfs"),
        QStringLiteral("configfs"),    QStringLiteral("fusectl"),
        QStringLiteral("bpf"),         QStringLiteral("autofs"),
        QStringLiteral("binfmt_misc"), QStringLiteral("efivarfs"),
        QStringLiteral("rpc_pipefs"),  QStringLiteral("nsfs"),
        QStringLiteral("selinuxfs"),   QStringLiteral("fuse.gvfsd-fuse"),
        QStringLiteral("fuse.portal")};
    const QString type = QString::fromUtf8(volume.fileSystemType());
    if (pseudo.contains(type))
        return true;
    // The system's own runtime mounts (/dev/shm, /run, /run/lock, /run/user/N, /sys/...).
    const QString root = volume.rootPath();
    for (const char* system : {"/dev", "/proc", "/sys", "/run"})
        if (root == QLatin1String(system) || root.startsWith(QLatin1String(system) + u'/'))
            return !root.startsWith(QStringLiteral("/run/media/"));
    return false;
}

QString withoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

} // namespace

TFormSelecionaPasta::TFormSelecionaPasta(QLineEdit* Destino, QWidget* parent)
    : QDialog(parent), m_destino(Destino) {
    setObjectName(QStringLiteral("FormSelecionaPasta"));
    setWindowTitle(QStringLiteral("Select folder"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(233, 274);
    setAttribute(Qt::WA_DeleteOnClose, false);

    DriveComboBox = new QComboBox(this);
    DriveComboBox->setObjectName(QStringLiteral("DriveComboBox"));
    DriveComboBox->setAccessibleName(QStringLiteral("Drive"));
    DirectoryListBox = new QTreeView(this);
    DirectoryListBox->setObjectName(QStringLiteral("DirectoryListBox"));
    DirectoryListBox->setAccessibleName(QStringLiteral("Folder"));
    DirectoryListBox->setHeaderHidden(true);
    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    m_model->setReadOnly(true);
    DirectoryListBox->setModel(m_model);
    for (int column = 1; column < m_model->columnCount(); ++column)
        DirectoryListBox->hideColumn(column);
    // The model reads folders in the background: the way to the chosen folder opens as the
    // folders above it arrive.
    connect(m_model, &QFileSystemModel::directoryLoaded, this, [this](const QString& loaded) {
        if (!m_pendente.isEmpty() &&
            (m_pendente == loaded || m_pendente.startsWith(withoutTrailingSlash(loaded) + u'/')))
            SetDirectory(m_pendente);
    });
    // A folder the user picks is not overridden by folders still arriving.
    connect(DirectoryListBox, &QTreeView::pressed, this, [this] { m_pendente.clear(); });
    SpeedButtonOK = new QPushButton(QStringLiteral("&OK"), this);
    SpeedButtonOK->setObjectName(QStringLiteral("SpeedButtonOK"));
    SpeedButtonOK->setDefault(true);
    SpeedButtonCancelar = new QPushButton(QStringLiteral("&Cancel"), this);
    SpeedButtonCancelar->setObjectName(QStringLiteral("SpeedButtonCancelar"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(DriveComboBox);
    layout->addWidget(DirectoryListBox, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SpeedButtonOK);
    buttons->addWidget(SpeedButtonCancelar);
    layout->addLayout(buttons);

    connect(SpeedButtonOK, &QPushButton::clicked, this, &TFormSelecionaPasta::SpeedButtonOKClick);
    connect(SpeedButtonCancelar, &QPushButton::clicked, this,
            &TFormSelecionaPasta::SpeedButtonCancelarClick);
    FormCreate();
    connect(DriveComboBox, &QComboBox::activated, this, &TFormSelecionaPasta::DriveComboBoxChange);
}

QStringList TFormSelecionaPasta::Drives() {
    QStringList drives{QStringLiteral("/")};
    const QString home = withoutTrailingSlash(QDir::homePath());
    if (!drives.contains(home) && QFileInfo(home).isDir())
        drives.append(home);
    QStringList others;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady() || isPseudo(volume))
            continue;
        const QString root = withoutTrailingSlash(volume.rootPath());
        if (!drives.contains(root) && !others.contains(root))
            others.append(root);
    }
    std::sort(others.begin(), others.end());
    return drives + others;
}

QString TFormSelecionaPasta::DriveOf(const QString& path, const QStringList& drives) {
    QString best = QStringLiteral("/");
    for (const QString& drive : drives) {
        const bool inside =
            path == drive || drive == QLatin1String("/") || path.startsWith(drive + u'/');
        if (inside && drive.size() > best.size())
            best = drive;
    }
    return best;
}

void TFormSelecionaPasta::FormCreate() {
    DriveComboBox->clear();
    const QStringList drives = Drives();
    DriveComboBox->addItems(drives);
    // The chooser starts at the folder of the target field when it exists, else at the root.
    const QString current = m_destino ? m_destino->text() : QString();
    const QFileInfo start(current);
    QString folder = QStringLiteral("/");
    if (!current.isEmpty() && start.isDir())
        folder = withoutTrailingSlash(start.absoluteFilePath());
    DriveComboBox->setCurrentIndex(int(drives.indexOf(DriveOf(folder, drives))));
    DriveComboBoxChange();
    SetDirectory(folder);
}

void TFormSelecionaPasta::DriveComboBoxChange() {
    const QString drive = DriveComboBox->currentText();
    m_pendente.clear();
    const QModelIndex root = m_model->setRootPath(drive);
    // The tree shows the folders of the drive; with none of them chosen, the drive itself is.
    DirectoryListBox->setRootIndex(root);
    DirectoryListBox->setCurrentIndex(root);
}

QString TFormSelecionaPasta::Directory() const {
    const QModelIndex current = DirectoryListBox->currentIndex();
    if (!current.isValid() || current == DirectoryListBox->rootIndex())
        return DriveComboBox->currentText();
    return withoutTrailingSlash(m_model->filePath(current));
}

void TFormSelecionaPasta::SetDirectory(const QString& path) {
    m_pendente = path;
    const QModelIndex index = m_model->index(path);
    if (!index.isValid())
        return;
    DirectoryListBox->setCurrentIndex(index);
    // The folder shows with its subfolders: every folder above it opens too.
    for (QModelIndex above = index; above.isValid() && above != DirectoryListBox->rootIndex();
         above = above.parent())
        DirectoryListBox->expand(above);
    DirectoryListBox->scrollTo(index);
}

void TFormSelecionaPasta::SpeedButtonOKClick() {
    m_pendente.clear();
    const QString folder = Directory();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        MensagemErro(QStringLiteral("Directory does not exist!"));
        return;
    }
    if (m_destino)
        m_destino->setText(folder);
    accept();
}

void TFormSelecionaPasta::SpeedButtonCancelarClick() {
    reject();
}
