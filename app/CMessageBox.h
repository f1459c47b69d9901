// The application's own small modal dialog, in the frameless style of its
// windows: a yes/no question (the cancel question of the progress dialog)
// or a message with one button.
#pragma once

#include <QDialog>

class QLabel;

class CMessageBox : public QDialog
{
    Q_OBJECT

  public:
    explicit CMessageBox(QDialog* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    // Builds a question with the buttons "No" and "Yes".
    void InitQuestionDialog(const QString& strQuestion);
    // Builds a message with the button "OK".
    void InitMessageDialog(const QString& strMessage);
    // 1 when the user answered yes; 0 for no and for any other way of closing.
    int GetMessageBoxRet() const { return m_nRet; }

  public slots:
    void btnSlotOK();
    void btnSlotNO();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Build(const char* szTitle, const QString& strText, bool bQuestion);

    int m_nDragX;
    int m_nDragY;
    QLabel* m_pText;
    int m_nRet;
};
