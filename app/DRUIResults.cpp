// Page 3, the results of the last scan: the tree of kinds and extensions,
// the table of files, and the selection of files to recover, with check
// boxes kept consistent between groups, extensions and files. Everything
// here reads the result model; nothing calls the engine.
#include "app/AppStyle.h"
#include "app/CFileTableModel.h"
#include "app/CResultModel.h"
#include "app/DRUI.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStackedLayout>
#include <QStackedWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace
{
namespace style = tessaroo::app::style;

constexpr int GROUP_ROLE = Qt::UserRole;   // the group of a row
constexpr int KEY_ROLE = Qt::UserRole + 1; // the extension key of an extension row
constexpr int TREE_WIDTH = 250;
constexpr int PREVIEW_HEIGHT = 200;
constexpr int FILE_ROW_HEIGHT = 22;
constexpr int TREE_ROW_HEIGHT = 28;
constexpr int ACTION_BUTTON_WIDTH = 150;
constexpr int ACTION_BUTTON_HEIGHT = 42;

bool IsExtensionRow(const QTreeWidgetItem* item)
{
    return item && item->parent() != nullptr;
}
} // namespace

void DRUI::InitLayout3Widget()
{
    // The old page reads the model that is about to change: it goes first.
    // Nothing of it is on the stack here (the scan is started from page 2).
    if (m_pPage3)
    {
        m_pStackedLayout->removeWidget(m_pPage3);
        delete m_pPage3;
        m_pPage3 = nullptr;
    }
    m_extensionRows.clear();
    m_pLastTreeItem = nullptr;
    // The listing's hits move into the model; the selection starts empty.
    if (!m_pResults)
        m_pResults.reset(new CResultModel);
    m_pResults->SetHits(std::move(m_searchResult));
    m_searchResult.clear();

    m_pPage3 = CreatePage3();
    m_pStackedLayout->addWidget(m_pPage3);
    m_pStackedLayout->setCurrentWidget(m_pPage3);
}

QWidget* DRUI::CreatePage3()
{
    QWidget* page = new QWidget;
    page->setObjectName("page3");
    QVBoxLayout* outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(CreateTitleStrip(page));

    QVBoxLayout* body = new QVBoxLayout;
    body->setContentsMargins(20, 10, 20, 10);
    body->setSpacing(8);
    outer->addLayout(body, 1);

    QHBoxLayout* header = new QHBoxLayout;
    header->setSpacing(14);
    QLabel* picture = new QLabel(page);
    picture->setPixmap(
        QPixmap(":/image/recover_file.png").scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    picture->setFixedSize(48, 48);
    header->addWidget(picture);
    QLabel* text =
        new QLabel(QString("Select Desired Files to Recover\nFound %1 recoverable files after the scan. "
                           "Please preview and choose the files you want to recover.")
                       .arg(m_pResults->HitCount()),
                   page);
    text->setObjectName("resultHeader");
    text->setStyleSheet(QString::fromLatin1(style::HEADER_TEXT));
    header->addWidget(text, 1);
    body->addLayout(header);

    QHBoxLayout* content = new QHBoxLayout;
    content->setSpacing(12);
    m_pResultTree = CreateTree();
    m_pResultTree->setParent(page);
    content->addWidget(m_pResultTree);
    QVBoxLayout* right = new QVBoxLayout;
    right->setSpacing(8);
    right->addWidget(CreatePreviewArea(page));
    m_pFileTable = CreateTable();
    m_pFileTable->setParent(page);
    right->addWidget(m_pFileTable, 1);
    content->addLayout(right, 1);
    body->addLayout(content, 1);

    QHBoxLayout* actions = new QHBoxLayout;
    actions->setSpacing(16);
    actions->addWidget(CreateVersionLabel(page), 0, Qt::AlignBottom);
    actions->addSpacing(24);
    m_pSelectionLabel = new QLabel(page);
    m_pSelectionLabel->setObjectName("selectionLabel");
    m_pSelectionLabel->setStyleSheet(QString::fromLatin1(style::SELECTION_TEXT));
    actions->addWidget(m_pSelectionLabel, 1);
    QPushButton* back = new QPushButton("Back", page);
    back->setObjectName("backButton");
    back->setFixedSize(ACTION_BUTTON_WIDTH, ACTION_BUTTON_HEIGHT);
    back->setCursor(Qt::PointingHandCursor);
    SetButtonLook(back, true);
    actions->addWidget(back);
    m_pBtnRecover = new QPushButton("Recover", page);
    m_pBtnRecover->setObjectName("recoverButton");
    m_pBtnRecover->setFixedSize(ACTION_BUTTON_WIDTH, ACTION_BUTTON_HEIGHT);
    m_pBtnRecover->setCursor(Qt::PointingHandCursor);
    actions->addWidget(m_pBtnRecover);
    body->addLayout(actions);

    connect(back, &QPushButton::clicked, this, &DRUI::btnSlotBack);
    connect(m_pBtnRecover, &QPushButton::clicked, this, &DRUI::btnRecovery);
    UpdateSelectionInfo();
    return page;
}

QWidget* DRUI::CreatePreviewArea(QWidget* page)
{
    m_pPreviewArea = new QStackedWidget(page);
    m_pPreviewArea->setObjectName("previewArea");
    m_pPreviewArea->setFixedHeight(PREVIEW_HEIGHT);
    m_pPreviewArea->setStyleSheet(QString::fromLatin1(style::PREVIEW_AREA));

    m_pPreviewLabel = new QLabel("Select a file to preview it", m_pPreviewArea);
    m_pPreviewLabel->setObjectName("previewLabel");
    m_pPreviewLabel->setAlignment(Qt::AlignCenter);
    m_pPreviewArea->addWidget(m_pPreviewLabel);

    // The first bytes of a file that is no picture; a text view, so that
    // all of them can be scrolled through.
    m_pPreviewText = new QPlainTextEdit(m_pPreviewArea);
    m_pPreviewText->setObjectName("previewText");
    m_pPreviewText->setReadOnly(true);
    m_pPreviewText->setFont(QFont("Arial", 11));
    m_pPreviewText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_pPreviewArea->addWidget(m_pPreviewText);
    return m_pPreviewArea;
}

QTreeWidget* DRUI::CreateTree()
{
    QTreeWidget* tree = new QTreeWidget;
    tree->setObjectName("resultTree");
    tree->setColumnCount(1);
    tree->setHeaderHidden(true);
    tree->setFixedWidth(TREE_WIDTH);
    tree->setMinimumHeight(300);
    tree->setIconSize(QSize(20, 20));
    tree->setStyleSheet(QString::fromLatin1(style::DISK_TREE));

    for (int group = 0; group < CResultModel::GROUP_COUNT; ++group)
    {
        const size_t count = m_pResults->GroupFileCount(group);
        if (count == 0)
            continue;
        QTreeWidgetItem* groupRow = new QTreeWidgetItem(tree);
        groupRow->setText(0, QString("%1(%2)").arg(CResultModel::GroupTitle(group)).arg(count));
        groupRow->setData(0, GROUP_ROLE, group);
        groupRow->setFlags(groupRow->flags() | Qt::ItemIsUserCheckable);
        groupRow->setCheckState(0, Qt::Unchecked);
        groupRow->setSizeHint(0, QSize(0, TREE_ROW_HEIGHT));
        QFont bold = groupRow->font(0);
        bold.setBold(true);
        groupRow->setFont(0, bold);
        for (const auto& entry : m_pResults->Group(group))
        {
            const QString key = QString::fromStdString(entry.first);
            QTreeWidgetItem* row = new QTreeWidgetItem(groupRow);
            row->setText(0, QString("%1 Files (%2)").arg(key).arg(entry.second.size()));
            row->setIcon(0,
                         QIcon(GetExtendNameIcon(key == CResultModel::NO_EXTENSION_KEY ? QString() : key)));
            row->setData(0, GROUP_ROLE, group);
            row->setData(0, KEY_ROLE, key);
            row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
            row->setCheckState(0, Qt::Unchecked);
            row->setSizeHint(0, QSize(0, TREE_ROW_HEIGHT));
            m_extensionRows[std::make_pair(group, entry.first)] = row;
        }
    }
    tree->expandAll();

    connect(tree, &QTreeWidget::itemClicked, this, &DRUI::treeItemClick);
    connect(tree, &QTreeWidget::itemSelectionChanged, this, &DRUI::treeItemSelectChanged);
    connect(tree, &QTreeWidget::itemChanged, this, &DRUI::treeItemCheckChanged);
    return tree;
}

QTableView* DRUI::CreateTable()
{
    m_pTableModel = new CFileTableModel(m_pResults.get(), this);
    QTableView* table = new QTableView;
    table->setObjectName("fileTable");
    table->setModel(m_pTableModel);
    m_pTableModel->setParent(table);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(FILE_ROW_HEIGHT);
    table->horizontalHeader()->setSectionResizeMode(CFileTableModel::COLUMN_NAME, QHeaderView::Stretch);
    table->horizontalHeader()->setSectionResizeMode(CFileTableModel::COLUMN_SIZE, QHeaderView::Fixed);
    table->setColumnWidth(CFileTableModel::COLUMN_SIZE, 140);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setTextElideMode(Qt::ElideMiddle);
    table->setWordWrap(false);
    table->setShowGrid(false);
    table->setMinimumSize(300, 205);
    table->setStyleSheet(QString::fromLatin1(style::RESULT_TABLE));

    connect(m_pTableModel, &CFileTableModel::CheckToggled, this, &DRUI::tableItemPress);
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &DRUI::tableItemSelectChanged);
    return table;
}

// --- tree rows ---------------------------------------------------------------------------

void DRUI::treeItemSelectChanged()
{
    const QList<QTreeWidgetItem*> selected = m_pResultTree->selectedItems();
    if (selected.isEmpty() || selected.first() == m_pLastTreeItem)
        return;
    m_pLastTreeItem = selected.first();
    UpdateTreeInfo(m_pLastTreeItem, 0);
}

void DRUI::treeItemClick(QTreeWidgetItem* item, int column)
{
    (void)column;
    if (item)
        m_pResultTree->setCurrentItem(item);
}

void DRUI::UpdateTreeInfo(QTreeWidgetItem* item, int column)
{
    (void)column;
    // A group row lists all its files, extension by extension, so the
    // table is never empty for a row that stands for files.
    m_pTableModel->SetFiles(FilesOfTreeRow(item));
    if (m_pTableModel->rowCount() > 0)
        m_pFileTable->selectRow(0); // previews the first file
}

std::vector<size_t> DRUI::FilesOfTreeRow(const QTreeWidgetItem* item) const
{
    if (!item)
        return std::vector<size_t>();
    const int group = item->data(0, GROUP_ROLE).toInt();
    if (!IsExtensionRow(item))
        return m_pResults->FilesOfGroup(group);
    const auto& files = m_pResults->Group(group);
    const auto it = files.find(item->data(0, KEY_ROLE).toString().toStdString());
    return it == files.end() ? std::vector<size_t>() : it->second;
}

void DRUI::treeItemCheckChanged(QTreeWidgetItem* item, int column)
{
    if (m_bUpdatingChecks || column != 0)
        return;
    ApplyTreeCheckState(item);
}

void DRUI::ApplyTreeCheckState(QTreeWidgetItem* item)
{
    const Qt::CheckState state = item->checkState(0);
    // Partial is only ever set by the window, from single files or single
    // extensions ticked; it changes no file.
    if (state == Qt::PartiallyChecked)
        return;
    SetTreeChildCheckState(item, state);
    SetTreeParentCheckState(item);
    for (size_t hit : FilesOfTreeRow(item))
        m_pResults->Select(hit, state == Qt::Checked);
    m_pTableModel->RefreshChecks();
    UpdateSelectionInfo();
}

void DRUI::SetTreeCheckState(QTreeWidgetItem* item, Qt::CheckState state)
{
    const bool bWasUpdating = m_bUpdatingChecks;
    m_bUpdatingChecks = true;
    item->setCheckState(0, state);
    m_bUpdatingChecks = bWasUpdating;
}

void DRUI::SetTreeChildCheckState(QTreeWidgetItem* item, int state)
{
    for (int i = 0; i < item->childCount(); ++i)
    {
        QTreeWidgetItem* child = item->child(i);
        SetTreeCheckState(child, state ? Qt::Checked : Qt::Unchecked);
        SetTreeChildCheckState(child, state);
    }
}

void DRUI::SetTreeParentCheckState(QTreeWidgetItem* item)
{
    for (QTreeWidgetItem* parent = item ? item->parent() : nullptr; parent; parent = parent->parent())
    {
        int nChecked = 0, nUnchecked = 0;
        for (int i = 0; i < parent->childCount(); ++i)
        {
            const Qt::CheckState state = parent->child(i)->checkState(0);
            nChecked += state == Qt::Checked;
            nUnchecked += state == Qt::Unchecked;
        }
        const int nChildren = parent->childCount();
        const Qt::CheckState state = nChecked == nChildren     ? Qt::Checked
                                     : nUnchecked == nChildren ? Qt::Unchecked
                                                               : Qt::PartiallyChecked;
        SetTreeCheckState(parent, state);
    }
}

// --- single files -------------------------------------------------------------------------

void DRUI::tableItemPress(int row, int column)
{
    if (column == CFileTableModel::COLUMN_NAME && row >= 0 && row < m_pTableModel->rowCount())
        UpdateExtensionRowState(m_pTableModel->HitIndexOfRow(row));
    UpdateSelectionInfo();
}

void DRUI::UpdateExtensionRowState(size_t hit)
{
    const int group = m_pResults->GroupOf(hit);
    const auto rowIt = m_extensionRows.find(std::make_pair(group, m_pResults->KeyOf(hit)));
    if (rowIt == m_extensionRows.end())
        return;
    size_t nSelected = 0;
    const std::vector<size_t>& files = m_pResults->Group(group).at(m_pResults->KeyOf(hit));
    for (size_t f : files)
        nSelected += m_pResults->IsSelected(f) ? 1 : 0;
    const Qt::CheckState state = nSelected == 0              ? Qt::Unchecked
                                 : nSelected == files.size() ? Qt::Checked
                                                             : Qt::PartiallyChecked;
    SetTreeCheckState(rowIt->second, state);
    SetTreeParentCheckState(rowIt->second);
}

void DRUI::UpdateSelectionInfo()
{
    SetButtonLook(m_pBtnRecover, m_pResults->SelectedCount() > 0);
    m_pSelectionLabel->setText(m_pResults->SelectionText());
}

void DRUI::tableItemSelectChanged()
{
    // The preview runs behind its own modal dialog: not inside the view's
    // handling of the click that changed the selection, and once for a
    // burst of changes (keys held down).
    if (m_bPreviewQueued)
        return;
    m_bPreviewQueued = true;
    QPointer<QTableView> table = m_pFileTable;
    QTimer::singleShot(0, this,
                       [this, table]
                       {
                           m_bPreviewQueued = false;
                           if (!table)
                               return;
                           const QModelIndexList rows = table->selectionModel()->selectedRows();
                           if (!rows.isEmpty())
                               tableItemClick(rows.first());
                       });
}
