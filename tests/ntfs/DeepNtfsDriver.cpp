#include "tests/ntfs/DeepNtfsDriver.h"

#include "core/Portability.h"
#include "core/Recognisers.h"

namespace tessaroo
{
namespace test
{
std::string DeepNtfsImages(std::string& why)
{
    const std::string& dir = SharedScriptImages("make_deep_ntfs_images.sh");
    if (dir.empty())
    {
        why = "tools/make_deep_ntfs_images.sh failed (see its output above)";
        return std::string();
    }
    std::vector<uint8_t> skipped;
    if (ReadWholeFile(dir + "/SKIPPED", skipped))
    {
        why = std::string(skipped.begin(), skipped.end());
        return std::string();
    }
    return dir;
}

DeepNtfsScan::DeepNtfsScan(const std::string& image, uint64_t start, uint64_t count)
    : disks("TESSAROO_DISKS", image)
{
    PrepareScanLog();
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(image, bytes))
        return;
    const uint64_t sectors = bytes.size() / 512;
    if (count == 0)
        count = sectors - start;
    initStatus = engine.Init(0, (long long)start, (long long)count, L'C');
    engine.InitProfessionalScan(nullptr);
    for (uint64_t s = start; s + 2 <= start + count && s + 2 <= sectors; ++s)
        if (IsNtfsFileRecord(&bytes[s * 512], 1024))
            engine.ParseNtfsFileRecord(&bytes[s * 512], s);
    engine.ParseProfessionalRecordVec();
    std::wstring key = AllKindsKey();
    engine.SearchFileNode(&key[0], hits);
}

std::map<std::string, _FILE_NODE_> DeepNtfsScan::ByPath()
{
    std::map<std::string, _FILE_NODE_> out;
    for (__SEARCH_FILE_INFO__& h : hits)
        out[NodeFullPath(&engine, h)] = h;
    return out;
}

ReportLog DeepNtfsScan::Recover(_FILE_NODE_ node, const std::string& target, unsigned int& status)
{
    ReportLog log;
    engine.InitCallBack(nullptr, &CollectReport, &log, 100);
    std::wstring path = Utf8ToWide(target.c_str());
    status = engine.SaveFileData(&node, &path[0], 0);
    return log;
}
} // namespace test
} // namespace tessaroo
