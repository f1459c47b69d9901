#include "tests/ntfs/NtfsTestUtil.h"

#include "core/ByteReader.h"
#include "core/Portability.h"
#include "core/Recognisers.h"
#include "engines/CFileRecoveryFactory.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tessaroo
{
namespace test
{
std::string NtfsImages(std::string& why, const std::string& script)
{
    const std::string& dir = SharedScriptImages(script);
    why = dir.empty() ? "tools/" + script + " failed (see its output above)" : ReadFileText(dir + "/SKIPPED");
    return why.empty() ? dir : std::string();
}

NtfsScan::NtfsScan(bool deepEngine, const std::string& image, uint64_t start, uint64_t count)
    : disks("TESSAROO_DISKS", image)
{
    PrepareScanLog();
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(image, bytes))
        return;
    const uint64_t sectors = bytes.size() / 512;
    if (count == 0)
        count = sectors - start;
    if (!deepEngine)
    {
        m_fast.reset(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
            0, (long long)start, (long long)count, L'C', RECOVERY_TYPE_FAST));
        fast = dynamic_cast<CFastNtfsRecovery*>(m_fast.get());
        if (!fast)
            return;
        engine = fast;
        fast->InitCallBack([](void* ctx, int percent, int, int, unsigned long long, unsigned long long,
                              unsigned long long, wchar_t*)
                           { return static_cast<std::vector<int>*>(ctx)->push_back(percent), 0; },
                           nullptr, &percents, 100);
        status = fast->ScanDevice(nullptr);
    }
    else
    {
        deep.reset(new CProfessionalNtfsRecovery());
        engine = deep.get();
        status = deep->Init(0, (long long)start, (long long)count, L'C');
        deep->InitProfessionalScan(nullptr);
        for (uint64_t s = start; s + 2 <= start + count && s + 2 <= sectors; ++s)
            if (IsNtfsFileRecord(&bytes[s * 512], 1024))
                deep->ParseNtfsFileRecord(&bytes[s * 512], s);
        deep->ParseProfessionalRecordVec();
    }
    hits = ListAll(engine);
}

namespace
{
size_t Align8(size_t v)
{
    return (v + 7) & ~size_t(7);
}

} // namespace

std::vector<uint8_t> EncodeRuns(const std::vector<TestRun>& runs)
{
    // Four bytes of count and of offset, wider than need be for most runs:
    // a reader takes any width.
    std::vector<uint8_t> out;
    for (const TestRun& r : runs)
    {
        out.push_back(r.sparse ? 0x04 : 0x44);
        for (unsigned i = 0; i < 4; ++i)
            out.push_back(uint8_t(r.count >> (8 * i)));
        for (unsigned i = 0; i < (r.sparse ? 0u : 4u); ++i)
            out.push_back(uint8_t(uint64_t(r.offset) >> (8 * i)));
    }
    out.push_back(0);
    return out;
}

std::vector<uint8_t> ResidentAttr(uint32_t type, const std::vector<uint8_t>& value,
                                  const std::u16string& name)
{
    const size_t at = Align8(0x18 + 2 * name.size());
    std::vector<uint8_t> a(Align8(at + value.size()), 0);
    PutU32(&a[0], type);
    PutU32(&a[4], uint32_t(a.size()));
    a[9] = uint8_t(name.size());
    PutU16(&a[10], 0x18);
    for (size_t i = 0; i < name.size(); ++i)
        PutU16(&a[0x18 + 2 * i], uint16_t(name[i]));
    PutU32(&a[0x10], uint32_t(value.size()));
    PutU16(&a[0x14], uint16_t(at));
    std::copy(value.begin(), value.end(), a.begin() + long(at));
    return a;
}

std::vector<uint8_t> FileNameAttr(uint32_t parent, const std::u16string& name, uint8_t nameSpace,
                                  uint64_t size, uint64_t ntfsTime)
{
    std::vector<uint8_t> v(0x42 + 2 * name.size(), 0);
    PutU64(&v[0], parent | (uint64_t(1) << 48));
    for (int i = 0; i < 4; ++i)
        PutU64(&v[8 + 8 * i], ntfsTime + uint64_t(i) * 10000000);
    PutU64(&v[0x28], size);
    PutU64(&v[0x30], size);
    v[0x40] = uint8_t(name.size());
    v[0x41] = nameSpace;
    for (size_t i = 0; i < name.size(); ++i)
        PutU16(&v[0x42 + 2 * i], uint16_t(name[i]));
    return ResidentAttr(0x30, v);
}

std::vector<uint8_t> NonResidentAttr(uint32_t type, const std::vector<uint8_t>& runs, uint64_t realSize,
                                     uint64_t startVcn, uint64_t lastVcn, uint64_t allocated)
{
    std::vector<uint8_t> a(Align8(0x40 + runs.size()), 0);
    PutU32(&a[0], type);
    PutU32(&a[4], uint32_t(a.size()));
    a[8] = 1;
    PutU16(&a[10], 0x40);
    PutU64(&a[0x10], startVcn);
    PutU64(&a[0x18], lastVcn);
    PutU16(&a[0x20], 0x40);
    PutU64(&a[0x28], allocated != ~0ull ? allocated : (realSize + 4095) / 4096 * 4096);
    PutU64(&a[0x30], realSize);
    PutU64(&a[0x38], realSize);
    std::copy(runs.begin(), runs.end(), a.begin() + 0x40);
    return a;
}

std::vector<uint8_t> ListEntry(uint32_t type, uint64_t record, uint64_t startVcn)
{
    std::vector<uint8_t> e(0x20, 0);
    PutU32(&e[0], type);
    PutU16(&e[4], 0x20);
    e[7] = 0x1A;
    PutU64(&e[8], startVcn);
    PutU64(&e[0x10], record | (uint64_t(1) << 48));
    return e;
}

std::vector<uint8_t> MiniNtfs::Bytes() const
{
    std::vector<uint8_t> img(size_t(m_sectors) * 512, 0);
    NtfsBootParams p;
    p.sectorsPerCluster = 1;
    p.totalSectors = m_sectors;
    p.mftCluster = 16;
    const std::vector<uint8_t> boot = MakeNtfsBootSector(p);
    memcpy(img.data(), boot.data(), boot.size());

    std::map<uint32_t, TestRecord> records = m_set;
    const uint64_t mft = 2 * uint64_t(m_records); // clusters
    std::vector<uint8_t> data =
        NonResidentAttr(0x80, EncodeRuns({{mft, 16}}), mft * 512, 0, mft - 1, mft * 512);
    records.insert({0, {1, 0, {FileNameAttr(5, u"$MFT"), data}}});
    records.insert({5, {3, 0, {FileNameAttr(5, u".")}}});
    std::vector<uint8_t> bitmap(size_t((m_sectors + 7) / 8), 0);
    auto mark = [&](uint64_t c, uint64_t n)
    {
        for (uint64_t k = c; k < c + n && k < m_sectors; ++k)
            bitmap[size_t(k / 8)] |= uint8_t(1u << (k % 8));
    };
    mark(0, FirstFree());
    for (const auto& u : m_used)
        mark(u.first, u.second);
    records.insert({6, {1, 0, {FileNameAttr(5, u"$Bitmap"), ResidentAttr(0x80, bitmap)}}});
    for (const auto& r : records)
        if (r.first < m_records)
        {
            const std::vector<uint8_t> rec = BuildRecord(r.first, r.second, 1024);
            memcpy(&img[size_t(16 * 512 + uint64_t(r.first) * 1024)], rec.data(), rec.size());
        }
    for (const auto& d : m_data)
        if (d.first * 512 + d.second.size() <= img.size())
            memcpy(&img[size_t(d.first * 512)], d.second.data(), d.second.size());
    return img;
}

std::vector<uint8_t> TestText(const std::string& seed, size_t n)
{
    std::string s;
    for (int i = 0; s.size() < n; ++i)
        s += seed + " line " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog\n";
    return std::vector<uint8_t>(s.begin(), s.begin() + ptrdiff_t(n));
}
} // namespace test
} // namespace tessaroo
