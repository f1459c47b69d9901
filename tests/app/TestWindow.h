// The main window as the tests drive it: made and set up as the program
// does, its state opened, its outside world (engine, folder dialog,
// message box) replaceable; a way to answer the modal dialogs it runs; and
// the results tree as text.
#pragma once

#include "AppTestSupport.h"

#include "app/DRUI.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QStackedLayout>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace apptest
{
struct AppFirst
{
    AppFirst() { App(); }
};

class TestDRUI : private AppFirst, public DRUI
{
  public:
    TestDRUI() { Init(); }
    using DRUI::m_partitionItem;
    using DRUI::m_pBtnRecover;
    using DRUI::m_pBtnScan;
    using DRUI::m_pBtnStart;
    using DRUI::m_pCheckAll;
    using DRUI::m_pCheckKind;
    using DRUI::m_pDiskTree;
    using DRUI::m_pEngine;
    using DRUI::m_pPage3;
    using DRUI::m_pPreviewArea;
    using DRUI::m_pPreviewLabel;
    using DRUI::m_pPreviewText;
    using DRUI::m_pResults;
    using DRUI::m_pResultTree;
    using DRUI::m_pSelectionLabel;
    using DRUI::m_pStackedLayout;
    using DRUI::m_pTableModel;
    using DRUI::m_searchResult;

    // When set, makes the scan's engine instead of the factory.
    std::function<IFileRecoveryParse*()> engineMaker;
    // What the folder dialog answers.
    QString destination;
    // What the window told the user.
    QStringList messages;

    int Page() { return m_pStackedLayout->currentIndex(); }
    void ShowOnPage2()
    {
        show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(this));
        m_pBtnStart->click();
    }

  protected:
    IFileRecoveryParse* CreateEngine(const _PARTITION_ITEM_& partition) override
    {
        return engineMaker ? engineMaker() : DRUI::CreateEngine(partition);
    }
    QString AskDestinationFolder() override { return destination; }
    void ShowMessage(const QString& message) override { messages << message; }
};

// Runs action once, on the topmost modal dialog, as soon as it is a T for
// which ready holds; gives up with a failure after about 20 seconds.
template <class T> void WhenModal(std::function<bool(T*)> ready, std::function<void(T*)> action)
{
    QTimer* timer = new QTimer(App());
    timer->setInterval(10);
    auto ticks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout,
                     [=]
                     {
                         T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
                         const bool bFound = dialog && dialog->isVisible() && ready(dialog);
                         if (!bFound && ++*ticks <= 2000)
                             return;
                         timer->stop();
                         timer->deleteLater();
                         if (bFound)
                             action(dialog);
                         else
                             ADD_FAILURE() << "no such modal dialog came up";
                     });
    timer->start();
}

// Processes events until done holds, for up to about 20 seconds.
inline bool WaitUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 2000 && !done(); ++i)
        QTest::qWait(10);
    return done();
}

// The results tree as text: group rows, and their extension rows indented.
inline std::vector<std::string> TreeRows(QTreeWidget* tree)
{
    std::vector<std::string> rows;
    for (int g = 0; g < tree->topLevelItemCount(); ++g)
    {
        rows.push_back(tree->topLevelItem(g)->text(0).toStdString());
        for (int e = 0; e < tree->topLevelItem(g)->childCount(); ++e)
            rows.push_back("  " + tree->topLevelItem(g)->child(e)->text(0).toStdString());
    }
    return rows;
}

inline QTreeWidgetItem* Row(QTreeWidget* tree, const std::string& text)
{
    const QList<QTreeWidgetItem*> found =
        tree->findItems(QString::fromStdString(text), Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}
} // namespace apptest
