// The file table of the results page: the files of one extension, read from
// the result model, with a check box on each name that ticks the file for
// recovery. Holds positions into the model, never copies of the records.
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>

#include <vector>

class CResultModel;

class CFileTableModel : public QAbstractTableModel
{
    Q_OBJECT

  public:
    enum COLUMN
    {
        COLUMN_NAME,
        COLUMN_SIZE,
        COLUMN_COUNT
    };
    // Role under which a cell gives its file's position in the result model.
    static constexpr int HIT_INDEX_ROLE = Qt::UserRole;

    explicit CFileTableModel(CResultModel* pResults, QObject* parent = nullptr);

    // Shows these files (positions in the result model), each with the icon
    // of its extension; an empty list empties the table.
    void SetFiles(std::vector<size_t> files);
    const std::vector<size_t>& Files() const { return m_files; }
    size_t HitIndexOfRow(int row) const { return m_files[size_t(row)]; }
    // The check boxes follow the selection again after it changed elsewhere.
    void RefreshChecks();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A user's tick on a name selects or unselects the file, then tells the
    // window, which brings the tree rows along.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  signals:
    void CheckToggled(int row, int column);

  private:
    QIcon IconOf(size_t hit) const;

    CResultModel* m_pResults;
    std::vector<size_t> m_files;
    mutable QHash<QString, QIcon> m_icons; // by icon resource
};
