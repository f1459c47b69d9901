#include "engines/fat/CFatChainWalker.h"

#include "core/ByteReader.h"
#include "core/CDiskReader.h"
#include "core/Status.h"

#include <algorithm>
#include <new>

namespace tessaroo
{
bool CClusterRunSet::Contains(uint32_t c) const
{
    auto it = m_runs.upper_bound(c);
    if (it == m_runs.begin())
        return false;
    --it;
    return c <= it->second;
}

void CClusterRunSet::Add(uint32_t c)
{
    if (Contains(c))
        return;
    auto next = m_runs.upper_bound(c);
    if (next != m_runs.begin())
    {
        auto prev = std::prev(next);
        if (prev->second + 1 == c)
        {
            prev->second = c;
            if (next != m_runs.end() && next->first == c + 1)
            {
                prev->second = next->second;
                m_runs.erase(next);
            }
            return;
        }
    }
    if (next != m_runs.end() && next->first == c + 1)
    {
        const uint32_t last = next->second;
        m_runs.erase(next);
        m_runs.emplace(c, last);
        return;
    }
    m_runs.emplace(c, c);
}

CFatChainWalker::CFatChainWalker()
    : m_pReader(nullptr), m_u64VolumeStart(0), m_u64VolumeEnd(0), m_u64FatBytes(0), m_u64WindowStart(0),
      m_nWindowLen(0), m_slotSector{}, m_slotLen{}
{
}

unsigned int CFatChainWalker::Init(CDiskReader* reader, const FatGeometry& g, uint64_t volumeStart512,
                                   uint64_t volumeEnd512)
{
    m_pReader = reader;
    m_geo = g;
    m_u64VolumeStart = volumeStart512;
    m_u64VolumeEnd = volumeEnd512;
    m_u64FatBytes = g.sectorsPerFat * g.bytesPerSector;
    m_window.clear();
    m_nWindowLen = 0;
    m_u64WindowStart = 0;
    m_slots.clear();
    for (uint32_t i = 0; i < SECTOR_SLOTS; ++i)
        m_slotLen[i] = 0;
    const uint64_t size = std::min<uint64_t>(m_u64FatBytes, FAT_WINDOW_BYTES);
    try
    {
        m_window.resize(size_t(size));
    }
    catch (const std::bad_alloc&)
    {
        m_window.clear();
        return STATUS_SUCCESS;
    }
    return LoadWindow(0);
}

unsigned int CFatChainWalker::LoadWindow(uint64_t byteOffset)
{
    const uint32_t bps = m_geo.bytesPerSector;
    const uint64_t firstSector = byteOffset / bps;
    const uint64_t fatSectors = m_geo.sectorsPerFat;
    m_nWindowLen = 0;
    m_u64WindowStart = firstSector * bps;
    if (!m_pReader || firstSector >= fatSectors)
        return STATUS_INVALID_PARAMETER;
    uint64_t count = std::min<uint64_t>(m_window.size() / bps, fatSectors - firstSector);
    const uint64_t abs = m_u64VolumeStart + (m_geo.reservedSectors + firstSector) * m_geo.unitsPerSector;
    if (abs >= m_u64VolumeEnd)
        return STATUS_READ_FAULT;
    uint64_t units = std::min<uint64_t>(count * m_geo.unitsPerSector, m_u64VolumeEnd - abs);
    unsigned int got = 0;
    unsigned int st = m_pReader->ReadData(m_window.data(), int(units), (long long)abs, 512, &got);
    if (st == STATUS_READ_FAULT && got > 0)
        st = STATUS_SUCCESS; // a FAT cut short by the device end still serves what arrived
    else if (st == STATUS_SUCCESS)
        got = unsigned(units);
    if (st != STATUS_SUCCESS)
        return st;
    if (got == 0)
        return STATUS_READ_FAULT;
    m_nWindowLen = got * 512u;
    return STATUS_SUCCESS;
}

unsigned int CFatChainWalker::FatByte(uint64_t off, uint8_t& byte)
{
    const uint32_t bps = m_geo.bytesPerSector;
    if (m_slots.empty())
    {
        try
        {
            m_slots.resize(size_t(SECTOR_SLOTS) * bps);
        }
        catch (const std::bad_alloc&)
        {
            return STATUS_NOT_ENOUGH_MEMORY;
        }
    }
    const uint64_t sector = off / bps;
    const uint32_t slot = uint32_t(sector % SECTOR_SLOTS);
    uint8_t* data = m_slots.data() + size_t(slot) * bps;
    if (m_slotLen[slot] == 0 || m_slotSector[slot] != sector)
    {
        m_slotLen[slot] = 0;
        const uint64_t abs = m_u64VolumeStart + (m_geo.reservedSectors + sector) * m_geo.unitsPerSector;
        if (!m_pReader || abs >= m_u64VolumeEnd)
            return STATUS_READ_FAULT;
        const uint64_t units = std::min<uint64_t>(m_geo.unitsPerSector, m_u64VolumeEnd - abs);
        unsigned int got = 0;
        unsigned int st = m_pReader->ReadData(data, int(units), (long long)abs, 512, &got);
        if (st == STATUS_SUCCESS)
            got = unsigned(units);
        else if (st != STATUS_READ_FAULT || got == 0)
            return st == STATUS_SUCCESS ? STATUS_READ_FAULT : st;
        m_slotSector[slot] = sector;
        m_slotLen[slot] = got * 512u;
    }
    const uint32_t pos = uint32_t(off % bps);
    if (pos >= m_slotLen[slot])
        return STATUS_READ_FAULT;
    byte = data[pos];
    return STATUS_SUCCESS;
}

unsigned int CFatChainWalker::GetEntry(uint32_t cluster, uint32_t& value)
{
    return ReadEntry(cluster, value, true);
}

unsigned int CFatChainWalker::ReadEntry(uint32_t cluster, uint32_t& value, bool moveWindow)
{
    if (m_window.empty())
    {
        value = cluster + 1;
        return STATUS_SUCCESS;
    }
    if (cluster >= m_geo.fatEntryCapacity)
        return STATUS_INVALID_PARAMETER;
    uint64_t off = 0;
    uint32_t width = 0;
    switch (m_geo.kind)
    {
    case FatKind::Fat12:
        off = uint64_t(cluster) + cluster / 2;
        width = 2;
        break;
    case FatKind::Fat16:
        off = uint64_t(cluster) * 2;
        width = 2;
        break;
    case FatKind::Fat32:
        off = uint64_t(cluster) * 4;
        width = 4;
        break;
    }
    if (off > m_u64FatBytes || width > m_u64FatBytes - off)
        return STATUS_INVALID_PARAMETER;
    auto inWindow = [&]
    {
        return off >= m_u64WindowStart && off - m_u64WindowStart <= m_nWindowLen &&
               width <= m_nWindowLen - (off - m_u64WindowStart);
    };
    uint8_t bytes[4] = {0, 0, 0, 0};
    if (!inWindow() && !moveWindow)
    {
        // A FAT12 entry can straddle two sectors: byte by byte.
        for (uint32_t k = 0; k < width; ++k)
        {
            unsigned int st = FatByte(off + k, bytes[k]);
            if (st != STATUS_SUCCESS)
                return st;
        }
    }
    else
    {
        if (!inWindow())
        {
            unsigned int st = LoadWindow(off);
            if (st != STATUS_SUCCESS)
                return st;
            if (!inWindow())
                return STATUS_READ_FAULT;
        }
        for (uint32_t k = 0; k < width; ++k)
            bytes[k] = m_window[size_t(off - m_u64WindowStart) + k];
    }
    ByteReader r(bytes, width);
    if (m_geo.kind == FatKind::Fat32)
        value = r.U32(0);
    else if (m_geo.kind == FatKind::Fat16)
        value = r.U16(0);
    else
    {
        // Two 12-bit entries share three bytes: an odd cluster takes the high
        // twelve bits of the pair, an even one the low twelve.
        const uint16_t pair = r.U16(0);
        value = (cluster & 1) ? uint32_t(pair >> 4) : uint32_t(pair & FAT12_ENTRY_MASK);
    }
    return STATUS_SUCCESS;
}

bool CFatChainWalker::IsEndOfChain(uint32_t value) const
{
    return (value & m_geo.EntryMask()) >= m_geo.BadCluster();
}

unsigned int CFatChainWalker::FindNext(uint32_t cluster, uint32_t& next, bool& linked)
{
    linked = false;
    uint32_t v = 0;
    unsigned int st = ReadEntry(cluster, v, false);
    if (st != STATUS_SUCCESS)
        return st;
    if (v != 0)
    {
        linked = true;
        next = IsEndOfChain(v) ? 0 : (v & m_geo.EntryMask());
        return STATUS_SUCCESS;
    }
    uint32_t neighbour = 0;
    st = ReadEntry(cluster + 1, neighbour, false);
    if (st == STATUS_INVALID_PARAMETER)
    {
        next = 0; // the table ends here
        return STATUS_SUCCESS;
    }
    if (st != STATUS_SUCCESS)
        return st;
    next = neighbour == 0 ? cluster + 1 : 0;
    return STATUS_SUCCESS;
}

unsigned int CFatChainWalker::NextFolderCluster(uint32_t cluster, CClusterRunSet& met, uint32_t& next,
                                                bool& linked)
{
    met.Add(cluster);
    unsigned int st = FindNext(cluster, next, linked);
    if (st != STATUS_SUCCESS)
    {
        next = 0;
        return st;
    }
    if (next == cluster || !m_geo.IsDataCluster(next) || met.Contains(next))
        next = 0;
    return STATUS_SUCCESS;
}

unsigned int CFatChainWalker::NextFreeCluster(uint32_t after, const CClusterRunSet* met, uint32_t& next)
{
    next = 0;
    const uint64_t end = uint64_t(m_geo.clusterCount) + FAT_FIRST_DATA_CLUSTER;
    for (uint64_t c = uint64_t(after) + 1; c < end; ++c)
    {
        if (c < FAT_FIRST_DATA_CLUSTER)
            continue;
        uint32_t v = 0;
        unsigned int st = GetEntry(uint32_t(c), v);
        if (st == STATUS_INVALID_PARAMETER)
            return STATUS_SUCCESS; // beyond the table: nothing more is known free
        if (st != STATUS_SUCCESS)
            return st;
        if (v == 0 && !(met && met->Contains(uint32_t(c))))
        {
            next = uint32_t(c);
            return STATUS_SUCCESS;
        }
    }
    return STATUS_SUCCESS;
}

unsigned int CFatChainWalker::NextFileCluster(uint32_t cluster, CClusterRunSet& met, uint32_t& next)
{
    met.Add(cluster);
    uint32_t v = 0;
    unsigned int st = ReadEntry(cluster, v, false);
    if (st != STATUS_SUCCESS && st != STATUS_INVALID_PARAMETER)
        return st;
    if (st == STATUS_SUCCESS && v != 0 && !IsEndOfChain(v))
    {
        const uint32_t link = v & m_geo.EntryMask();
        if (m_geo.IsDataCluster(link) && !met.Contains(link))
        {
            next = link;
            return STATUS_SUCCESS;
        }
    }
    return NextFreeCluster(cluster, &met, next);
}
} // namespace tessaroo
