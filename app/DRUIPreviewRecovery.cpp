// The two operations started from the results page: the preview of one file
// (a picture, or the first bytes as text) and the recovery of the ticked
// files through the recovery library, each on the worker thread behind its
// progress dialog.
#include "app/CFileTableModel.h"
#include "app/CMyThread.h"
#include "app/CResultModel.h"
#include "app/DRUI.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "recovery/CRecoveryFlow.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTimer>

namespace
{
// Room for the path of the picture an engine writes for a preview.
constexpr size_t IMAGE_PATH_UNITS = 1024;
// Bytes of a dump line when the data has no line ends of its own.
constexpr int DUMP_LINE_BYTES = 256;
} // namespace

// --- preview ----------------------------------------------------------------------------------

void DRUI::tableItemClick(const QModelIndex& index)
{
    if (!index.isValid() || !m_pEngine || !m_pResults || m_bOperationRunning)
        return;
    const size_t hit = size_t(index.data(CFileTableModel::HIT_INDEX_ROLE).toULongLong());
    if (hit >= m_pResults->HitCount())
        return;
    m_previewNode = m_pResults->Hit(hit);
    m_strPreviewName = NodeNameToDisplay(m_previewNode);
    RunOperation(OPERATION_PREVIEW, &DRUI::_PreviewProcess);
    ShowPreviewResult();
}

void DRUI::_PreviewProcess(void* ctx, int& result)
{
    DRUI* self = static_cast<DRUI*>(ctx);
    self->m_bPreviewStop.store(false);
    self->m_bPreviewEnd.store(false);
    self->PreviewProcess();
    result = int(self->m_nPreviewStatus);
    self->m_bPreviewEnd.store(true);
    emit self->OperationEnded(OPERATION_PREVIEW, result);
}

void DRUI::PreviewProcess()
{
    m_imagePath.assign(IMAGE_PATH_UNITS, 0);
    m_previewBuf.assign(tessaroo::PREVIEW_BUFFER_SIZE, 0);
    m_nPreviewBufLen = tessaroo::PREVIEW_BUFFER_SIZE;
    m_nPreviewStatus = 87;
    if (m_pEngine)
        m_nPreviewStatus = m_pEngine->PreView(&m_previewNode, m_imagePath.data(), m_previewBuf.data(),
                                              m_nPreviewBufLen, &DRUI::PreViewCallBack, this);
    if (m_nPreviewBufLen < 0 || m_nPreviewBufLen > tessaroo::PREVIEW_BUFFER_SIZE)
        m_nPreviewBufLen = 0;
    m_imagePath.back() = 0;
}

int DRUI::PreViewCallBack(void* ctx, int nProgress, int nRet)
{
    DRUI* self = static_cast<DRUI*>(ctx);
    if (self->m_bPreviewStop.load())
        return 1;
    if (self->m_pThrottle->Pass(nProgress >= 100))
        emit self->PreViewCallBackForSlot(nProgress, nRet);
    return 0;
}

void DRUI::ShowPreviewResult()
{
    // A cancelled preview leaves the area as it was.
    if (m_bPreviewStop.load())
        return;
    const std::string picture =
        m_imagePath.empty() ? std::string() : tessaroo::WideToUtf8(m_imagePath.data());
    if (picture.empty())
    {
        if (m_nPreviewStatus != 0 && m_nPreviewBufLen == 0)
            ShowPreviewText("This file could not be read for a preview.");
        else
            WinHexBufData(&m_previewNode, m_previewBuf.data(), m_nPreviewBufLen);
        return;
    }
    const QString path = QString::fromStdString(picture);
    if (!QFileInfo(path).isFile())
        return;
    QImageReader reader(path);
    reader.setAutoTransform(true); // cameras record the orientation apart from the pixels
    const QImage image = reader.read();
    m_pPreviewArea->setCurrentWidget(m_pPreviewLabel);
    if (image.isNull())
    {
        m_pPreviewLabel->setPixmap(QPixmap());
        m_pPreviewLabel->setText("This picture cannot be shown: its data may be damaged or overwritten.");
        return;
    }
    // Whole and centred when it fits; otherwise scaled down, keeping its
    // proportions, to fit the area in both directions.
    const QSize room(std::min(PREVIEW_MAX_WIDTH, m_pPreviewArea->width() - 16),
                     m_pPreviewArea->height() - 16);
    QPixmap pixmap = QPixmap::fromImage(image);
    if (pixmap.width() > room.width() || pixmap.height() > room.height())
        pixmap = pixmap.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    m_pPreviewLabel->setPixmap(pixmap);
}

namespace
{
// Length of the well-formed UTF-8 character at p (n bytes left), 0 when
// the bytes there are not one.
int Utf8CharLength(const unsigned char* p, int n)
{
    const unsigned char c = p[0];
    int len = 0;
    unsigned char lo = 0x80, hi = 0xBF; // range of the second byte
    if (c >= 0xC2 && c <= 0xDF)
        len = 2;
    else if (c >= 0xE0 && c <= 0xEF)
    {
        len = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80; // no overlong forms
        hi = c == 0xED ? 0x9F : 0xBF; // no surrogates
    }
    else if (c >= 0xF0 && c <= 0xF4)
    {
        len = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    }
    if (len == 0 || len > n || p[1] < lo || p[1] > hi)
        return 0;
    for (int i = 2; i < len; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    // C1 control characters print as nothing useful.
    if (len == 2 && c == 0xC2 && p[1] < 0xA0)
        return 0;
    return len;
}
} // namespace

QString DRUI::MakeDumpText(const unsigned char* buf, int len)
{
    QByteArray text;
    text.reserve(len + len / DUMP_LINE_BYTES + 1);
    int nLine = 0; // bytes since the last line end
    for (int i = 0; i < len;)
    {
        const unsigned char c = buf[i];
        // Line ends and tabs keep the shape of a text file (a CR before LF
        // adds nothing); text in UTF-8 shows as such; every other byte
        // (zero, control bytes, what is no UTF-8) shows as a point.
        int n = 1;
        if (c == '\r')
        {
            ++i;
            continue;
        }
        if (c == '\n')
        {
            text.append('\n');
            nLine = 0;
            ++i;
            continue;
        }
        if (c >= 0x80 && (n = Utf8CharLength(buf + i, len - i)) > 0)
            text.append(reinterpret_cast<const char*>(buf + i), n);
        else
        {
            n = 1;
            text.append((c < 0x20 && c != '\t') || c >= 0x7F ? '.' : char(c));
        }
        i += n;
        // Data without line ends is broken into lines of its own.
        nLine += n;
        if (nLine >= DUMP_LINE_BYTES)
        {
            text.append('\n');
            nLine = 0;
        }
    }
    if (nLine != 0)
        text.append('\n');
    return QString::fromUtf8(text);
}

void DRUI::WinHexBufData(_FILE_NODE_* node, unsigned char* buf, int len)
{
    (void)node;
    ShowPreviewText(MakeDumpText(buf, len));
}

void DRUI::ShowPreviewText(const QString& text)
{
    m_pPreviewText->setPlainText(text);
    m_pPreviewArea->setCurrentWidget(m_pPreviewText);
}

// --- recovery ---------------------------------------------------------------------------------

QString DRUI::AskDestinationFolder()
{
    return QFileDialog::getExistingDirectory(this, QString(), m_strSaveDir,
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks |
                                                 QFileDialog::DontUseNativeDialog);
}

void DRUI::btnRecovery()
{
    if (!m_pResults || m_pResults->SelectedCount() == 0)
        return;
    m_strSaveDir = "/";
    const QString dir = AskDestinationFolder();
    if (dir.isEmpty())
        return;
    m_strSaveDir = dir;
    m_strDestination = dir.toStdString();
    m_recoveryFiles = m_pResults->SelectedNodes();
    m_pRecoveryFlow.reset(new tessaroo::CRecoveryFlow);
    m_nRecoveryOutcome = tessaroo::CRecoveryFlow::OUTCOME_DONE;
    qDebug("_RecoveryProcess Start\n");
    RunOperation(OPERATION_RECOVERY, &DRUI::_RecoveryProcess);
    const int outcome = m_nRecoveryOutcome;
    const QString message = QString::fromStdString(m_pRecoveryFlow->GetMessage());
    m_pRecoveryFlow.reset();
    // A destination on the scanned volume, or one that cannot be used, is
    // refused before anything is written; the user learns why.
    if (outcome == tessaroo::CRecoveryFlow::OUTCOME_OVERLAP ||
        outcome == tessaroo::CRecoveryFlow::OUTCOME_BAD_DESTINATION)
        ShowMessage(message);
}

void DRUI::_RecoveryProcess(void* ctx, int& result)
{
    DRUI* self = static_cast<DRUI*>(ctx);
    self->m_bRecoveryStop.store(false);
    self->m_bRecoveryEnd.store(false);
    self->RecoveryProcess();
    result = self->m_nRecoveryOutcome;
    const bool bStopped = self->m_bRecoveryStop.load();
    self->m_bRecoveryStop.store(true);
    self->m_bRecoveryEnd.store(true);
    // The closing report goes out only now, after both flags: the dialog
    // recognises it by them and never takes it for a file's report.
    if (!bStopped && result == tessaroo::CRecoveryFlow::OUTCOME_DONE)
        emit self->RecoveryCallBack(100, 1000, 0, QString());
    emit self->OperationEnded(OPERATION_RECOVERY, result);
}

void DRUI::RecoveryProcess()
{
    tessaroo::ScannedVolume volume;
    volume.strDevicePath = tessaroo::GetDiskDevicePath(m_partitionItem.nDiskIndex);
    volume.u64StartSector = m_partitionItem.u64StartSector;
    volume.u64SectorCount = PartitionSectorCount(m_partitionItem);
    m_pRecoveryFlow->SetObserver(&DRUI::RecoveryObserver, this);
    m_nRecoveryOutcome =
        m_pRecoveryFlow->RecoveryProcess(m_pEngine.get(), m_recoveryFiles, m_strDestination, volume);
    m_pRecoveryFlow->SetObserver(nullptr, nullptr);
}

void DRUI::RecoveryObserver(void* ctx, int nProgress, int nPercent, int nErrorCode, const std::string& target)
{
    DRUI* self = static_cast<DRUI*>(ctx);
    // After a cancel nothing more reaches the dialog; the closing report is
    // sent by the thread function once the flags are set.
    if (self->m_bRecoveryStop.load() || nPercent == 1000)
        return;
    if (self->m_pThrottle->Pass(nProgress >= 100))
        emit self->RecoveryCallBack(nProgress, nPercent, nErrorCode, QString::fromStdString(target));
}
