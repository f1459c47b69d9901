// Pages 1 and 2: the kinds of file to look for, and the medium to scan.
#include "app/AppStyle.h"
#include "app/DRUI.h"
#include "core/Portability.h"
#include "partition/CPartitionManager.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <climits>
#include <map>
#include <vector>

namespace
{
namespace style = tessaroo::app::style;

struct KIND_ROW
{
    const char* szIcon;
    const char* szLabel;
    const char* szObjectName;
};

const KIND_ROW KIND_ROWS[DRUI::KIND_COUNT] = {
    {":/image/photo.png", "Photo", "checkPhoto"},       {":/image/music.png", "Music", "checkMusic"},
    {":/image/video.png", "Video", "checkVideo"},       {":/image/document.png", "Document", "checkDocument"},
    {":/image/archive.png", "Archive", "checkArchive"}, {":/image/other.png", "Other", "checkOther"},
};

constexpr int DISK_ROW_HEIGHT = 30;
constexpr int ACTION_BUTTON_WIDTH = 150;
constexpr int ACTION_BUTTON_HEIGHT = 42;

QFont DiskRowFont()
{
    QFont font("Arial", 14);
    font.setBold(true);
    return font;
}

// Size of a partition in bytes for display; a record whose sector count
// does not fit the formatter is shown at its largest value rather than wrapped.
long long PartitionBytes(const _PARTITION_ITEM_& item)
{
    const uint64_t sectors = PartitionSectorCount(item);
    if (sectors > uint64_t(LLONG_MAX) / 512)
        return LLONG_MAX;
    return (long long)(sectors * 512);
}
} // namespace

// --- page 1: kinds of file ---------------------------------------------------

QWidget* DRUI::CreatePage1()
{
    QWidget* page = new QWidget;
    page->setObjectName("page1");
    QVBoxLayout* outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(CreateTitleStrip(page));

    QVBoxLayout* body = new QVBoxLayout;
    body->setContentsMargins(70, 30, 70, 18);
    body->setSpacing(0);
    outer->addLayout(body, 1);

    QGridLayout* grid = new QGridLayout;
    grid->setHorizontalSpacing(28);
    grid->setVerticalSpacing(28);
    for (int i = 0; i < KIND_COUNT; ++i)
    {
        QWidget* card = new QWidget(page);
        card->setObjectName("kindCard");
        card->setAttribute(Qt::WA_StyledBackground, true);
        card->setStyleSheet(QString::fromLatin1(style::KIND_CARD));
        card->setFixedHeight(132);
        QHBoxLayout* row = new QHBoxLayout(card);
        row->setContentsMargins(22, 0, 16, 0);
        row->setSpacing(18);

        QLabel* icon = new QLabel(card);
        icon->setPixmap(QPixmap(QString::fromLatin1(KIND_ROWS[i].szIcon)));
        icon->setFixedSize(64, 64);
        row->addWidget(icon);

        QCheckBox* box = new QCheckBox(QString::fromLatin1(KIND_ROWS[i].szLabel), card);
        box->setObjectName(QString::fromLatin1(KIND_ROWS[i].szObjectName));
        box->setStyleSheet(QString::fromLatin1(style::KIND_CHECK));
        box->setChecked(true);
        box->setCursor(Qt::PointingHandCursor);
        row->addWidget(box, 1);
        m_pCheckKind[i] = box;

        grid->addWidget(card, i / 3, i % 3);
    }
    body->addStretch(1);
    body->addLayout(grid);
    body->addStretch(1);

    QHBoxLayout* actions = new QHBoxLayout;
    actions->setSpacing(16);
    m_pCheckAll = new QCheckBox(" Recover All", page);
    m_pCheckAll->setObjectName("checkAll");
    m_pCheckAll->setStyleSheet(QString::fromLatin1(style::ALL_CHECK));
    m_pCheckAll->setTristate(true);
    m_pCheckAll->setCheckState(Qt::Checked);
    m_pCheckAll->setCursor(Qt::PointingHandCursor);
    actions->addWidget(m_pCheckAll);
    actions->addStretch(1);
    m_pBtnStart = new QPushButton("Start", page);
    m_pBtnStart->setObjectName("startButton");
    m_pBtnStart->setFixedSize(ACTION_BUTTON_WIDTH, ACTION_BUTTON_HEIGHT);
    m_pBtnStart->setCursor(Qt::PointingHandCursor);
    SetButtonLook(m_pBtnStart, true);
    actions->addWidget(m_pBtnStart);
    body->addLayout(actions);
    body->addSpacing(14);
    body->addWidget(CreateVersionLabel(page));

    for (QCheckBox* box : m_pCheckKind)
        connect(box, &QCheckBox::stateChanged, this, &DRUI::CheckBoxStatChange);
    connect(m_pCheckAll, &QCheckBox::stateChanged, this, &DRUI::CheckBoxAllStatChange);
    connect(m_pBtnStart, &QPushButton::clicked, this, &DRUI::btnSlot);
    return page;
}

void DRUI::CheckBoxStatChange(int nStat)
{
    (void)nStat;
    m_bPartial = false;
    int nChecked = 0;
    for (const QCheckBox* box : m_pCheckKind)
        nChecked += box->isChecked() ? 1 : 0;
    if (nChecked == KIND_COUNT)
    {
        m_pCheckAll->setCheckState(Qt::Checked);
        return;
    }
    if (nChecked == 0)
    {
        m_pCheckAll->setCheckState(Qt::Unchecked);
        return;
    }
    m_bPartial = true;
    m_pCheckAll->setCheckState(Qt::PartiallyChecked);
}

void DRUI::CheckBoxAllStatChange(int nStat)
{
    switch (nStat)
    {
    case Qt::Unchecked:
        SetButtonLook(m_pBtnStart, false);
        for (QCheckBox* box : m_pCheckKind)
            box->setChecked(false);
        break;
    case Qt::Checked:
        SetButtonLook(m_pBtnStart, true);
        for (QCheckBox* box : m_pCheckKind)
            box->setChecked(true);
        break;
    default:
        // Partial because some kinds are ticked: Start stays usable. Partial
        // because the user clicked the unchecked box: that click means "all".
        if (m_bPartial)
            SetButtonLook(m_pBtnStart, true);
        else
            m_pCheckAll->setCheckState(Qt::Checked);
        break;
    }
}

// --- page 2: media -----------------------------------------------------------------

QWidget* DRUI::CreatePage2()
{
    QWidget* page = new QWidget;
    page->setObjectName("page2");
    QVBoxLayout* outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(CreateTitleStrip(page));

    QVBoxLayout* body = new QVBoxLayout;
    body->setContentsMargins(60, 12, 60, 12);
    body->setSpacing(10);
    outer->addLayout(body, 1);

    QHBoxLayout* header = new QHBoxLayout;
    header->setSpacing(16);
    QLabel* picture = new QLabel(page);
    picture->setPixmap(QPixmap(":/image/scan_files.png"));
    picture->setFixedSize(64, 64);
    header->addWidget(picture);
    QLabel* text =
        new QLabel("Select Media For Recovery\nPlease select a storage device below to scan for photos, "
                   "audios, videos, documents, emails, etc.",
                   page);
    text->setObjectName("mediaHeader");
    text->setStyleSheet(QString::fromLatin1(style::HEADER_TEXT));
    header->addWidget(text, 1);
    body->addLayout(header);

    m_pDiskTree = CreateDiskTree();
    m_pDiskTree->setParent(page);
    body->addWidget(m_pDiskTree, 1);

    QHBoxLayout* actions = new QHBoxLayout;
    actions->setSpacing(16);
    actions->addWidget(CreateVersionLabel(page), 0, Qt::AlignBottom);
    actions->addStretch(1);
    QPushButton* back = new QPushButton("Back", page);
    back->setObjectName("backButton");
    back->setFixedSize(ACTION_BUTTON_WIDTH, ACTION_BUTTON_HEIGHT);
    back->setCursor(Qt::PointingHandCursor);
    SetButtonLook(back, true);
    actions->addWidget(back);
    m_pBtnScan = new QPushButton("Scan", page);
    m_pBtnScan->setObjectName("scanButton");
    m_pBtnScan->setFixedSize(ACTION_BUTTON_WIDTH, ACTION_BUTTON_HEIGHT);
    m_pBtnScan->setCursor(Qt::PointingHandCursor);
    SetButtonLook(m_pBtnScan, m_pDiskTree->currentItem() != nullptr);
    actions->addWidget(m_pBtnScan);
    body->addLayout(actions);

    connect(back, &QPushButton::clicked, this, &DRUI::btnSlotBack);
    connect(m_pBtnScan, &QPushButton::clicked, this, &DRUI::btnSlotScan);
    return page;
}

QTreeWidget* DRUI::CreateDiskTree()
{
    QTreeWidget* tree = new QTreeWidget;
    tree->setObjectName("diskTree");
    tree->setColumnCount(2);
    tree->setHeaderLabels({"Name", "Size"});
    tree->setColumnWidth(0, 700);
    tree->setColumnWidth(1, 100);
    tree->setMinimumSize(800, 410);
    tree->setIconSize(QSize(24, 24));
    tree->setStyleSheet(QString::fromLatin1(style::DISK_TREE));
    tree->setRootIsDecorated(true);
    tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tree->header()->setStretchLastSection(true);
    tree->header()->setSectionsMovable(false);

    std::map<int, std::vector<_PARTITION_ITEM_>> disks;
    CPartitionManager manager;
    manager.GetPartitionItems(disks);

    const QFont font = DiskRowFont();
    int nDisk = 0;
    for (const auto& disk : disks)
    {
        // Numbered as listed, not by device number, which may have gaps.
        QTreeWidgetItem* diskRow = new QTreeWidgetItem(tree);
        diskRow->setText(0, QString("Physical Driver %1").arg(++nDisk));
        diskRow->setIcon(0, QIcon(":/image/physical_drive.png"));
        diskRow->setFont(0, font);
        diskRow->setFont(1, font);
        diskRow->setSizeHint(0, QSize(0, DISK_ROW_HEIGHT));
        diskRow->setExpanded(true);

        for (const _PARTITION_ITEM_& item : disk.second)
        {
            const std::string size = GetFileSizeString(PartitionBytes(item));
            QTreeWidgetItem* row = new QTreeWidgetItem(diskRow);
            row->setText(0, QString::fromUtf16(item.wszPartitionName, qsizetype(PartitionNameLength(item))));
            row->setText(1, QString::fromStdString(size));
            row->setIcon(0, QIcon(":/image/drive.png"));
            row->setFont(0, font);
            row->setFont(1, font);
            row->setSizeHint(0, QSize(0, DISK_ROW_HEIGHT));
            row->setData(0, Qt::UserRole, QVariant::fromValue(item));
            const QByteArray diskName(item.szDiskName,
                                      qsizetype(qstrnlen(item.szDiskName, sizeof(item.szDiskName))));
            qDebug("(*iterVec).szDiskName = %s u64Bytes = %s\n", diskName.constData(), size.c_str());
            tree->setCurrentItem(row);
        }
    }

    connect(tree, &QTreeWidget::itemClicked, this, &DRUI::diskItemClick);
    connect(tree, &QTreeWidget::itemDoubleClicked, this, &DRUI::diskItemDoubleClick);
    // Keys move the current row too; the Scan button must follow it, or it
    // would start a scan of a disk row, which carries no partition.
    connect(tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { diskItemClick(current, 0); });
    return tree;
}

void DRUI::diskItemClick(QTreeWidgetItem* item, int column)
{
    (void)column;
    SetButtonLook(m_pBtnScan, item && item->childCount() == 0);
}
