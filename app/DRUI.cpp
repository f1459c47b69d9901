// The main window itself: construction, Init, navigation between the pages,
// the frameless window's chrome, the title-bar buttons and the help pages.
#include "app/DRUI.h"

#include "app/AppResources.h"
#include "app/AppStyle.h"
#include "app/CFileTableModel.h"
#include "app/CMyThread.h"
#include "app/CResultModel.h"
#include "core/Platform.h"
#include "recovery/CRecoveryFlow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStackedLayout>
#include <QUrl>

#ifndef TESSAROO_HELP_INSTALL_DIR
#define TESSAROO_HELP_INSTALL_DIR ""
#endif

namespace
{
namespace style = tessaroo::app::style;

constexpr int TITLE_BUTTON_SIZE = 28;
constexpr int TITLE_BUTTON_STEP = 30; // buttons sit this far apart, leftwards from the right edge
constexpr int TITLE_BUTTON_TOP = 8;

// The local help pages: beside the executable in a build tree, in the data
// folder of an installation relative to the executable, or where this build
// installs them.
QString FindHelpPage(const QString& strName)
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const QStringList dirs = {appDir + "/help", appDir + "/../share/tessaroo/help",
                              QString::fromUtf8(TESSAROO_HELP_INSTALL_DIR)};
    for (const QString& dir : dirs)
    {
        if (dir.isEmpty())
            continue;
        const QFileInfo info(QDir(dir).filePath(strName));
        if (info.isFile())
            return info.canonicalFilePath();
    }
    return QString();
}

QPushButton* MakeTitleButton(const char* szIcon, const char* szTip, int x, QWidget* parent)
{
    QPushButton* button = new QPushButton(parent);
    button->setIcon(QIcon(QString::fromLatin1(szIcon)));
    button->setIconSize(QSize(18, 18));
    button->setFixedSize(TITLE_BUTTON_SIZE, TITLE_BUTTON_SIZE);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setToolTip(QString::fromLatin1(szTip));
    button->setStyleSheet(QString::fromLatin1(style::TITLE_BUTTON));
    button->move(x, TITLE_BUTTON_TOP);
    return button;
}
} // namespace

DRUI::DRUI(QWidget* parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags), m_pStackedLayout(nullptr), m_pPage1(nullptr), m_pPage2(nullptr),
      m_pPage3(nullptr), m_pDiskTree(nullptr), m_pBtnScan(nullptr), m_pBtnStart(nullptr),
      m_pCheckAll(nullptr), m_bPartial(false), m_partitionItem(), m_bScanStop(false), m_bScanEnd(true),
      m_bSearchStop(false), m_bSearchEnd(true), m_bRecoveryStop(false), m_bRecoveryEnd(true),
      m_bPreviewStop(false), m_bPreviewEnd(true), m_pThrottle(new CProgressThrottle),
      m_bOperationRunning(false), m_nScanResult(0), m_pTableModel(nullptr), m_pResultTree(nullptr),
      m_pFileTable(nullptr), m_pLastTreeItem(nullptr), m_bUpdatingChecks(false), m_pPreviewArea(nullptr),
      m_pPreviewLabel(nullptr), m_pPreviewText(nullptr), m_pSelectionLabel(nullptr), m_pBtnRecover(nullptr),
      m_previewNode(), m_nPreviewBufLen(tessaroo::PREVIEW_BUFFER_SIZE), m_nPreviewStatus(0),
      m_bPreviewQueued(false), m_nRecoveryOutcome(0), m_nDragX(0), m_nDragY(0)
{
    tessaroo::app::InitResources();
    RegisterPartitionItemMetaType();
    for (QCheckBox*& box : m_pCheckKind)
        box = nullptr;

    QWidget* central = new QWidget(this);
    central->setObjectName("centralWidget");
    central->setStyleSheet(QString("#centralWidget { background-color: %1; }").arg(style::WINDOW_BACKGROUND));
    setCentralWidget(central);

    setWindowTitle("Tessaroo");
    setWindowIcon(QIcon(":/image/logo.png"));
    setWindowFlags(Qt::FramelessWindowHint);
    setFixedSize(WINDOW_WIDTH, WINDOW_HEIGHT);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
    {
        const QRect desk = screen->availableGeometry();
        move(desk.x() + (desk.width() - WINDOW_WIDTH) / 2, desk.y() + (desk.height() - WINDOW_HEIGHT) / 2);
    }
}

DRUI::~DRUI() = default;

void DRUI::Init()
{
    m_previewBuf.assign(tessaroo::PREVIEW_BUFFER_SIZE, 0);

    m_pPage1 = CreatePage1();
    m_pPage2 = CreatePage2();
    m_pStackedLayout = new QStackedLayout;
    m_pStackedLayout->addWidget(m_pPage1);
    m_pStackedLayout->addWidget(m_pPage2);
    m_pStackedLayout->setCurrentIndex(0);
    m_pStackedLayout->setSpacing(0);
    m_pStackedLayout->setContentsMargins(0, 0, 0, 0);
    centralWidget()->setLayout(m_pStackedLayout);

    // The scan-log folders are shared by every scan and every user who runs
    // the program; creation failures show later, in the store's own reports.
    tessaroo::MakeDirs(tessaroo::GetSupportDir(), 0777);
    tessaroo::MakeDirs(tessaroo::GetScanLogRoot(), 0777);
}

QPushButton* DRUI::CreateButton(int index, int x, QWidget* parent)
{
    static const char* const ICONS[] = {":/image/about.png", ":/image/support.png", ":/image/help.png"};
    static const char* const TIPS[] = {"About", "Support", "Help"};
    static const char* const NAMES[] = {"aboutButton", "supportButton", "helpButton"};
    if (index < 0 || index > 2)
        return nullptr;
    QPushButton* button = MakeTitleButton(ICONS[index], TIPS[index], x, parent);
    button->setObjectName(QString::fromLatin1(NAMES[index]));
    switch (index)
    {
    case 0:
        connect(button, &QPushButton::clicked, this, &DRUI::btnAboutSlot);
        break;
    case 1:
        connect(button, &QPushButton::clicked, this, &DRUI::btnSupportSlot);
        break;
    default:
        connect(button, &QPushButton::clicked, this, &DRUI::btnHelpSlot);
        break;
    }
    return button;
}

QWidget* DRUI::CreateTitleStrip(QWidget* page)
{
    QWidget* strip = new QWidget(page);
    strip->setObjectName("titleStrip");
    strip->setAttribute(Qt::WA_StyledBackground, true);
    strip->setStyleSheet(QString::fromLatin1(style::TITLE_STRIP));
    strip->setFixedSize(WINDOW_WIDTH, TITLE_HEIGHT);

    QLabel* logo = new QLabel(strip);
    logo->setPixmap(
        QPixmap(":/image/logo.png").scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    logo->setGeometry(24, (TITLE_HEIGHT - 48) / 2, 48, 48);

    QLabel* banner =
        new QLabel("\t        Tessaroo\nRecover photos, videos, audios, documents, emails, archives", strip);
    banner->setObjectName("banner");
    banner->setStyleSheet(QString::fromLatin1(style::BANNER));
    banner->setGeometry(84, 0, 600, TITLE_HEIGHT);
    banner->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    const int right = WINDOW_WIDTH - 10 - TITLE_BUTTON_SIZE;
    QPushButton* close = MakeTitleButton(":/image/close.png", "Close", right, strip);
    close->setObjectName("closeButton");
    connect(close, &QPushButton::clicked, this, &DRUI::btnCloseSlot);
    QPushButton* minimize =
        MakeTitleButton(":/image/minimize.png", "Minimize", right - TITLE_BUTTON_STEP, strip);
    minimize->setObjectName("minimizeButton");
    connect(minimize, &QPushButton::clicked, this, &DRUI::btnMinSlot);
    for (int index = 0; index < 3; ++index)
        CreateButton(index, right - TITLE_BUTTON_STEP * (2 + index), strip);
    return strip;
}

QLabel* DRUI::CreateVersionLabel(QWidget* page)
{
    QLabel* label = new QLabel("Version 8.8.8.9", page);
    label->setObjectName("versionLabel");
    label->setStyleSheet(QString::fromLatin1(style::VERSION_LABEL));
    return label;
}

void DRUI::SetButtonLook(QPushButton* button, bool bEnabled)
{
    if (!button)
        return;
    button->setEnabled(bEnabled);
    button->setStyleSheet(QString::fromLatin1(bEnabled ? style::BUTTON_ENABLED : style::BUTTON_DISABLED));
}

// --- navigation ------------------------------------------------------------

void DRUI::btnSlot()
{
    m_pStackedLayout->setCurrentIndex(1);
}

void DRUI::btnSlotBack()
{
    if (m_pPage3 && m_pStackedLayout->currentWidget() == m_pPage3)
        m_pStackedLayout->setCurrentIndex(1);
    else
        m_pStackedLayout->setCurrentIndex(0);
    // The results of the last scan go with its engine. No operation runs
    // now: every one of them holds this thread in its modal dialog.
    m_pEngine.reset();
}

// --- title bar and help pages ---------------------------------------------------

void DRUI::btnMinSlot()
{
    showMinimized();
}

void DRUI::btnCloseSlot()
{
    close();
}

void DRUI::btnOpenUrl(QString strUrl)
{
    QDesktopServices::openUrl(QUrl(strUrl));
}

void DRUI::OpenHelpPage(const char* szPage)
{
    const QString path = FindHelpPage(QString::fromLatin1(szPage));
    if (path.isEmpty())
    {
        qDebug("help page %s not found\n", szPage);
        return;
    }
    btnOpenUrl(QUrl::fromLocalFile(path).toString());
}

void DRUI::btnHelpSlot()
{
    OpenHelpPage("help.html");
}

void DRUI::btnSupportSlot()
{
    OpenHelpPage("support.html");
}

void DRUI::btnAboutSlot()
{
    OpenHelpPage("about.html");
}

// --- window chrome ---------------------------------------------------------------

void DRUI::mousePressEvent(QMouseEvent* event)
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

void DRUI::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        move(event->globalPosition().toPoint() - QPoint(m_nDragX, m_nDragY));
    event->accept();
}

void DRUI::keyPressEvent(QKeyEvent* event)
{
    // A frameless window has no other way to be closed by mistake.
    if (event->key() == Qt::Key_Escape)
    {
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void DRUI::closeEvent(QCloseEvent* event)
{
    event->accept();
}
