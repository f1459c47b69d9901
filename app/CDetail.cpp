#include "app/CDetail.h"

#include "app/AppStyle.h"
#include "core/Status.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstring>

namespace
{
namespace style = tessaroo::app::style;

constexpr int ROW_HEIGHT = 22;
constexpr int STATUS_COLUMN_WIDTH = 210;
} // namespace

QString RecoveryStatusText(int nStatus, const QString& strDestination)
{
    const uint32_t status = uint32_t(nStatus);
    if (nStatus == 0)
        return "Success";
    if (tessaroo::IsDestinationStatus(status))
        return QString("Failed: cannot write to %1: %2")
            .arg(strDestination, QString::fromLocal8Bit(strerror(tessaroo::DestinationErrno(status))));
    switch (nStatus)
    {
    case int(tessaroo::STATUS_READ_FAULT):
        return "Incomplete: the card ended or could not be read; kept as far as read";
    case tessaroo::STATUS_CANCEL:
        return "Stopped";
    case int(tessaroo::STATUS_INVALID_PARAMETER):
        return "Failed: the file's record is damaged";
    case int(tessaroo::STATUS_CLUSTER_TOO_LARGE):
        return "Failed: the volume's clusters are too large";
    case int(tessaroo::STATUS_NOT_ENOUGH_MEMORY):
        return "Failed: out of memory";
    default:
        if (nStatus > 0 && nStatus < 4096)
            return QString("Failed: reading the card: %1").arg(QString::fromLocal8Bit(strerror(nStatus)));
        return QString("Failed (error %1)").arg(nStatus);
    }
}

CDetail::CDetail(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), m_nDragX(0), m_nDragY(0), m_pTable(nullptr), m_pHeader(nullptr), m_nSuccess(0),
      m_nFailure(0)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowTitle("Tessaroo");
    setFixedSize(WIDTH, HEIGHT);
    InitDialog();
}

void CDetail::InitDialog()
{
    setObjectName("detailDialog");
    setStyleSheet(QString::fromLatin1(style::DIALOG_FRAME).arg("detailDialog"));
    QVBoxLayout* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    m_pHeader = new QLabel(this);
    m_pHeader->setObjectName("detailHeader");
    m_pHeader->setStyleSheet(QString::fromLatin1(style::DIALOG_HEADER));
    m_pHeader->setFixedHeight(64);
    outer->addWidget(m_pHeader);
    UpdateHeader();

    QVBoxLayout* body = new QVBoxLayout;
    body->setContentsMargins(12, 12, 12, 12);
    body->setSpacing(10);
    m_pTable = CreateTable();
    body->addWidget(m_pTable, 1);
    QHBoxLayout* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    QPushButton* ok = new QPushButton("OK", this);
    ok->setObjectName("okButton");
    ok->setFixedSize(110, 34);
    ok->setCursor(Qt::PointingHandCursor);
    ok->setStyleSheet(QString::fromLatin1(style::BUTTON_ENABLED));
    connect(ok, &QPushButton::clicked, this, &CDetail::btnSlot);
    buttons->addWidget(ok);
    body->addLayout(buttons);
    outer->addLayout(body, 1);
}

QTableWidget* CDetail::CreateTable()
{
    QTableWidget* table = new QTableWidget(0, 2, this);
    table->setObjectName("detailTable");
    table->setHorizontalHeaderLabels({"Name", "Status"});
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(ROW_HEIGHT);
    // The name column takes what the status leaves; long target paths are
    // cut at their start, so the folder of the kind and the file name at
    // their end stay readable.
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Interactive);
    table->setColumnWidth(1, STATUS_COLUMN_WIDTH);
    table->setTextElideMode(Qt::ElideLeft);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setWordWrap(false);
    table->setStyleSheet(QString::fromLatin1(style::RESULT_TABLE));
    return table;
}

void CDetail::AddTableItem(QString name, int status)
{
    const bool bSuccess = status == 0;
    const int row = bSuccess ? m_pTable->rowCount() : 0;
    m_pTable->insertRow(row);
    QTableWidgetItem* nameItem = new QTableWidgetItem(name);
    nameItem->setToolTip(name);
    const QString text = RecoveryStatusText(status, m_strDestination);
    QTableWidgetItem* statusItem = new QTableWidgetItem(text);
    statusItem->setToolTip(text);
    if (!bSuccess)
        statusItem->setForeground(status == int(tessaroo::STATUS_READ_FAULT) ? QColor(0xB3, 0x5C, 0x00)
                                                                             : QColor(Qt::red));
    m_pTable->setItem(row, 0, nameItem);
    m_pTable->setItem(row, 1, statusItem);
    m_pTable->setRowHeight(row, ROW_HEIGHT);
    (bSuccess ? m_nSuccess : m_nFailure) += 1;
    UpdateHeader();
}

void CDetail::UpdateHeader()
{
    m_pHeader->setText(
        QString::asprintf("  Recovery Detail\n  Sucess:%d Failed:%d\n", m_nSuccess, m_nFailure));
}

void CDetail::btnSlot()
{
    close();
}

void CDetail::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
    {
        const QPoint offset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        m_nDragX = offset.x();
        m_nDragY = offset.y();
    }
    else if (event->button() == Qt::RightButton)
    {
        close();
    }
    event->accept();
}

void CDetail::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        move(event->globalPosition().toPoint() - QPoint(m_nDragX, m_nDragY));
    event->accept();
}
