// Reads FAT entries through one window over the first FAT and follows
// cluster chains by the rules the FAT engines share. Damaged tables are the
// rule on recovered media, so every chain it follows ends: at an end mark, at
// the end of the volume, or at a cluster the same chain met before.
#pragma once

#include "engines/fat/FatLayout.h"

#include <cstdint>
#include <map>
#include <vector>

class CDiskReader;

namespace tessaroo
{
// The clusters one chain has met, kept as runs so that a file written in
// one piece costs one entry however long it is.
class CClusterRunSet
{
  public:
    bool Contains(uint32_t c) const;
    void Add(uint32_t c);
    void Clear() { m_runs.clear(); }
    size_t RunCount() const { return m_runs.size(); }

  private:
    std::map<uint32_t, uint32_t> m_runs; // first cluster -> last cluster, inclusive
};

class CFatChainWalker
{
  public:
    CFatChainWalker();

    // Binds the walker to an open reader and a volume: g its geometry,
    // volumeStart512 and volumeEnd512 its first and first-beyond absolute
    // 512-byte sectors. Allocates the window (the FAT's size, at most
    // FAT_WINDOW_BYTES) and fills it from the FAT's start; without memory for
    // it every chain is taken as contiguous. Returns the status of the first
    // load (0, a read error, 30).
    unsigned int Init(CDiskReader* reader, const FatGeometry& g, uint64_t volumeStart512,
                      uint64_t volumeEnd512);

    bool HasWindow() const { return !m_window.empty(); }
    const FatGeometry& Geometry() const { return m_geo; }
    // FAT-relative byte offset at which the window starts, and its length.
    uint64_t WindowStart() const { return m_u64WindowStart; }
    uint32_t WindowLength() const { return m_nWindowLen; }

    // The FAT entry of cluster: 12, 16 or 32 bits as the volume stores them
    // (FAT32 unmasked). Without a window, cluster + 1. 87 for a cluster the
    // FAT has no entry for; otherwise 0, a read error, or 30. An entry
    // outside the window moves the window there: for walks across the table.
    unsigned int GetEntry(uint32_t cluster, uint32_t& value);

    // The next cluster of a chain by the table alone: a used entry is
    // followed (masked), an end mark gives 0; a free entry continues in the
    // adjacent cluster when that one is free too (a deleted file is taken to
    // go on there) and gives 0 when it is in use. linked tells whether the
    // step followed a used entry rather than that guess.
    unsigned int FindNext(uint32_t cluster, uint32_t& next, bool& linked);

    // The next step of a folder's chain: FindNext, ending (next = 0) at a
    // cluster outside the data area or one the chain met before.
    unsigned int NextFolderCluster(uint32_t cluster, CClusterRunSet& met, uint32_t& next, bool& linked);

    // The next cluster of a file's data. A used link to a data cluster not
    // yet met is followed; otherwise (a free entry, an end mark, a bad or
    // stray link, a loop) the data goes on in the next cluster after this
    // one that the table marks free and the file has not met, the way a
    // deleted file that was written around live files is laid out. next = 0
    // at the end of the volume.
    unsigned int NextFileCluster(uint32_t cluster, CClusterRunSet& met, uint32_t& next);

    // First cluster after `after` whose entry is free and that met does not
    // hold (met may be null); 0 when the volume ends first.
    unsigned int NextFreeCluster(uint32_t after, const CClusterRunSet* met, uint32_t& next);

    // True for an entry value that ends a chain: an end mark or a bad cluster.
    bool IsEndOfChain(uint32_t value) const;

  private:
    // FAT sectors kept for chain steps outside the window.
    static constexpr uint32_t SECTOR_SLOTS = 64;

    unsigned int LoadWindow(uint64_t byteOffset);
    // GetEntry's work. A chain step (moveWindow false) that falls outside
    // the window reads the one FAT sector holding the entry instead of a
    // whole window: a chain that hops between distant parts of a large FAT
    // would otherwise read the window's 16 MiB at every hop.
    unsigned int ReadEntry(uint32_t cluster, uint32_t& value, bool moveWindow);
    // One byte of the FAT at byte offset off, through the sector slots.
    unsigned int FatByte(uint64_t off, uint8_t& byte);

    CDiskReader* m_pReader;
    FatGeometry m_geo;
    uint64_t m_u64VolumeStart;
    uint64_t m_u64VolumeEnd;
    uint64_t m_u64FatBytes;
    std::vector<uint8_t> m_window;
    uint64_t m_u64WindowStart;
    uint32_t m_nWindowLen; // bytes of the window that hold FAT data
    // Slot i holds FAT sector m_slotSector[i] (bytes that arrived: m_slotLen[i]).
    std::vector<uint8_t> m_slots;
    uint64_t m_slotSector[SECTOR_SLOTS];
    uint32_t m_slotLen[SECTOR_SLOTS];
};
} // namespace tessaroo
