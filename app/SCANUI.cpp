#include "app/SCANUI.h"

#include "app/AppStyle.h"
#include "app/CMessageBox.h"
#include "app/DRUI.h"
#include "core/Portability.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace
{
namespace style = tessaroo::app::style;

constexpr int HEADER_HEIGHT = 64;
constexpr int HEADER_TEXT_WIDTH = 440; // room for a previewed file's name in the header

const char* HeaderText(int mode)
{
    switch (mode)
    {
    case SCANUI::MODE_SCAN:
        return "  Scan File\n  scanning drive for deleted files";
    case SCANUI::MODE_SEARCH:
        return "  Search File\n  searching drive for deleted files";
    case SCANUI::MODE_PREVIEW:
        return "  Preview File\n  %1\n";
    default:
        return "  Recovery File\n";
    }
}

const char* CancelQuestion(int mode)
{
    switch (mode)
    {
    case SCANUI::MODE_SCAN:
        return "Are you sure to cancel the scanning?";
    case SCANUI::MODE_SEARCH:
        return "Are you sure to cancel the searching?";
    case SCANUI::MODE_PREVIEW:
        return "Are you sure to cancel the previewing?";
    default:
        return "Are you sure to cancel the recoverying?";
    }
}

QPushButton* MakeButton(const char* szText, const char* szName, QWidget* parent)
{
    QPushButton* button = new QPushButton(QString::fromLatin1(szText), parent);
    button->setObjectName(QString::fromLatin1(szName));
    // Wide enough for the longest text ("Open Folder") with the padding.
    button->setFixedHeight(36);
    button->setMinimumWidth(120);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QString::fromLatin1(style::BUTTON_ENABLED));
    return button;
}
} // namespace

SCANUI::SCANUI(QDialog* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), m_nDragX(0), m_nDragY(0), m_pHeader(nullptr), m_pStatus(nullptr),
      m_pMainWindow(nullptr), m_pBtnCancel(nullptr), m_nOprType(0), m_bIsFinished(false), m_bStopping(false),
      m_progressBar(nullptr)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowTitle("Tessaroo");
    setFixedSize(WIDTH, HEIGHT);
}

void SCANUI::InitSlot(DRUI* mainWindow, int mode, const QString& previewName)
{
    m_pMainWindow = mainWindow;
    m_nOprType = mode;
    m_strPreviewName = previewName;
    InitDialog();
    m_progressBar->setValue(0);
    SetStatus(mode == MODE_SCAN ? QString("  Current Process: 0%\n  Estimated Time Left: 0 second\n")
                                : QString());

    // Each dialog listens to its own operation only.
    switch (mode)
    {
    case MODE_SCAN:
        connect(mainWindow, &DRUI::ScanProcessCallBack, this, &SCANUI::ScanProcessCallBackSlot);
        break;
    case MODE_SEARCH:
        connect(mainWindow, QOverload<int, QString>::of(&DRUI::SearchCallBack), this,
                &SCANUI::SearchCallBackSlot);
        break;
    case MODE_PREVIEW:
        connect(mainWindow, &DRUI::PreViewCallBackForSlot, this, &SCANUI::PreViewCallBackSlot);
        break;
    default:
        connect(mainWindow, &DRUI::RecoveryCallBack, this, &SCANUI::RecoveryCallBackSlot);
        break;
    }
    connect(mainWindow, &DRUI::OperationEnded, this, &SCANUI::OperationEndedSlot);
}

void SCANUI::InitDialog()
{
    m_bIsFinished = false;
    setObjectName("progressDialog");
    setStyleSheet(QString::fromLatin1(style::DIALOG_FRAME).arg("progressDialog"));
    QVBoxLayout* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    QString header = QString::fromLatin1(HeaderText(m_nOprType));
    if (m_nOprType == MODE_PREVIEW)
    {
        // A long name is cut in the middle, where its extension stays visible.
        QFont font("Arial", 11);
        font.setBold(true);
        header =
            header.arg(QFontMetrics(font).elidedText(m_strPreviewName, Qt::ElideMiddle, HEADER_TEXT_WIDTH));
    }
    m_pHeader = new QLabel(header, this);
    m_pHeader->setObjectName("progressHeader");
    m_pHeader->setStyleSheet(QString::fromLatin1(style::DIALOG_HEADER));
    m_pHeader->setFixedHeight(HEADER_HEIGHT);
    outer->addWidget(m_pHeader);

    QVBoxLayout* body = new QVBoxLayout;
    body->setContentsMargins(20, 14, 20, 14);
    body->setSpacing(8);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName("progressBar");
    m_progressBar->setRange(0, 100);
    m_progressBar->setFixedHeight(20);
    m_progressBar->setStyleSheet(QString::fromLatin1(style::PROGRESS_BAR));
    body->addWidget(m_progressBar);
    m_pStatus = new QLabel(this);
    m_pStatus->setObjectName("progressStatus");
    m_pStatus->setStyleSheet(QString::fromLatin1(style::DIALOG_TEXT));
    m_pStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pStatus->setTextInteractionFlags(Qt::NoTextInteraction);
    body->addWidget(m_pStatus, 1);

    QHBoxLayout* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch(1);
    if (m_nOprType == MODE_RECOVERY)
    {
        QPushButton* detail = MakeButton("Detail", "detailButton", this);
        connect(detail, &QPushButton::clicked, this, &SCANUI::btnDetail);
        buttons->addWidget(detail);
        QPushButton* folder = MakeButton("Open Folder", "openFolderButton", this);
        connect(folder, &QPushButton::clicked, this, &SCANUI::btnOpenFolder);
        buttons->addWidget(folder);
    }
    m_pBtnCancel = MakeButton("Cancel", "cancelButton", this);
    connect(m_pBtnCancel, &QPushButton::clicked, this, &SCANUI::btnSlot);
    buttons->addWidget(m_pBtnCancel);
    body->addLayout(buttons);
    outer->addLayout(body, 1);
}

void SCANUI::SetSaveDir(QString dir)
{
    m_strSaveDir = dir;
    m_detail.SetDestination(dir);
}

void SCANUI::SetStatus(const QString& text)
{
    m_pStatus->setText(text);
}

void SCANUI::Finish()
{
    m_bIsFinished = true;
    // An operation that ended while the user was asked needs no answer.
    if (m_pQuestion)
        m_pQuestion->close();
}

// --- progress ------------------------------------------------------------------------------

void SCANUI::ScanProcessCallBackSlot(int nProgress, int nPercent, int nRemaindSecond, QString u64CurSectorStr,
                                     QString u64SectorCountStr, QString u64FindFileCountStr,
                                     QString pRecoveryFileName)
{
    if (m_bStopping)
        return;
    const int percent = nProgress * nPercent / 100;
    m_progressBar->setValue(percent);
    m_strName = pRecoveryFileName;
    QString time = "Estimated time is calculating";
    if (nPercent == 90)
    {
        // The sweep phase: the one with sector counts and a time estimate.
        if (nRemaindSecond != -1)
            time = "Estimated Time Left: " + QString::fromStdString(GetTimeString(nRemaindSecond));
        SetStatus(QString("  Current Process: %1%\n  Reading Sector: %2/%3\n  Total Files Found: %4\n  %5\n")
                      .arg(percent)
                      .arg(u64CurSectorStr, u64SectorCountStr, u64FindFileCountStr, time));
    }
    else
    {
        SetStatus(QString("  Current Process: %1%\n  %2\n").arg(percent).arg(time));
    }
    const long long product = (long long)nProgress * nPercent;
    if (product >= tessaroo::SCAN_COMPLETE_LOW && product <= tessaroo::SCAN_COMPLETE_HIGH)
    {
        Finish();
        close();
    }
}

void SCANUI::SearchCallBackSlot(int nProgress, QString pRecoveryFileName)
{
    if (m_bStopping)
        return;
    m_progressBar->setValue(nProgress);
    m_strName = pRecoveryFileName;
    SetStatus(QString("  Process: %1%\n  Searching drive for recovery files").arg(nProgress));
    if (nProgress == 100 && m_pMainWindow->IsOperationEnded(MODE_SEARCH))
    {
        Finish();
        close();
    }
}

void SCANUI::PreViewCallBackSlot(int nProgress, int nRet)
{
    (void)nRet;
    if (m_bStopping)
        return;
    m_progressBar->setValue(nProgress);
    SetStatus(QString("  Process: %1%\n  Previewing file:%2").arg(nProgress).arg(m_strPreviewName));
    if (nProgress == 100)
    {
        Finish();
        close();
    }
}

void SCANUI::RecoveryCallBackSlot(int nProgress, int nPercent, int nErrorCode, QString pRecoveryFileName)
{
    const int percent = nPercent * nProgress / 100;
    m_progressBar->setValue(percent > 100 ? 100 : percent);
    if (m_pMainWindow->IsStopRequested(MODE_RECOVERY) && nPercent == 1000)
    {
        // The closing report: every file has been tried.
        Finish();
        m_pBtnCancel->setText("Finished");
        SetStatus(QString("  Recovered %1 of %2 files\n  Destination: %3")
                      .arg(m_detail.SuccessCount())
                      .arg(m_detail.SuccessCount() + m_detail.FailureCount())
                      .arg(m_strSaveDir));
        return;
    }
    m_strName = pRecoveryFileName;
    if (nProgress == 100)
        m_detail.AddTableItem(pRecoveryFileName, nErrorCode);
    if (!m_bStopping)
        SetStatus(QString("  Process: %1%\n  Destination: %2").arg(percent).arg(pRecoveryFileName));
}

void SCANUI::OperationEndedSlot(int mode, int result)
{
    (void)result;
    // A recovery that went through stays open with its "Finished" button;
    // every other ending (no completion report, a cancel, a refusal) closes.
    if (mode != m_nOprType || m_bIsFinished)
        return;
    Finish();
    close();
}

// --- buttons and closing -------------------------------------------------------------------

void SCANUI::btnSlot()
{
    close();
}

void SCANUI::btnDetail()
{
    m_detail.move(pos());
    m_detail.exec();
}

void SCANUI::btnOpenFolder()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(m_strSaveDir));
}

void SCANUI::reject()
{
    close();
}

void SCANUI::closeEvent(QCloseEvent* event)
{
    if (m_bIsFinished)
    {
        event->accept();
        return;
    }
    if (!m_bStopping)
    {
        CMessageBox question;
        question.InitQuestionDialog(QString::fromLatin1(CancelQuestion(m_nOprType)));
        question.move(pos() + QPoint(width() / 8, height() / 8));
        m_pQuestion = &question;
        question.exec();
        m_pQuestion = nullptr;
        if (question.GetMessageBoxRet() != 1)
        {
            event->ignore();
            return;
        }
        // The operation may have ended while the question was up.
        if (m_bIsFinished)
        {
            event->accept();
            return;
        }
        m_bStopping = true;
        m_pMainWindow->RequestStop(m_nOprType);
        m_pBtnCancel->setEnabled(false);
        m_pBtnCancel->setStyleSheet(QString::fromLatin1(style::BUTTON_DISABLED));
        SetStatus("  Stopping...\n  waiting for the current step to end");
    }
    // The engine stops at its next callback; until its thread function has
    // returned the dialog stays, without blocking this thread (the end
    // arrives as OperationEnded).
    if (m_pMainWindow->IsOperationEnded(m_nOprType))
    {
        Finish();
        event->accept();
        return;
    }
    event->ignore();
}

void SCANUI::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
    {
        event->accept();
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SCANUI::mousePressEvent(QMouseEvent* event)
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

void SCANUI::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        move(event->globalPosition().toPoint() - QPoint(m_nDragX, m_nDragY));
    event->accept();
}
