#include "core/FileIo.h"
#include "partition/CPartitionManager.h"

#include "core/ByteReader.h"
#include "core/Log.h"
#include "core/Platform.h"
#include "core/Recognisers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

using tessaroo::ByteReader;
using tessaroo::ReadFullAt;

namespace
{
// Every disk is probed with one read this long: it holds the MBR, the GPT
// header and the first 24 GPT entries, or the APM driver descriptor.
constexpr size_t TABLE_READ_SIZE = 4096;
constexpr size_t SECTOR = 512;

constexpr size_t GPT_HEADER_OFFSET = 512;
constexpr size_t GPT_ENTRIES_OFFSET = 1024; // entries are taken from fixed sector 2
constexpr size_t GPT_ENTRY_SIZE = 128;
constexpr size_t GPT_ENTRY_FIRST_LBA = 32;
constexpr size_t GPT_ENTRY_LAST_LBA = 40;
constexpr size_t GPT_ENTRY_NAME = 56;

constexpr size_t APM_MAP_OFFSET = 512; // block 1 holds the first map entry
constexpr size_t APM_ENTRY_MAP_COUNT = 4;
constexpr size_t APM_ENTRY_PHYS_START = 8;
constexpr size_t APM_ENTRY_NAME = 16;
constexpr size_t APM_ENTRY_NAME_SIZE = 32;
constexpr size_t APM_ENTRY_DATA_START = 80;
constexpr size_t APM_ENTRY_DATA_COUNT = 84;
// A map with more entries than this is not trusted: real maps hold a handful,
// and the count decides how much is read.
constexpr uint32_t APM_MAX_ENTRIES = 128;

constexpr size_t MBR_ENTRIES_OFFSET = 446;
constexpr size_t MBR_ENTRY_SIZE = 16;
constexpr size_t MBR_ENTRY_TYPE = 4;
constexpr size_t MBR_ENTRY_START = 8;
constexpr size_t MBR_ENTRY_COUNT = 12;
constexpr size_t MBR_SIGNATURE = 510;
constexpr uint16_t MBR_SIGNATURE_VALUE = 0xAA55;
constexpr uint8_t MBR_TYPE_EXTENDED_CHS = 0x05;
constexpr uint8_t MBR_TYPE_EXTENDED_LBA = 0x0F;

// Reads up to len bytes at byte offset off; a short device or a read error
// leaves the rest unread. Returns the bytes that arrived.
size_t ReadAt(int fd, uint64_t off, unsigned char* buf, size_t len)
{
    size_t got = 0;
    ReadFullAt(fd, buf, len, off, got);
    return got;
}

// Apple partition map fields are big-endian.
uint32_t BigEndian32(const ByteReader& r, size_t off)
{
    uint8_t b[4] = {0, 0, 0, 0};
    r.ReadBytes(off, b, sizeof(b));
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
}

_PARTITION_ITEM_ NewItem(uint64_t start, uint64_t end, int diskIndex, const char* diskName)
{
    _PARTITION_ITEM_ item;
    std::memset(&item, 0, sizeof(item));
    item.u64StartSector = start;
    item.u64EndSector = end;
    item.nDiskIndex = diskIndex;
    if (diskName)
    {
        // Only shown and logged, so a longer path is cut, keeping the NUL.
        std::strncpy(item.szDiskName, diskName, sizeof(item.szDiskName) - 1);
    }
    return item;
}

struct MbrEntry
{
    uint8_t uType;
    uint32_t uStart; // relative to the sector the chain rule gives
    uint32_t uCount;
};

void DecodeMbrEntries(const unsigned char* sector, MbrEntry (&entries)[4])
{
    ByteReader r(sector, SECTOR);
    for (size_t k = 0; k < 4; ++k)
    {
        const size_t e = MBR_ENTRIES_OFFSET + MBR_ENTRY_SIZE * k;
        entries[k].uType = r.U8(e + MBR_ENTRY_TYPE);
        entries[k].uStart = r.U32(e + MBR_ENTRY_START);
        entries[k].uCount = r.U32(e + MBR_ENTRY_COUNT);
    }
}
} // namespace

CPartitionManager::CPartitionManager()
    : m_nSectorSize(static_cast<int>(SECTOR)), m_nPartitionIndex(1), m_uExtendBase(0), m_nLinks(0),
      m_u64DiskSectors(0), m_vecSector(TABLE_READ_SIZE)
{
}

bool CPartitionManager::IsMBR(const char* buf, int len)
{
    uint16_t v = 0;
    return len > 0 && ByteReader(buf, static_cast<size_t>(len)).ReadU16(MBR_SIGNATURE, v) &&
           v == MBR_SIGNATURE_VALUE;
}

bool CPartitionManager::IsAPM(const char* buf, int len)
{
    return len > 0 && ByteReader(buf, static_cast<size_t>(len)).Matches(0, "ER", 2);
}

bool CPartitionManager::IsEFI(const char* buf, int len)
{
    return len > 0 && ByteReader(buf, static_cast<size_t>(len)).Matches(0, "EFI PART", 8);
}

int CPartitionManager::GetPartitionItems(std::map<int, std::vector<_PARTITION_ITEM_>>& out)
{
    out.clear();
    m_nPartitionIndex = 1;
    m_uExtendBase = 0;

    std::vector<unsigned char> buf(TABLE_READ_SIZE);
    for (int n = 0; n < tessaroo::MAX_DISK_COUNT; ++n)
    {
        const std::string path = tessaroo::GetDiskDevicePath(n);
        const int fd = tessaroo::OpenDeviceReadOnly(path.c_str());
        if (fd < 0)
            continue;

        std::fill(buf.begin(), buf.end(), 0);
        const size_t got = ReadAt(fd, 0, buf.data(), buf.size());
        // Nothing is recognised without a whole first sector.
        if (got >= SECTOR)
        {
            m_uExtendBase = 0;
            std::vector<_PARTITION_ITEM_> items;
            ReadDiskTable(fd, buf.data(), got, items, n, path.c_str());
            if (!items.empty())
                out[n] = std::move(items);
        }
        close(fd);
    }
    return 1;
}

void CPartitionManager::ReadDiskTable(int fd, const unsigned char* buf, size_t len,
                                      std::vector<_PARTITION_ITEM_>& out, int diskIndex, const char* diskName)
{
    const char* text = reinterpret_cast<const char*>(buf);
    const int n = static_cast<int>(len);
    LearnDiskSize(fd);
    // A protective MBR sits in front of every GPT, so GPT is tested first.
    if (len > GPT_HEADER_OFFSET && IsEFI(text + GPT_HEADER_OFFSET, n - static_cast<int>(GPT_HEADER_OFFSET)))
        ReadGpt(buf, len, out, diskIndex, diskName);
    else if (IsAPM(text, n))
        ReadApm(fd, buf, len, out, diskIndex, diskName);
    // A volume boot sector carries 0xAA55 too; read as an MBR its boot code
    // would become partition entries and the volume itself would be lost.
    else if (IsFat(buf) || IsNtfs(buf))
        AddWholeDisk(fd, buf, len, out, diskIndex, diskName);
    else if (IsMBR(text, n))
        GetMBRPartition(fd, 0, out, diskIndex, diskName);
}

void CPartitionManager::ReadGpt(const unsigned char* buf, size_t len, std::vector<_PARTITION_ITEM_>& out,
                                int diskIndex, const char* diskName)
{
    ByteReader r(buf, len);
    for (size_t e = GPT_ENTRIES_OFFSET; r.Fits(e, GPT_ENTRY_SIZE); e += GPT_ENTRY_SIZE)
    {
        const uint64_t first = r.U64(e + GPT_ENTRY_FIRST_LBA);
        const uint64_t last = r.U64(e + GPT_ENTRY_LAST_LBA);
        if (first == 0 || last == 0)
            break;
        // Its sector count would wrap and send a scan over the whole disk.
        if (last < first)
        {
            tessaroo::CoreLog("GPT entry %zu of %s ends before it starts; skipped\n",
                              (e - GPT_ENTRIES_OFFSET) / GPT_ENTRY_SIZE, diskName);
            continue;
        }
        _PARTITION_ITEM_ item = NewItem(first, last, diskIndex, diskName);
        if (!FitToDisk(item, diskName))
            continue;
        for (size_t i = 0; i < PARTITION_NAME_UNITS; ++i)
            item.wszPartitionName[i] = static_cast<char16_t>(r.U16(e + GPT_ENTRY_NAME + 2 * i));
        out.push_back(item);
    }
}

void CPartitionManager::ReadApm(int fd, const unsigned char* buf, size_t len,
                                std::vector<_PARTITION_ITEM_>& out, int diskIndex, const char* diskName)
{
    ByteReader head(buf, len);
    if (!head.Fits(APM_MAP_OFFSET + APM_ENTRY_MAP_COUNT, 4))
        return;
    const uint32_t count = BigEndian32(head, APM_MAP_OFFSET + APM_ENTRY_MAP_COUNT);
    if (count == 0 || count > APM_MAX_ENTRIES)
        return;

    std::vector<unsigned char> map(size_t(count) * SECTOR);
    const size_t got = ReadAt(fd, APM_MAP_OFFSET, map.data(), map.size());
    ByteReader r(map.data(), got);
    // Entries that did not fully arrive (the map runs off the device) are left out.
    for (size_t e = 0; r.Fits(e, SECTOR); e += SECTOR)
    {
        const uint32_t start =
            BigEndian32(r, e + APM_ENTRY_PHYS_START) + BigEndian32(r, e + APM_ENTRY_DATA_START);
        const uint32_t blocks = BigEndian32(r, e + APM_ENTRY_DATA_COUNT);
        if (blocks == 0)
            continue; // no data: an end before the start would wrap a later scan
        _PARTITION_ITEM_ item = NewItem(start, uint64_t(start) + blocks - 1, diskIndex, diskName);
        if (!FitToDisk(item, diskName))
            continue;
        for (size_t i = 0; i < APM_ENTRY_NAME_SIZE; ++i)
            item.wszPartitionName[i] = static_cast<char16_t>(r.U8(e + APM_ENTRY_NAME + i));
        out.push_back(item);
    }
}

void CPartitionManager::AddWholeDisk(int fd, const unsigned char* buf, size_t len,
                                     std::vector<_PARTITION_ITEM_>& out, int diskIndex, const char* diskName)
{
    uint64_t sectors = 0;
    uint64_t bytes = 0;
    if (tessaroo::GetDeviceSize(fd, bytes))
        sectors = bytes / uint64_t(m_nSectorSize);
    if (sectors == 0)
    {
        // The device would not tell its size: fall back on the volume's own.
        ByteReader r(buf, len);
        if (IsNtfs(buf))
            sectors = r.U64(40) + 1; // the backup boot sector follows the counted ones
        else
            sectors = r.U16(19) ? r.U16(19) : r.U32(32);
    }
    if (sectors == 0)
        return;
    _PARTITION_ITEM_ item = NewItem(0, sectors - 1, diskIndex, diskName);
    NameFromCounter(item);
    out.push_back(item);
}

void CPartitionManager::GetMBRPartition(int fd, unsigned int baseSector, std::vector<_PARTITION_ITEM_>& out,
                                        int diskIndex, const char* diskName)
{
    m_setVisited.clear();
    m_nLinks = 0;
    LearnDiskSize(fd);
    WalkMbr(fd, baseSector, out, diskIndex, diskName ? diskName : "");
}

void CPartitionManager::WalkMbr(int fd, unsigned int baseSector, std::vector<_PARTITION_ITEM_>& out,
                                int diskIndex, const char* diskName)
{
    m_setVisited.insert(baseSector);

    // The entries are decoded out of the shared buffer before any link is
    // followed, so a chain's depth costs no buffer per level.
    if (ReadAt(fd, uint64_t(baseSector) * uint64_t(m_nSectorSize), m_vecSector.data(), m_vecSector.size()) <
        SECTOR)
        return;
    MbrEntry entries[4];
    DecodeMbrEntries(m_vecSector.data(), entries);

    for (const MbrEntry& e : entries)
    {
        if (e.uType == MBR_TYPE_EXTENDED_CHS || e.uType == MBR_TYPE_EXTENDED_LBA)
        {
            // Links inside a chain count from its first EBR; an extended
            // entry of the MBR itself is absolute and starts a chain of its
            // own (a second one must not be offset by the first).
            if (baseSector == 0)
                m_uExtendBase = 0;
            else if (m_uExtendBase == 0)
                m_uExtendBase = baseSector;
            const unsigned int next = e.uStart + m_uExtendBase;
            if (m_setVisited.count(next))
            {
                tessaroo::CoreLog("EBR chain of %s links back to sector %u; link not followed\n", diskName,
                                  next);
                continue;
            }
            if (m_nLinks >= MAX_EBR_LINKS)
            {
                tessaroo::CoreLog("EBR chain of %s exceeds %d links; rest not read\n", diskName,
                                  MAX_EBR_LINKS);
                continue;
            }
            ++m_nLinks;
            WalkMbr(fd, next, out, diskIndex, diskName);
            continue;
        }
        if (e.uType == 0 && e.uStart == 0 && e.uCount == 0)
            break;
        if (e.uCount == 0)
            continue; // an empty extent: its end would lie before its start
        const unsigned int start = e.uStart + baseSector; // MBR sectors are 32-bit
        _PARTITION_ITEM_ item = NewItem(start, uint64_t(start) + e.uCount - 1, diskIndex, diskName);
        if (!FitToDisk(item, diskName))
            continue;
        NameFromCounter(item);
        out.push_back(item);
    }
}

void CPartitionManager::LearnDiskSize(int fd)
{
    uint64_t bytes = 0;
    m_u64DiskSectors = tessaroo::GetDeviceSize(fd, bytes) ? bytes / uint64_t(m_nSectorSize) : 0;
}

bool CPartitionManager::FitToDisk(_PARTITION_ITEM_& item, const char* diskName) const
{
    // A table copied from a larger disk, an image cut short or a damaged
    // entry would send a scan after sectors the device does not have.
    if (m_u64DiskSectors == 0)
        return true;
    if (item.u64StartSector >= m_u64DiskSectors)
    {
        tessaroo::CoreLog("partition at sector %llu of %s starts past its last sector %llu; skipped\n",
                          static_cast<unsigned long long>(item.u64StartSector), diskName,
                          static_cast<unsigned long long>(m_u64DiskSectors - 1));
        return false;
    }
    if (item.u64EndSector >= m_u64DiskSectors)
    {
        tessaroo::CoreLog("partition at sector %llu of %s runs past its last sector %llu; cut there\n",
                          static_cast<unsigned long long>(item.u64StartSector), diskName,
                          static_cast<unsigned long long>(m_u64DiskSectors - 1));
        item.u64EndSector = m_u64DiskSectors - 1;
    }
    return true;
}

void CPartitionManager::NameFromCounter(_PARTITION_ITEM_& item)
{
    char text[PARTITION_NAME_UNITS];
    const int n = std::snprintf(text, sizeof(text), "Partition %d", m_nPartitionIndex++);
    std::memset(item.wszPartitionName, 0, sizeof(item.wszPartitionName));
    for (int i = 0; i < n && i < static_cast<int>(PARTITION_NAME_UNITS) - 1; ++i)
        item.wszPartitionName[i] = static_cast<char16_t>(static_cast<unsigned char>(text[i]));
}
