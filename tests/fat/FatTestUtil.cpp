#include "tests/fat/FatTestUtil.h"

#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Recognisers.h"
#include "engines/CFileRecoveryFactory.h"
#include "store/CLogFileManager.h"
#include "store/FileTypeLists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace tessaroo
{
namespace test
{
void PrepareScanLog()
{
    static TempDir dir("fat-support");
    static ScopedEnv env("TESSAROO_SUPPORT_DIR", dir.Path());
    static bool once = []
    {
        MakeDirs(GetScanLogRoot(), 0755);
        CLogFileManager::GetInstance()->Init();
        return true;
    }();
    (void)once;
    CLogFileManager::GetInstance()->AddDirIndex();
}

Hits ListAll(IFileRecoveryParse* engine)
{
    std::wstring key = Utf8ToWide((std::string(PICTURE_TYPE_LIST) + MUSIC_TYPE_LIST + OFFICE_TYPE_LIST +
                                   VIDEO_TYPE_LIST + ARCHIVE_TYPE_LIST + OTHER_TYPE_MARKER)
                                      .c_str());
    Hits hits;
    engine->SearchFileNode(&key[0], hits);
    return hits;
}

std::map<std::string, _FILE_NODE_> ByPath(IFileRecoveryParse* engine)
{
    std::map<std::string, _FILE_NODE_> out;
    for (__SEARCH_FILE_INFO__& h : ListAll(engine))
        out[NodePath(engine, h)] = h;
    return out;
}

std::vector<std::string> Paths(const std::map<std::string, _FILE_NODE_>& files)
{
    std::vector<std::string> out;
    for (const auto& f : files)
        out.push_back(f.first);
    return out;
}

bool RootFolder(IFileRecoveryParse* engine, const std::string& name, _FILE_NODE_& out)
{
    std::vector<_FILE_NODE_> root;
    EXPECT_EQ(engine->GetChildrenFileNode(nullptr, 0, root), 0u);
    for (const _FILE_NODE_& n : root)
        if (n.bIsDir && NodeNameUtf8(n) == name)
            return out = n, true;
    ADD_FAILURE() << "no folder " << name << " in the root";
    return false;
}

ImageEngine::ImageEngine(const std::string& image, uint64_t startSector, uint64_t sectorCount)
    : m_disks("TESSAROO_DISKS", image)
{
    PrepareScanLog();
    m_engine.reset(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        0, (long long)startSector, (long long)(sectorCount ? sectorCount : ImageSectors(image)), L'C',
        RECOVERY_TYPE_FAST));
}

Hits ImageEngine::Scan()
{
    if (!m_engine)
        return {};
    EXPECT_EQ(m_engine->ScanDevice(nullptr), 0u);
    return ListAll(m_engine.get());
}

DeepFatScan::DeepFatScan(const std::string& image, uint64_t start, uint64_t count)
    : m_image(image), m_start(start), m_count(count), m_disks("TESSAROO_DISKS", image),
      m_engine(new CProfessionalFatRecovery())
{
    PrepareScanLog();
}

bool DeepFatScan::Begin()
{
    EXPECT_EQ(m_engine->Init(0, (long long)m_start, (long long)m_count, L'C'), 0u);
    EXPECT_EQ(m_engine->ClearProfessionalVec(nullptr), 0u);
    EXPECT_EQ(m_engine->InitVirtualDbrInfo(), 0u);
    return !::testing::Test::HasFailure();
}

bool DeepFatScan::Offer(uint8_t* sector, const uint8_t* next, uint64_t at)
{
    // The sweep tests for an NTFS record of 1024 bytes with 512-byte sectors.
    uint8_t rec[1024];
    memcpy(rec, sector, 512);
    memcpy(rec + 512, next, 512);
    if (IsNtfsFileRecord(rec, int(sizeof(rec))))
        return true;
    if (IsFatFileRecord(sector))
        m_engine->ParseFatFileRecord(sector, at);
    else if (IsFatFDTRecord(sector, 512))
        m_engine->ParseFDTFileRecord(sector, at);
    else
        return false;
    return true;
}

// Reads the range in 64 KiB chunks (and the sector after each, for a record
// that runs over the chunk's end) and offers each sector in turn.
bool DeepFatScan::Sweep()
{
    constexpr uint64_t CHUNK = 128;
    for (uint64_t pos = m_start; pos < m_start + m_count; pos += CHUNK)
    {
        const uint64_t n = std::min(CHUNK, m_start + m_count - pos);
        std::vector<uint8_t> bytes = ReadFileRange(m_image, pos * 512, size_t(n + 1) * 512);
        const uint64_t whole = std::min<uint64_t>(n, bytes.size() / 512);
        bytes.resize(size_t(n + 1) * 512, 0);
        for (uint64_t i = 0; i < whole; ++i)
            Offer(&bytes[i * 512], &bytes[(i + 1) * 512], pos + i);
        if (whole < n)
            return whole > 0 || pos > m_start; // the device ended; false when unreadable
    }
    return true;
}

void DeepFatScan::End()
{
    EXPECT_EQ(m_engine->DealProfessionalRecordVec(), 0u);
}

bool DeepFatScan::Run()
{
    if (!Begin())
        return false;
    EXPECT_TRUE(Sweep()) << m_image;
    End();
    return !::testing::Test::HasFailure();
}

bool IsPictureName(const std::string& name)
{
    std::string ext = name.substr(std::min(name.rfind('.'), name.size()));
    for (char& c : ext)
        c = char(tolower((unsigned char)c));
    return !ext.empty() && strstr(PICTURE_TYPE_LIST, ext.c_str()) != nullptr;
}

uint64_t ImageSectors(const std::string& image)
{
    struct stat st;
    return stat(image.c_str(), &st) == 0 ? uint64_t(st.st_size) / 512 : 0;
}

std::string NodeNameUtf8(const _FILE_NODE_& n)
{
    return std::string(n.szFileName, strnlen(n.szFileName, sizeof(n.szFileName)));
}

std::string NodePath(IFileRecoveryParse* engine, _FILE_NODE_& n)
{
    std::vector<wchar_t> path(4096, 0);
    engine->GetFileNodeParentDirPath(&n, path.data(), int(path.size()));
    return WideToUtf8(path.data()) + NodeNameUtf8(n);
}

int ReportLog::Finals() const
{
    int n = 0;
    for (const Report& r : reports)
        n += r.percent == 100;
    return n;
}

ReportLog Recover(IFileRecoveryParse* engine, _FILE_NODE_ node, const std::string& target, unsigned& status,
                  int answer, int rootSeparators)
{
    ReportLog log;
    log.answer = answer;
    engine->InitCallBack(
        nullptr,
        [](void* ctx, int percent, int, int st, wchar_t* t)
        {
            ReportLog* l = static_cast<ReportLog*>(ctx);
            l->reports.push_back({percent, st, t ? WideToUtf8(t) : std::string()});
            return l->answer;
        },
        &log, 100);
    std::wstring wide = Utf8ToWide(target.c_str());
    status = engine->SaveFileData(&node, &wide[0], rootSeparators);
    return log;
}

std::string Copy(IFileRecoveryParse* engine, const _FILE_NODE_& node, const std::string& target, int want)
{
    unsigned st = ~0u;
    const ReportLog log = Recover(engine, node, target, st);
    EXPECT_EQ(int(st), want) << target;
    EXPECT_EQ(log.Finals(), 1) << target;
    if (!log.reports.empty())
    {
        EXPECT_EQ(log.reports.back().status, want) << target;
        EXPECT_TRUE(want || log.reports.back().target == target) << log.reports.back().target;
    }
    return ReadFileText(target);
}
} // namespace test
} // namespace tessaroo
