// The modal progress dialog of one worker-thread operation: a scan (mode
// 1), the post-scan listing (2), a preview (3) or a recovery (4). Shows the
// operation's progress, asks before cancelling it, and after a recovery
// offers the per-file detail list and the destination folder.
#pragma once

#include "app/CDetail.h"

#include <QDialog>
#include <QPointer>

class CMessageBox;
class DRUI;
class QLabel;
class QProgressBar;
class QPushButton;

class SCANUI : public QDialog
{
    Q_OBJECT

  public:
    enum MODE
    {
        MODE_SCAN = 1,
        MODE_SEARCH = 2,
        MODE_PREVIEW = 3,
        MODE_RECOVERY = 4
    };
    static constexpr int WIDTH = 500;
    static constexpr int HEIGHT = 250;

    explicit SCANUI(QDialog* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    // Builds the dialog for the mode and connects the main window's progress
    // signals to it; called once, before the operation's thread starts.
    // previewName is the file a preview (mode 3) reads.
    void InitSlot(DRUI* mainWindow, int mode, const QString& previewName = QString());
    void SetSaveDir(QString dir);

    int Mode() const { return m_nOprType; }
    // The operation has ended (or reported completion): closing asks nothing.
    bool IsFinished() const { return m_bIsFinished; }
    CDetail* Detail() { return &m_detail; }

  public slots:
    void ScanProcessCallBackSlot(int nProgress, int nPercent, int nRemaindSecond, QString u64CurSectorStr,
                                 QString u64SectorCountStr, QString u64FindFileCountStr,
                                 QString pRecoveryFileName);
    void RecoveryCallBackSlot(int nProgress, int nPercent, int nErrorCode, QString pRecoveryFileName);
    void SearchCallBackSlot(int nProgress, QString pRecoveryFileName);
    void PreViewCallBackSlot(int nProgress, int nRet);
    // The worker has returned from the operation of mode.
    void OperationEndedSlot(int mode, int result);
    void btnSlot();
    void btnDetail();
    void btnOpenFolder();
    // Escape and the platform's rejection are close requests like Cancel.
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void InitDialog();
    void SetStatus(const QString& text);
    void Finish();

    int m_nDragX;
    int m_nDragY;
    QLabel* m_pHeader;
    QLabel* m_pStatus;
    DRUI* m_pMainWindow;
    QString m_strName;
    QPushButton* m_pBtnCancel;
    QString m_strSaveDir;
    CDetail m_detail;

    int m_nOprType;
    bool m_bIsFinished;
    bool m_bStopping; // the user confirmed the cancel; waiting for the worker
    QProgressBar* m_progressBar;
    QString m_strPreviewName;
    QPointer<CMessageBox> m_pQuestion; // the cancel question while it is up
};
