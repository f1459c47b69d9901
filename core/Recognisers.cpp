#include "core/Recognisers.h"

#include "core/ByteReader.h"

#include <cstring>
#include <ctime>
#include <memory>

using namespace tessaroo;

namespace
{
bool HasBootSignature(const ByteReader& r)
{
    return r.U8(BS_SIGNATURE) == 0x55 && r.U8(BS_SIGNATURE + 1) == 0xAA;
}

// Live FAT entries carry dates between these (1991-05-03 00:38:05 and
// 2080-01-23 10:24:45 UTC); anything outside is fill data, not an entry.
constexpr int64_t FAT_DATE_LOW = 673231085;
constexpr int64_t FAT_DATE_HIGH = 3473231085;

// Entry date words repeat endlessly across a volume and mktime is slow and
// consults the time zone each call, so each thread keeps the converted value
// of every date word it has met.
constexpr int64_t DATE_UNSET = INT64_MIN;
int64_t ConvertFatDate(uint16_t date)
{
    thread_local std::unique_ptr<int64_t[]> cache;
    if (!cache)
    {
        cache.reset(new int64_t[65536]);
        for (size_t i = 0; i < 65536; ++i)
            cache[i] = DATE_UNSET;
    }
    int64_t& slot = cache[date];
    if (slot == DATE_UNSET)
    {
        struct tm t;
        memset(&t, 0, sizeof(t));
        t.tm_year = ((date >> 9) & 0x7F) + 1980 - 1900;
        t.tm_mon = ((date >> 5) & 0x0F) - 1;
        t.tm_mday = date & 0x1F;
        t.tm_isdst = 0;
        slot = int64_t(mktime(&t));
    }
    return slot;
}

void StoreTime(uint64_t v, _FILETIME* t)
{
    if (!t)
        return;
    t->dwLowDateTime = uint32_t(v);
    t->dwHighDateTime = uint32_t(v >> 32);
}

bool IsForbiddenNameByte(uint8_t b)
{
    if (b < 0x20 || (b >= 'a' && b <= 'z'))
        return true;
    return b != 0 && strchr("\\:*?\"<>|.", b) != nullptr;
}

// Name rules every short entry of a directory sector must meet.
bool ShortNameLooksReal(const uint8_t* e)
{
    for (int i = 0; i < 11; ++i)
        if (e[i] < 0x20 || e[i] == '.')
            return false;
    // No character after padding, inside the name or inside the extension.
    for (int part = 0; part < 2; ++part)
    {
        int from = part == 0 ? 0 : 8, to = part == 0 ? 8 : 11;
        bool blank = false;
        for (int i = from; i < to; ++i)
        {
            if (e[i] == ' ')
                blank = true;
            else if (blank)
                return false;
        }
    }
    // Double-byte characters come as lead (>= 0x80) then trail (>= 0x80).
    int i = e[0] == DELETED_MARK ? 1 : 0;
    while (i <= 9)
    {
        if (e[i] >= 0x80)
        {
            if (e[i + 1] < 0x80)
                return false;
            i += 2;
        }
        else
            ++i;
    }
    return true;
}
} // namespace

bool IsNtfs(const unsigned char* buf)
{
    if (!buf)
        return false;
    ByteReader r(buf, BOOT_SECTOR_SIZE);
    if (!r.Matches(BS_OEM_NAME, "NTFS    ", 8))
        return false;
    if (r.U16(BS_BYTES_PER_SECTOR) % 512 != 0 || r.U16(BS_RESERVED_SECTORS) != 0)
        return false;
    if (!IsValidSectorsPerCluster(r.U8(BS_SECTORS_PER_CLUSTER)) || r.U64(BS_NTFS_TOTAL_SECTORS) == 0)
        return false;
    static const size_t zeroFields[] = {16, 17, 18, 19, 20, 22, 23, 32, 33, 34, 35};
    for (size_t off : zeroFields)
        if (r.U8(off) != 0)
            return false;
    return HasBootSignature(r);
}

bool IsFat(const unsigned char* buf)
{
    if (!buf)
        return false;
    ByteReader r(buf, BOOT_SECTOR_SIZE);
    if (r.Matches(BS_OEM_NAME, "-FVE-FS-", 8))
        return false;
    static const uint8_t encryptedTail[30] = {0x78, 0x78, 0x78, 0x78, 0x78, 0x78, 0x78, 0x78, 0xFF, 0xFF,
                                              0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                              0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x1F, 0x2C};
    if (r.Matches(480, encryptedTail, sizeof(encryptedTail)))
        return false;

    const uint16_t f16 = r.U16(BS_SECTORS_PER_FAT16);
    const uint32_t f32 = r.U32(BS_SECTORS_PER_FAT32);
    const uint32_t F = f16 ? f16 : f32;
    const uint32_t t32 = r.U32(BS_TOTAL_SECTORS32);
    const uint16_t t16 = r.U16(BS_TOTAL_SECTORS16);
    const uint32_t T = t32 ? t32 : t16;
    const uint16_t B = r.U16(BS_BYTES_PER_SECTOR);
    const uint8_t S = r.U8(BS_SECTORS_PER_CLUSTER);
    if (B == 0 || S == 0 || B % 512 != 0)
        return false;
    const uint8_t nFats = r.U8(BS_NUM_FATS);
    const uint32_t R = (uint32_t(r.U16(BS_ROOT_ENTRIES)) * 32u) / B;
    // Unsigned 32-bit on purpose: a nonsense geometry wraps to a huge count and is rejected.
    const uint32_t C = (T - r.U16(BS_RESERVED_SECTORS) - F * nFats - R) / S;
    if (C > FAT_MAX_CLUSTERS)
        return false;
    const bool sig = HasBootSignature(r);
    const bool spcValid = IsValidSectorsPerCluster(S);
    const bool formA = nFats != 0 && (t16 != 0 || t32 != 0) && spcValid && f16 != 0 && sig;
    const bool formB =
        r.Matches(BS_FAT32_FS_TYPE, "FAT32   ", 8) && nFats != 0 && t32 != 0 && spcValid && f32 != 0 && sig;
    return formA || formB;
}

bool IsExt(const unsigned char* buf)
{
    if (!buf)
        return false;
    ByteReader r(buf, 2048);
    if (r.U16(1080) != 0xEF53)
        return false;
    const uint32_t inodes = r.U32(1024), blocks = r.U32(1028), blocksPerGroup = r.U32(1056),
                   inodesPerGroup = r.U32(1064), firstIno = r.U32(1108), firstData = r.U32(1044);
    if (!inodes || !blocks || !blocksPerGroup || !inodesPerGroup || firstIno < 3)
        return false;
    if ((inodes - 1) / inodesPerGroup != (blocks - 1 - firstData) / blocksPerGroup)
        return false;
    const uint32_t blockSize = 1024u << (r.U32(1048) % 32);
    if (firstData != (blockSize == 1024 ? 1u : 0u))
        return false;
    return inodes > firstIno;
}

bool IsNtfsFileRecord(const unsigned char* rec, int recordSize)
{
    if (!rec || recordSize < 512)
        return false;
    ByteReader r(rec, size_t(recordSize));
    return r.Matches(0, "FILE", 4) && r.U32(24) <= uint32_t(recordSize) &&
           r.U32(28) == uint32_t(recordSize) && r.U16(48) == r.U16(510);
}

bool IsFatFileRecord(const unsigned char* buf)
{
    return IsFatFileRecord(buf, 2 * DIR_ENTRY_SIZE);
}

bool IsFatFileRecord(const unsigned char* buf, size_t len)
{
    if (!buf || len < 2 * DIR_ENTRY_SIZE)
        return false;
    ByteReader r(buf, 2 * DIR_ENTRY_SIZE);
    return r.U8(0) == '.' && r.U8(1) == ' ' && (r.U8(DE_ATTR) & ATTR_DIRECTORY) && r.U32(DE_SIZE) == 0 &&
           r.U8(32) == '.' && r.U8(33) == '.' && (r.U8(32 + DE_ATTR) & ATTR_DIRECTORY) &&
           r.U32(32 + DE_SIZE) == 0;
}

int IsFatEntyValid(const unsigned char* buf, size_t avail)
{
    if (!buf || avail < DIR_ENTRY_SIZE)
        return 0;
    if (IsFatFileRecord(buf, avail))
        return 1;
    ByteReader r(buf, DIR_ENTRY_SIZE);
    const uint8_t a = r.U8(DE_ATTR), b0 = r.U8(0);
    const uint32_t size = r.U32(DE_SIZE);
    const uint16_t hi = r.U16(DE_CLUSTER_HI), lo = r.U16(DE_CLUSTER_LO);

    if (size == 0 && !(a & ATTR_DIRECTORY) && (hi || lo))
        return 0;
    if (a == ATTR_VOLUME_ID)
    {
        if (size || hi || lo)
            return 0;
    }
    else if (a != ATTR_LONG_NAME && (a & ATTR_VOLUME_ID))
        return 0;
    if (((a & ATTR_DIRECTORY) && (a & ATTR_READ_ONLY)) || (a & 0xC0))
        return 0;

    if (a == ATTR_LONG_NAME)
    {
        if (b0 != DELETED_MARK && (b0 & ~LFN_LAST_PART) > LFN_MAX_PARTS)
            return 0;
    }
    else
    {
        if (b0 != DELETED_MARK && !(a & ATTR_DIRECTORY))
        {
            const uint16_t dates[3] = {r.U16(DE_CDATE), r.U16(DE_ADATE), r.U16(DE_WDATE)};
            for (uint16_t d : dates)
            {
                int64_t v = ConvertFatDate(d);
                if (v < FAT_DATE_LOW || v > FAT_DATE_HIGH)
                    return 0;
            }
        }
        if (a != ATTR_VOLUME_ID)
            for (int i = 0; i < 11; ++i)
                if (IsForbiddenNameByte(buf[i]))
                    return 0;
    }

    if (b0 != DELETED_MARK && (a & ATTR_DIRECTORY) && size != 0)
        return 0;
    if (a == ATTR_LONG_NAME && lo != 0)
        return 0;
    if (a > 0x3F)
        return 0;
    // Every other entry is a file: backup tools clear the archive bit and
    // some cameras never set it.
    return 1;
}

int IsFatEntyValid(const FAT32_Entry* e)
{
    return IsFatEntyValid(reinterpret_cast<const unsigned char*>(e), DIR_ENTRY_SIZE);
}

int IsFatFDTRecord(const unsigned char* buf, int len)
{
    if (!buf || len < int(DIR_ENTRY_SIZE))
        return 0;
    const size_t total = size_t(len);
    const size_t wanted = total / DIR_ENTRY_SIZE;
    size_t accepted = 0, pos = 0;
    while (accepted < wanted)
    {
        const uint8_t* e = buf + pos;
        if (e[0] == 0)
        {
            if (pos == 0)
                return 0;
            for (size_t i = pos; i < total; ++i)
                if (buf[i])
                    return 0;
            return 1;
        }
        if (!IsFatEntyValid(e, total - pos) || memcmp(e + 1, e + 17, 14) == 0)
            return 0;
        if (e[DE_ATTR] == ATTR_LONG_NAME)
        {
            const uint8_t K = e[LFN_CHECKSUM];
            for (size_t k = 1; k <= LFN_MAX_PARTS; ++k)
            {
                if (pos + 32 + 64 * (k - 1) >= total)
                    break;
                const size_t at = pos + 32 * k;
                const uint8_t* f = buf + at;
                if (!IsFatEntyValid(f, total - at))
                    return 0;
                if (f[DE_ATTR] == ATTR_LONG_NAME)
                {
                    if (f[LFN_CHECKSUM] != K)
                        return 0;
                    continue;
                }
                if (f[0] != DELETED_MARK && GetShortNameCheckSum(reinterpret_cast<const char*>(f)) != K)
                    return 0;
                break;
            }
        }
        else if (!ShortNameLooksReal(e))
            return 0;
        ++accepted;
        pos += DIR_ENTRY_SIZE;
    }
    return 1;
}

uint64_t FatDateToTime(uint16_t date)
{
    return uint64_t(ConvertFatDate(date));
}

void Fat32GetFileCreateTime(const FAT32_Entry* e, _FILETIME* t)
{
    if (e)
        StoreTime(FatDateToTime(ByteReader(e, sizeof(*e)).U16(DE_CDATE)), t);
}

void Fat32GetFileLastAccessTime(const FAT32_Entry* e, _FILETIME* t)
{
    if (e)
        StoreTime(FatDateToTime(ByteReader(e, sizeof(*e)).U16(DE_ADATE)), t);
}

void Fat32GetFileLastChangeTime(const FAT32_Entry* e, _FILETIME* t)
{
    if (e)
        StoreTime(FatDateToTime(ByteReader(e, sizeof(*e)).U16(DE_WDATE)), t);
}

unsigned char GetShortNameCheckSum(const char* name11)
{
    if (!name11)
        return 0;
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + uint8_t(name11[i]));
    return sum;
}

unsigned int GetDefaultNtfsSectorPerCluster(unsigned long long sectorCount, unsigned int bytesPerSector)
{
    const double M = double(sectorCount) * double(bytesPerSector) / 1048576.0;
    const double T0 = double(bytesPerSector / 512) * 7.0;
    const double T1 = double(bytesPerSector / 512 * 512);
    const double T2 = double(2ULL * bytesPerSector / 1024 * 1024);
    const double T3 = double(4ULL * bytesPerSector / 2048 * 2048);
    if (M <= T0)
        return 8;
    if (M <= T1)
        return 1;
    if (M <= T2)
        return 2;
    if (M <= T3)
        return 4;
    return 8;
}
