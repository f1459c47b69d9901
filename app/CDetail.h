// The recovery detail dialog: one row per recovered file with its outcome,
// failures first. One lives inside every progress dialog and collects the
// rows of its recovery.
#pragma once

#include <QDialog>

class QLabel;
class QTableWidget;

// The outcome of one file as the detail list says it: "Success", or why it
// failed; a failure of the destination names the folder and the system's
// reason.
QString RecoveryStatusText(int nStatus, const QString& strDestination);

class CDetail : public QDialog
{
    Q_OBJECT

  public:
    static constexpr int WIDTH = 600;
    static constexpr int HEIGHT = 400;

    explicit CDetail(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    // The folder the files went to, named by failures of the destination.
    void SetDestination(const QString& strDestination) { m_strDestination = strDestination; }
    // Status 0 appends a "Success" row; any other status puts a failure row
    // at the top. Updates the counters in the header.
    void AddTableItem(QString name, int status);
    void InitDialog();
    QTableWidget* CreateTable();

    int SuccessCount() const { return m_nSuccess; }
    int FailureCount() const { return m_nFailure; }
    QTableWidget* Table() const { return m_pTable; }

  public slots:
    void btnSlot();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void UpdateHeader();

    int m_nDragX;
    int m_nDragY;
    QTableWidget* m_pTable;
    QLabel* m_pHeader;
    int m_nSuccess;
    int m_nFailure;
    QString m_strDestination;
};
