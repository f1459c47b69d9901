// What the results page shows, kept apart from its widgets: the files the
// post-scan listing found, grouped by kind and by extension, and the files
// the user ticked for recovery. Views read from here; nothing here calls an
// engine. This is also the application's one user of the kind pattern texts
// (the listing's pattern list and the kind of an extension).
#pragma once

#include "core/FileNode.h"

#include <QIcon>
#include <QString>

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

// A node's name for display: szFileName is UTF-8, cut to its 256 bytes;
// invalid sequences show as U+FFFD.
QString NodeNameToDisplay(const _FILE_NODE_& node);

// Resource path of the icon for an extension (without its point, any case).
QString GetExtendNameIcon(const QString& ext);

class CResultModel
{
  public:
    // The groups of the results tree, in the order they are shown.
    enum GROUP
    {
        GROUP_PHOTO,
        GROUP_MUSIC,
        GROUP_OFFICE,
        GROUP_VIDEO,
        GROUP_ARCHIVE,
        GROUP_OTHER,
        GROUP_COUNT
    };
    // The key of files without an extension in the Other group.
    static constexpr const char* NO_EXTENSION_KEY = "unKnow";

    // "Photo", "Music", "Office", "Video", "Archive", "Other".
    static const char* GroupTitle(int group);
    // The group of an extension (without its point): its lower-case form
    // after a point is looked for in the kind pattern texts, in the order
    // Photo, Music, Office, Video, Archive; one letter or no match is Other.
    static int GroupOfExtension(const std::string& ext);

    // The listing's pattern list for the kinds ticked on page 1, given in
    // the order of its check boxes: Photo, Music, Video, Document, Archive,
    // Other.
    static std::string PatternListForKinds(const bool checked[6]);

    // Takes the listing's hits and groups them. Empties the selection.
    void SetHits(std::vector<__SEARCH_FILE_INFO__> hits);
    size_t HitCount() const { return m_hits.size(); }
    const __SEARCH_FILE_INFO__& Hit(size_t index) const { return m_hits[index]; }

    // Extension key (lower case, or NO_EXTENSION_KEY) -> positions of its
    // hits, in listing order.
    typedef std::map<std::string, std::vector<size_t>> GROUP_MAP;
    const GROUP_MAP& Group(int group) const { return m_groups[group]; }
    size_t GroupFileCount(int group) const { return m_groupCounts[group]; }
    // Where a hit was filed: its group (-1 for a hit without a name, which
    // is not shown) and its extension key.
    int GroupOf(size_t index) const { return m_hitGroup[index]; }
    const std::string& KeyOf(size_t index) const;
    // Every file of a group, extension by extension.
    std::vector<size_t> FilesOfGroup(int group) const;

    // The selection: files ticked for recovery. Keyed by the engine that
    // made a file and its record, so files of different engines never
    // collide.
    void Select(size_t index, bool bSelected);
    bool IsSelected(size_t index) const;
    size_t SelectedCount() const { return m_selection.size(); }
    // Sizes of the ticked files added up (held at the largest value rather
    // than wrapped: sizes come off a damaged disk).
    uint64_t SelectedBytes() const;
    // The ticked files in key order: the order they are recovered in.
    std::vector<_FILE_NODE_> SelectedNodes() const;
    // "Select %s in %d file" (fewer than two files) or "... files".
    QString SelectionText() const;

  private:
    typedef std::tuple<uint32_t, uint32_t, uint32_t> SELECTION_KEY; // engine, record, cluster
    static SELECTION_KEY SelectionKeyOf(const _FILE_NODE_& node);

    std::vector<__SEARCH_FILE_INFO__> m_hits;
    std::vector<int> m_hitGroup;
    std::vector<const GROUP_MAP::value_type*> m_hitEntry; // map entries are stable
    GROUP_MAP m_groups[GROUP_COUNT];
    size_t m_groupCounts[GROUP_COUNT] = {};
    std::map<SELECTION_KEY, size_t> m_selection;
};
