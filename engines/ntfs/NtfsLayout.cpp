#include "engines/ntfs/NtfsLayout.h"

#include "core/BootSector.h"
#include "core/ByteReader.h"
#include "core/Portability.h"

namespace tessaroo
{
namespace
{
bool IsPowerOfTwo(uint64_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}
} // namespace

bool IsNtfsSectorSizeSupported(uint32_t bytes)
{
    if (bytes == 0)
        bytes = 512;
    // Larger sectors would give records the engines do not buffer, and the
    // record geometry is only known for these.
    return bytes == 512 || bytes == 1024 || bytes == 2048 || bytes == 4096;
}

bool DeriveNtfsGeometry(const uint8_t* boot, size_t len, NtfsGeometry& g)
{
    ByteReader r(boot, len);
    if (!r.Fits(0, BOOT_SECTOR_SIZE))
        return false;
    uint32_t bps = r.U16(NTFS_BS_BYTES_PER_SECTOR);
    if (bps == 0)
        bps = 512;
    const uint32_t spc = r.U8(NTFS_BS_SECTORS_PER_CLUSTER);
    if (!IsNtfsSectorSizeSupported(bps) || !IsPowerOfTwo(spc) || spc > 128)
        return false;
    NtfsGeometry out;
    out.bytesPerSector = bps;
    out.sectorsPerCluster = spc;
    out.bytesPerCluster = bps * spc;
    out.totalSectors = r.U64(NTFS_BS_TOTAL_SECTORS);
    out.mftCluster = r.U64(NTFS_BS_MFT_CLUSTER);
    if (out.mftCluster >= out.totalSectors / spc)
        return false;
    out.recordBytes = bps == 512 ? 1024 : bps;
    out.unitsPerSector = bps / 512;
    out.unitsPerCluster = out.unitsPerSector * spc;
    g = out;
    return true;
}

bool ParseNtfsRecordHeader(const uint8_t* rec, size_t len, NtfsRecordHeader& h)
{
    ByteReader r(rec, len);
    uint32_t sig = 0;
    if (!r.ReadU32(0, sig) || sig != NTFS_RECORD_SIGNATURE || !r.Fits(0, NTFS_REC_UPDATE_ARRAY))
        return false;
    NtfsRecordHeader out;
    out.flags = r.U16(NTFS_REC_FLAGS);
    out.sequence = r.U16(NTFS_REC_SEQUENCE);
    out.firstAttribute = r.U16(NTFS_REC_FIRST_ATTRIBUTE);
    const uint32_t inUse = r.U32(NTFS_REC_BYTES_IN_USE);
    out.end = inUse < len ? inUse : uint32_t(len);
    out.baseRecord = r.U64(NTFS_REC_BASE_RECORD) & NTFS_REFERENCE_MASK;
    out.recordNumber = r.U32(NTFS_REC_NUMBER);
    h = out;
    return true;
}

CNtfsAttributeWalker::CNtfsAttributeWalker(const uint8_t* rec, size_t len, const NtfsRecordHeader& h)
    : m_rec(rec), m_end(h.end < len ? h.end : len), m_pos(h.firstAttribute)
{
}

bool CNtfsAttributeWalker::Next(NtfsAttribute& a)
{
    ByteReader r(m_rec, m_end);
    uint32_t type = 0, length = 0;
    if (!r.ReadU32(m_pos, type) || !r.ReadU32(m_pos + NTFS_ATTR_LENGTH, length))
        return false;
    if (type == 0 || type >= NTFS_TYPE_FILL)
        return false;
    // Each step moves at least a header forward and stays inside the
    // record, so no record can hold the walk in place or lead it out.
    if (length < NTFS_RESIDENT_HEADER || length > m_end - m_pos)
        return false;
    ByteReader ar(m_rec + m_pos, length);
    NtfsAttribute out;
    out.offset = m_pos;
    out.type = type;
    out.length = length;
    out.nonResident = ar.U8(NTFS_ATTR_NON_RESIDENT) != 0;
    out.nameLength = ar.U8(NTFS_ATTR_NAME_LENGTH);
    out.flags = ar.U16(NTFS_ATTR_FLAGS);
    if (!out.nonResident)
    {
        const uint32_t valueLength = ar.U32(NTFS_ATTR_VALUE_LENGTH);
        const uint32_t valueOffset = ar.U16(NTFS_ATTR_VALUE_OFFSET);
        if (valueOffset <= length && valueLength <= length - valueOffset)
        {
            out.valueOffset = valueOffset;
            out.valueLength = valueLength;
        }
        else
        {
            out.valueOffset = length;
            out.valueLength = 0;
        }
    }
    else
    {
        out.runsOffset = length;
        if (length >= NTFS_NON_RESIDENT_HEADER)
        {
            out.startVcn = ar.U64(NTFS_ATTR_START_VCN);
            out.lastVcn = ar.U64(NTFS_ATTR_LAST_VCN);
            const uint32_t runs = ar.U16(NTFS_ATTR_RUNS_OFFSET);
            out.runsOffset = runs < length ? runs : length;
            out.allocatedSize = ar.U64(NTFS_ATTR_ALLOCATED_SIZE);
            out.hasRealSize = true;
            out.realSize = ar.U64(NTFS_ATTR_REAL_SIZE);
            if (length >= NTFS_NON_RESIDENT_FULL_HEADER)
            {
                out.hasInitializedSize = true;
                out.initializedSize = ar.U64(NTFS_ATTR_INITIALIZED_SIZE);
            }
        }
    }
    m_pos += length;
    a = out;
    return true;
}

bool ParseNtfsFileName(const uint8_t* rec, const NtfsAttribute& a, NtfsFileName& out)
{
    if (a.type != NTFS_TYPE_FILE_NAME || a.nonResident)
        return false;
    ByteReader r(rec + a.offset, a.length);
    uint8_t units = 0;
    if (!r.ReadU8(NTFS_FN_NAME_LENGTH, units) || !r.Fits(NTFS_FN_NAME, size_t(units) * 2))
        return false;
    NtfsFileName fn;
    fn.parent = r.U32(NTFS_FN_PARENT);
    fn.createTime = r.U64(NTFS_FN_CREATE_TIME);
    fn.modifyTime = r.U64(NTFS_FN_MODIFY_TIME);
    fn.accessTime = r.U64(NTFS_FN_ACCESS_TIME);
    fn.realSize = r.U64(NTFS_FN_REAL_SIZE);
    fn.nameSpace = r.U8(NTFS_FN_NAMESPACE);
    uint16_t name[255];
    for (size_t i = 0; i < units; ++i)
        name[i] = r.U16(NTFS_FN_NAME + 2 * i);
    fn.name = Utf16ToUtf8(name, units);
    out = fn;
    return true;
}

std::vector<NtfsListEntry> ParseNtfsAttributeList(const uint8_t* value, size_t len)
{
    std::vector<NtfsListEntry> out;
    ByteReader r(value, len);
    size_t pos = 0;
    while (r.Fits(pos, NTFS_AL_MIN_ENTRY))
    {
        NtfsListEntry e;
        e.type = r.U32(pos + NTFS_AL_TYPE);
        e.length = r.U16(pos + NTFS_AL_LENGTH);
        if (e.type == 0 || e.type >= NTFS_TYPE_FILL || e.length < NTFS_AL_MIN_ENTRY || !r.Fits(pos, e.length))
            break;
        e.nameLength = r.U8(pos + NTFS_AL_NAME_LENGTH);
        e.startVcn = r.U64(pos + NTFS_AL_START_VCN);
        e.record = r.U64(pos + NTFS_AL_REFERENCE) & NTFS_REFERENCE_MASK;
        out.push_back(e);
        pos += e.length;
    }
    return out;
}

int64_t NtfsTimeToUnix(uint64_t ntfsTime)
{
    if (ntfsTime == 0)
        return 0;
    return int64_t(ntfsTime / 10000000ull) - int64_t(NTFS_UNIX_EPOCH / 10000000ull);
}
bool ReadNtfsRecordNames(const uint8_t* rec, size_t len, const NtfsRecordHeader& h, NtfsRecordNames& out)
{
    out = NtfsRecordNames();
    CNtfsAttributeWalker walk(rec, len, h);
    NtfsAttribute a;
    bool haveData = false;
    while (walk.Next(a))
    {
        if (a.type == NTFS_TYPE_FILE_NAME)
        {
            NtfsFileName fn;
            if (!ParseNtfsFileName(rec, a, fn))
                continue;
            if (!out.bNamed)
            {
                out.bNamed = true;
                out.first = fn;
                out.strName = fn.name;
            }
            else if (fn.nameSpace == NTFS_NAMESPACE_WIN32)
                out.strName = fn.name; // the long name wins over a short one met first
        }
        else if (a.type == NTFS_TYPE_DATA && a.nameLength == 0 && !haveData)
        {
            haveData = true;
            if (!a.nonResident)
            {
                out.bHasDataSize = true;
                out.u64DataSize = a.valueLength;
            }
            else if (a.hasRealSize && a.startVcn == 0)
            {
                out.bHasDataSize = true;
                out.u64DataSize = a.realSize;
            }
        }
    }
    return out.bNamed;
}

} // namespace tessaroo
