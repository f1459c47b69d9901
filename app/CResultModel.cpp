#include "app/CResultModel.h"

#include "core/Portability.h"
#include "recovery/KindPatterns.h"

#include <cstring>
#include <limits>

namespace
{
// Substring search of ".ext" in a kind text: how the listing matches kinds,
// so a file lands in the group its kind was listed for. A one-letter
// extension would match half of every text and stays in Other.
bool InKindText(const char* szText, const std::string& pattern)
{
    return pattern.size() >= 3 && strstr(szText, pattern.c_str()) != nullptr;
}

std::string LowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

// Extensions drawn with an icon of their own (65 names, bar-separated).
const char* const ICON_NAMES =
    "|7z|accdb|ace|acid|aiff|asf|at3|au|avi|bmp|cab|chm|divx|doc|dss|dv|epson|exe|gif|"
    "gzip|html|ico|indd|jar|jpg|jpeg|mamiya|mid|minolta|mov|mp3|mp4|mpeg|music|ods|"
    "ogg|one|other|pdf|png|ppt|psd|psp|rar|real|rmvb|rps|thm|tif|tiff|tod|txt|vob|wma|"
    "wmv|wps|xls|xml|zip|audio_default|default|image|office_default|photo_default|"
    "video_default|";
} // namespace

QString NodeNameToDisplay(const _FILE_NODE_& node)
{
    return QString::fromUtf8(node.szFileName, qsizetype(strnlen(node.szFileName, sizeof(node.szFileName))));
}

namespace
{
// The row of the kind table whose texts hold pattern (a point and a
// lower-case extension), tested in table order; inSecondText tells whether
// only the row's second text holds it. -1 for none.
int KindRowOf(const std::string& pattern, bool& inSecondText)
{
    inSecondText = false;
    int row = 0;
    for (const tessaroo::FILE_KIND_ROW& k : tessaroo::FILE_KIND_TABLE)
    {
        if (k.kind != tessaroo::KIND_OTHER && InKindText(k.szPatterns, pattern))
            return row;
        ++row;
    }
    row = 0;
    for (const tessaroo::FILE_KIND_ROW& k : tessaroo::FILE_KIND_TABLE)
    {
        if (k.szMorePatterns && InKindText(k.szMorePatterns, pattern))
        {
            inSecondText = true;
            return row;
        }
        ++row;
    }
    return -1;
}
} // namespace

QString GetExtendNameIcon(const QString& ext)
{
    // The icon of each kind in the order of the kind table; office formats
    // that travel as containers (the archive kind's second text) look like
    // documents.
    static const char* const KIND_ICONS[] = {"image",         "audio_default", "office_default",
                                             "video_default", "zip",           "other"};
    static_assert(sizeof(KIND_ICONS) / sizeof(KIND_ICONS[0]) == CResultModel::GROUP_COUNT, "one icon a kind");
    const std::string lower = LowerAscii(ext.toStdString());
    const std::string pattern = (!lower.empty() && lower[0] == '.') ? lower : "." + lower;
    bool second = false;
    const int row = KindRowOf(pattern, second);
    QString icon =
        QString(":/image/FileIcon/%1.png")
            .arg(second ? "office_default" : KIND_ICONS[row < 0 ? CResultModel::GROUP_OTHER : row]);
    if (lower.empty() || lower.find('|') != std::string::npos ||
        !strstr(ICON_NAMES, ("|" + lower + "|").c_str()))
        return icon;
    if (lower == "jpeg")
        return ":/image/FileIcon/jpg.png";
    if (lower == "tiff")
        return ":/image/FileIcon/tif.png";
    return QString(":/image/FileIcon/%1.png").arg(QString::fromStdString(lower));
}

const char* CResultModel::GroupTitle(int group)
{
    static const char* const TITLES[GROUP_COUNT] = {"Photo", "Music", "Office", "Video", "Archive", "Other"};
    return (group >= 0 && group < GROUP_COUNT) ? TITLES[group] : "Other";
}

static_assert(sizeof(tessaroo::FILE_KIND_TABLE) / sizeof(tessaroo::FILE_KIND_TABLE[0]) ==
                      CResultModel::GROUP_COUNT &&
                  tessaroo::FILE_KIND_TABLE[CResultModel::GROUP_OFFICE].kind == tessaroo::KIND_DOCUMENT &&
                  tessaroo::FILE_KIND_TABLE[CResultModel::GROUP_VIDEO].kind == tessaroo::KIND_VIDEO &&
                  tessaroo::FILE_KIND_TABLE[CResultModel::GROUP_OTHER].kind == tessaroo::KIND_OTHER,
              "the groups are the rows of the kind table");

int CResultModel::GroupOfExtension(const std::string& ext)
{
    // The groups follow the rows of the kind table.
    bool second = false;
    const int row = KindRowOf("." + LowerAscii(ext), second);
    return row < 0 ? GROUP_OTHER : row;
}

std::string CResultModel::PatternListForKinds(const bool checked[6])
{
    static const unsigned KINDS[6] = {tessaroo::KIND_PHOTO,    tessaroo::KIND_MUSIC,   tessaroo::KIND_VIDEO,
                                      tessaroo::KIND_DOCUMENT, tessaroo::KIND_ARCHIVE, tessaroo::KIND_OTHER};
    unsigned kinds = 0;
    for (int i = 0; i < 6; ++i)
        kinds |= checked[i] ? KINDS[i] : 0u;
    return tessaroo::BuildPatternList(kinds);
}

void CResultModel::SetHits(std::vector<__SEARCH_FILE_INFO__> hits)
{
    m_hits = std::move(hits);
    m_hitGroup.assign(m_hits.size(), -1);
    m_hitEntry.assign(m_hits.size(), nullptr);
    m_selection.clear();
    for (int g = 0; g < GROUP_COUNT; ++g)
    {
        m_groups[g].clear();
        m_groupCounts[g] = 0;
    }
    for (size_t i = 0; i < m_hits.size(); ++i)
    {
        const std::string name(m_hits[i].szFileName, strnlen(m_hits[i].szFileName, FILE_NAME_SIZE));
        if (name.empty())
            continue;
        // The extension is what follows the last point; "x." has none.
        const size_t dot = name.rfind('.');
        const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
        const int group = ext.empty() ? GROUP_OTHER : GroupOfExtension(ext);
        auto entry =
            m_groups[group]
                .emplace(ext.empty() ? std::string(NO_EXTENSION_KEY) : LowerAscii(ext), std::vector<size_t>())
                .first;
        entry->second.push_back(i);
        m_hitGroup[i] = group;
        m_hitEntry[i] = &*entry;
        ++m_groupCounts[group];
    }
}

const std::string& CResultModel::KeyOf(size_t index) const
{
    static const std::string NONE;
    return m_hitEntry[index] ? m_hitEntry[index]->first : NONE;
}

std::vector<size_t> CResultModel::FilesOfGroup(int group) const
{
    std::vector<size_t> files;
    if (group < 0 || group >= GROUP_COUNT)
        return files;
    files.reserve(m_groupCounts[group]);
    for (const auto& entry : m_groups[group])
        files.insert(files.end(), entry.second.begin(), entry.second.end());
    return files;
}

CResultModel::SELECTION_KEY CResultModel::SelectionKeyOf(const _FILE_NODE_& node)
{
    return SELECTION_KEY(node.uEngineType, node.uFileIndex, node.uClusterNO);
}

void CResultModel::Select(size_t index, bool bSelected)
{
    if (index >= m_hits.size())
        return;
    if (bSelected)
        m_selection[SelectionKeyOf(m_hits[index])] = index;
    else
        m_selection.erase(SelectionKeyOf(m_hits[index]));
}

bool CResultModel::IsSelected(size_t index) const
{
    return index < m_hits.size() && m_selection.count(SelectionKeyOf(m_hits[index])) != 0;
}

uint64_t CResultModel::SelectedBytes() const
{
    uint64_t total = 0;
    for (const auto& entry : m_selection)
    {
        const uint64_t size = m_hits[entry.second].u64FileSize;
        total = size > std::numeric_limits<uint64_t>::max() - total ? std::numeric_limits<uint64_t>::max()
                                                                    : total + size;
    }
    return total;
}

std::vector<_FILE_NODE_> CResultModel::SelectedNodes() const
{
    std::vector<_FILE_NODE_> nodes;
    nodes.reserve(m_selection.size());
    for (const auto& entry : m_selection)
        nodes.push_back(m_hits[entry.second]);
    return nodes;
}

QString CResultModel::SelectionText() const
{
    const uint64_t bytes = SelectedBytes();
    const long long shown = bytes > uint64_t(std::numeric_limits<long long>::max())
                                ? std::numeric_limits<long long>::max()
                                : (long long)bytes;
    const QString size = QString::fromStdString(GetFileSizeString(shown));
    const int count = int(m_selection.size());
    return (count < 2 ? QString("Select %1 in %2 file") : QString("Select %1 in %2 files"))
        .arg(size)
        .arg(count);
}
