// Page 3 from a listing's hits: the grouping by kind and extension, the
// check boxes of groups, extensions and files kept consistent, and the
// selection they make.
#include "TestWindow.h"

#include "app/CFileTableModel.h"
#include "app/CResultModel.h"

#include <QLabel>
#include <QTreeWidgetItemIterator>

#include <cstring>
#include <set>

using namespace apptest;

namespace
{
struct HIT
{
    const char* szName;
    uint64_t u64Size;
    uint32_t uEngineType;
    uint32_t uFileIndex;
    uint32_t uClusterNO;
};

void ShowHits(TestDRUI& w, const std::vector<HIT>& hits)
{
    w.m_searchResult.clear();
    for (const HIT& h : hits)
    {
        __SEARCH_FILE_INFO__ node = {};
        strncpy(node.szFileName, h.szName, sizeof(node.szFileName) - 1);
        node.u64FileSize = h.u64Size;
        node.uEngineType = h.uEngineType;
        node.uFileIndex = h.uFileIndex;
        node.uClusterNO = h.uClusterNO;
        w.m_searchResult.push_back(node);
    }
    w.InitLayout3Widget();
}

TEST(Results, HitsAreGroupedByKindAndExtension)
{
    const struct
    {
        std::vector<const char*> names;
        std::vector<std::string> tree;
    } cases[] = {
        {{"a.JPG", "b.jpg", "c.jpeg"}, {"Photo(3)", "  jpeg Files (1)", "  jpg Files (2)"}},
        // One-letter extensions and names without one are Other; rtf is an
        // archive through the office-and-archive text; an empty name is
        // not shown.
        {{"README", "x.c", "letter.rtf", "song.mp3", "clip.MOV", "notes.txt", "", "backup.tar.gz", "weird."},
         {"Music(1)", "  mp3 Files (1)", "Office(1)", "  txt Files (1)", "Video(1)", "  mov Files (1)",
          "Archive(2)", "  gz Files (1)", "  rtf Files (1)", "Other(3)", "  c Files (1)",
          "  unKnow Files (2)"}},
        // UTF-8 names keep their letters.
        {{"Größe.txt", "\xEC\x82\xAC\xEC\xA7\x84.JPG"},
         {"Photo(1)", "  jpg Files (1)", "Office(1)", "  txt Files (1)"}},
        {{}, {}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(::testing::PrintToString(c.tree));
        TestDRUI w;
        std::vector<HIT> hits;
        uint32_t index = 0;
        for (const char* name : c.names)
            hits.push_back({name, 100, 1, ++index, 0});
        ShowHits(w, hits);
        EXPECT_EQ(TreeRows(w.m_pResultTree), c.tree);
        EXPECT_FALSE(w.m_pBtnRecover->isEnabled());
        // Every named file is in the table of its extension's row, under
        // its name as found.
        std::multiset<std::string> shown, named;
        for (const char* name : c.names)
            if (*name)
                named.insert(name);
        for (QTreeWidgetItemIterator it(w.m_pResultTree); *it; ++it)
        {
            if (!(*it)->parent())
                continue;
            w.m_pResultTree->setCurrentItem(*it);
            for (int i = 0; i < w.m_pTableModel->rowCount(); ++i)
                shown.insert(w.m_pTableModel->index(i, 0).data().toString().toStdString());
        }
        EXPECT_EQ(shown, named);
    }
}

// Ticks on rows and files, and what they leave: the state of every row, the
// selection label and the Recover button.
TEST(Results, ChecksStayConsistentBetweenGroupsExtensionsAndFiles)
{
    // d.jpg comes from another engine with the record and cluster numbers
    // of a.jpg: both must be selectable at once.
    const std::vector<HIT> hits = {
        {"a.jpg", 1024, 1, 1, 5}, {"b.jpg", 2048, 1, 2, 9}, {"c.png", 3072, 1, 3, 12},
        {"d.jpg", 4096, 4, 1, 5}, {"e.txt", 10, 1, 4, 20},
    };
    const Qt::CheckState U = Qt::Unchecked, P = Qt::PartiallyChecked, C = Qt::Checked;
    struct STEP
    {
        const char* szRow;  // a tree row, or the extension row whose table holds szFile
        const char* szFile; // null: the row itself is ticked or unticked
        Qt::CheckState state;
    };
    const char* const JPG = "jpg Files (3)";
    const struct
    {
        std::vector<STEP> steps;
        // Photo(4), jpg, png, Office(1), txt
        std::vector<Qt::CheckState> states;
        const char* szLabel;
    } cases[] = {
        {{}, {U, U, U, U, U}, "Select 0 Bytes in 0 file"},
        {{{"Photo(4)", nullptr, C}}, {C, C, C, U, U}, "Select 10.00 KB in 4 files"},
        {{{"Photo(4)", nullptr, C}, {JPG, "b.jpg", U}}, {P, P, C, U, U}, "Select 8.00 KB in 3 files"},
        {{{"txt Files (1)", "e.txt", C}}, {U, U, U, C, C}, "Select 10 Bytes in 1 file"},
        {{{JPG, nullptr, C}, {"png Files (1)", nullptr, C}}, {C, C, C, U, U}, "Select 10.00 KB in 4 files"},
        {{{"Photo(4)", nullptr, C}, {JPG, nullptr, U}}, {P, U, C, U, U}, "Select 3.00 KB in 1 file"},
        {{{JPG, "a.jpg", C}, {JPG, "d.jpg", C}}, {P, P, U, U, U}, "Select 5.00 KB in 2 files"},
        {{{JPG, "a.jpg", C}, {JPG, "b.jpg", C}, {JPG, "d.jpg", C}},
         {P, C, U, U, U},
         "Select 7.00 KB in 3 files"},
        {{{"Photo(4)", nullptr, C}, {"Office(1)", nullptr, C}, {"Photo(4)", nullptr, U}},
         {U, U, U, C, C},
         "Select 10 Bytes in 1 file"},
    };
    const char* const rows[] = {"Photo(4)", JPG, "png Files (1)", "Office(1)", "txt Files (1)"};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.szLabel);
        TestDRUI w;
        ShowHits(w, hits);
        QTreeWidget* tree = w.m_pResultTree;
        for (const STEP& step : c.steps)
        {
            QTreeWidgetItem* row = Row(tree, step.szRow);
            ASSERT_NE(row, nullptr) << step.szRow;
            if (!step.szFile)
            {
                row->setCheckState(0, step.state);
                continue;
            }
            tree->setCurrentItem(row);
            int file = -1;
            for (int i = 0; i < w.m_pTableModel->rowCount(); ++i)
                if (w.m_pTableModel->index(i, 0).data().toString() == step.szFile)
                    file = i;
            ASSERT_GE(file, 0) << step.szFile;
            ASSERT_TRUE(
                w.m_pTableModel->setData(w.m_pTableModel->index(file, 0), step.state, Qt::CheckStateRole));
        }
        for (size_t i = 0; i < c.states.size(); ++i)
            EXPECT_EQ(Row(tree, rows[i])->checkState(0), c.states[i]) << rows[i];
        EXPECT_EQ(w.m_pSelectionLabel->text().toStdString(), c.szLabel);
        EXPECT_EQ(w.m_pBtnRecover->isEnabled(), w.m_pResults->SelectedCount() > 0);
        EXPECT_EQ(w.m_pResults->SelectedNodes().size(), w.m_pResults->SelectedCount());

        // The table of every row shows the files' ticks as the row says:
        // all for a ticked row, none for an unticked one.
        for (const char* r : rows)
        {
            QTreeWidgetItem* item = Row(tree, r);
            tree->setCurrentItem(item);
            int nChecked = 0;
            for (int i = 0; i < w.m_pTableModel->rowCount(); ++i)
                nChecked += w.m_pTableModel->index(i, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
            if (item->checkState(0) == Qt::Checked)
                EXPECT_EQ(nChecked, w.m_pTableModel->rowCount()) << r;
            else if (item->checkState(0) == Qt::Unchecked)
                EXPECT_EQ(nChecked, 0) << r;
            else
                EXPECT_TRUE(nChecked > 0 && nChecked < w.m_pTableModel->rowCount()) << r;
        }
        // A new page 3 starts with nothing selected.
        ShowHits(w, hits);
        EXPECT_EQ(w.m_pResults->SelectedCount(), 0u);
        EXPECT_FALSE(w.m_pBtnRecover->isEnabled());
    }
}

TEST(Results, DumpOfTheFirstBytes)
{
    std::vector<unsigned char> bytes300(300, 'x');
    bytes300[0] = 0;
    std::vector<unsigned char> lines(501, 'z');
    lines[200] = '\n';
    const struct
    {
        std::vector<unsigned char> bytes;
        std::string text;
    } cases[] = {
        {{'a', 0, 'b', '\r', '\n', 'c', 0x01, '\t'}, "a.b\nc.\t\n"},
        {{'a', '\n'}, "a\n"},
        {{0xC3, 0xA9}, "\xC3\xA9\n"}, // UTF-8 stays as it is
        // Bytes that are no UTF-8 character are points, as control bytes are:
        // a stray lead byte, an overlong form, a surrogate, a C1 control, DEL.
        {{0xFF, 'a', 0xC3, 0xC3, 0xA9, 0xE0, 0x80, 0x80, 0xED, 0xA0, 0x80, 0xC2, 0x85, 0x7F},
         ".a.\xC3\xA9.........\n"},
        {{0xE2, 0x82}, "..\n"}, // a character cut by the end of the buffer
        {bytes300, "." + std::string(255, 'x') + "\n" + std::string(44, 'x') + "\n"},
        // Lines of a text are kept whole; the count starts at each line end.
        {lines, std::string(200, 'z') + "\n" + std::string(256, 'z') + "\n" + std::string(44, 'z') + "\n"},
        {std::vector<unsigned char>(256, 'y'), std::string(256, 'y') + "\n"},
        {{}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DRUI::MakeDumpText(c.bytes.data(), int(c.bytes.size())).toStdString(), c.text);
}
} // namespace
