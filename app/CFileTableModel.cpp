#include "app/CFileTableModel.h"

#include "app/CResultModel.h"
#include "core/Portability.h"

#include <limits>

CFileTableModel::CFileTableModel(CResultModel* pResults, QObject* parent)
    : QAbstractTableModel(parent), m_pResults(pResults)
{
}

void CFileTableModel::SetFiles(std::vector<size_t> files)
{
    beginResetModel();
    m_files = std::move(files);
    endResetModel();
}

QIcon CFileTableModel::IconOf(size_t hit) const
{
    const std::string& key = m_pResults->KeyOf(hit);
    const QString path =
        GetExtendNameIcon(key == CResultModel::NO_EXTENSION_KEY ? QString() : QString::fromStdString(key));
    auto it = m_icons.find(path);
    if (it == m_icons.end())
        it = m_icons.insert(path, QIcon(path));
    return it.value();
}

void CFileTableModel::RefreshChecks()
{
    if (!m_files.empty())
        emit dataChanged(index(0, COLUMN_NAME), index(rowCount() - 1, COLUMN_NAME), {Qt::CheckStateRole});
}

int CFileTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_files.size());
}

int CFileTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : COLUMN_COUNT;
}

QVariant CFileTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_files.size())
        return QVariant();
    const size_t hit = m_files[size_t(index.row())];
    if (role == HIT_INDEX_ROLE)
        return QVariant::fromValue(qulonglong(hit));
    const __SEARCH_FILE_INFO__& node = m_pResults->Hit(hit);
    if (index.column() == COLUMN_NAME)
    {
        switch (role)
        {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return NodeNameToDisplay(node);
        case Qt::DecorationRole:
            return IconOf(hit);
        case Qt::CheckStateRole:
            return m_pResults->IsSelected(hit) ? Qt::Checked : Qt::Unchecked;
        default:
            return QVariant();
        }
    }
    if (role == Qt::DisplayRole)
    {
        const uint64_t size = node.u64FileSize;
        const long long shown = size > uint64_t(std::numeric_limits<long long>::max())
                                    ? std::numeric_limits<long long>::max()
                                    : (long long)size;
        return QString::fromStdString(GetFileSizeString(shown));
    }
    return QVariant();
}

QVariant CFileTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    return section == COLUMN_NAME ? QString("Name") : QString("Size");
}

Qt::ItemFlags CFileTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == COLUMN_NAME)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

bool CFileTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != COLUMN_NAME ||
        size_t(index.row()) >= m_files.size())
        return false;
    m_pResults->Select(m_files[size_t(index.row())], value.toInt() == Qt::Checked);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit CheckToggled(index.row(), index.column());
    return true;
}
