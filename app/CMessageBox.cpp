#include "app/CMessageBox.h"

#include "app/AppStyle.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{
namespace style = tessaroo::app::style;

constexpr int WIDTH = 400;
constexpr int HEIGHT = 150;
} // namespace

CMessageBox::CMessageBox(QDialog* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), m_nDragX(0), m_nDragY(0), m_pText(nullptr), m_nRet(0)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowTitle("Tessaroo");
    setFixedSize(WIDTH, HEIGHT);
}

void CMessageBox::InitQuestionDialog(const QString& strQuestion)
{
    Build("  Question", strQuestion, true);
}

void CMessageBox::InitMessageDialog(const QString& strMessage)
{
    Build("  Tessaroo", strMessage, false);
}

void CMessageBox::Build(const char* szTitle, const QString& strText, bool bQuestion)
{
    setObjectName("messageBox");
    setStyleSheet(QString::fromLatin1(style::DIALOG_FRAME).arg("messageBox"));
    QVBoxLayout* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    QLabel* title = new QLabel(QString::fromLatin1(szTitle), this);
    title->setObjectName("messageTitle");
    title->setStyleSheet(QString::fromLatin1(style::DIALOG_TITLE));
    title->setFixedHeight(32);
    title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    outer->addWidget(title);

    QHBoxLayout* body = new QHBoxLayout;
    body->setContentsMargins(18, 8, 18, 8);
    body->setSpacing(14);
    QLabel* icon = new QLabel(this);
    icon->setPixmap(
        QPixmap(":/image/question.png").scaled(40, 40, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    icon->setFixedSize(40, 40);
    body->addWidget(icon, 0, Qt::AlignVCenter);
    m_pText = new QLabel(strText, this);
    m_pText->setObjectName("messageText");
    m_pText->setWordWrap(true);
    m_pText->setStyleSheet(QString::fromLatin1(style::DIALOG_TEXT));
    body->addWidget(m_pText, 1);
    outer->addLayout(body, 1);

    QWidget* strip = new QWidget(this);
    strip->setObjectName("buttonStrip");
    strip->setAttribute(Qt::WA_StyledBackground, true);
    strip->setStyleSheet("#buttonStrip { background-color: rgb(220, 220, 220); }");
    strip->setFixedHeight(46);
    QHBoxLayout* buttons = new QHBoxLayout(strip);
    buttons->setContentsMargins(12, 7, 12, 7);
    buttons->setSpacing(12);
    buttons->addStretch(1);
    auto addButton = [&](const char* szText, const char* szName)
    {
        QPushButton* button = new QPushButton(QString::fromLatin1(szText), strip);
        button->setObjectName(QString::fromLatin1(szName));
        button->setFixedSize(90, 32);
        button->setCursor(Qt::PointingHandCursor);
        button->setStyleSheet(QString::fromLatin1(style::BUTTON_ENABLED));
        buttons->addWidget(button);
        return button;
    };
    if (bQuestion)
    {
        connect(addButton("No", "noButton"), &QPushButton::clicked, this, &CMessageBox::btnSlotNO);
        connect(addButton("Yes", "yesButton"), &QPushButton::clicked, this, &CMessageBox::btnSlotOK);
    }
    else
    {
        QPushButton* ok = addButton("OK", "okButton");
        ok->setDefault(true);
        connect(ok, &QPushButton::clicked, this, &CMessageBox::btnSlotNO);
    }
    outer->addWidget(strip);
}

void CMessageBox::btnSlotOK()
{
    m_nRet = 1;
    close();
}

void CMessageBox::btnSlotNO()
{
    m_nRet = 0;
    close();
}

void CMessageBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
    {
        const QPoint offset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        m_nDragX = offset.x();
        m_nDragY = offset.y();
    }
    else if (event->button() == Qt::RightButton)
    {
        btnSlotNO();
    }
    event->accept();
}

void CMessageBox::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        move(event->globalPosition().toPoint() - QPoint(m_nDragX, m_nDragY));
    event->accept();
}

void CMessageBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
    {
        btnSlotNO();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
