// The main window as the tests drive it: made and set up as the program
// does, its state opened, its outside world (engine, folder dialog)
// replaceable; and a way to answer the modal dialogs it runs.
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
    using DRUI::m_pEngine;
    using DRUI::m_pFileTable;
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

    QCheckBox* Kind(int i) { return findChild<QCheckBox*>(KIND_NAMES[i]); }
    QCheckBox* All() { return findChild<QCheckBox*>("checkAll"); }
    QPushButton* Button(const char* name) { return findChild<QPushButton*>(name); }
    QTreeWidget* Tree() { return findChild<QTreeWidget*>("diskTree"); }
    int Page() { return m_pStackedLayout->currentIndex(); }
    void ShowOnPage2()
    {
        show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(this));
        Button("startButton")->click();
    }

    static constexpr const char* KIND_NAMES[KIND_COUNT] = {"checkPhoto",    "checkMusic",   "checkVideo",
                                                           "checkDocument", "checkArchive", "checkOther"};

  protected:
    IFileRecoveryParse* CreateEngine(const _PARTITION_ITEM_& partition) override
    {
        return engineMaker ? engineMaker() : DRUI::CreateEngine(partition);
    }
    QString AskDestinationFolder() override { return destination; }
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
                         if (dialog && dialog->isVisible() && ready(dialog))
                         {
                             timer->stop();
                             timer->deleteLater();
                             action(dialog);
                         }
                         else if (++*ticks > 2000)
                         {
                             timer->stop();
                             timer->deleteLater();
                             ADD_FAILURE() << "no such modal dialog came up";
                         }
                     });
    timer->start();
}

template <class T> void WhenModal(std::function<void(T*)> action)
{
    WhenModal<T>([](T*) { return true; }, action);
}

// Processes events until done holds, for up to about 20 seconds.
inline bool WaitUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 2000 && !done(); ++i)
        QTest::qWait(10);
    return done();
}
} // namespace apptest
