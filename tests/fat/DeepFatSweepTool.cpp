// Runs the deep FAT engine over an image as the deep-scan sweep would and
// prints what it found: for measuring the time and the memory of a deep
// scan of a large card (under /usr/bin/time -v), not a test.
//
//   fat_deep_sweep IMAGE [START COUNT]
#include "core/Platform.h"
#include "core/Portability.h"
#include "engines/fat/CProfessionalFatRecovery.h"
#include "store/CLogFileManager.h"
#include "tests/fat/DeepFatTestUtil.h"
#include "tests/fat/FatTestUtil.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace tessaroo;
using namespace tessaroo::test;

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 4)
    {
        fprintf(stderr, "usage: %s IMAGE [START COUNT]\n", argv[0]);
        return 2;
    }
    const std::string image = argv[1];
    const uint64_t start = argc == 4 ? strtoull(argv[2], nullptr, 0) : 0;
    const uint64_t count = argc == 4 ? strtoull(argv[3], nullptr, 0) : ImageSectors(image);
    TempDir support("deepfat-sweep");
    ScopedEnv supportEnv("TESSAROO_SUPPORT_DIR", support.Path());
    ScopedEnv disks("TESSAROO_DISKS", image);
    MakeDirs(GetScanLogRoot(), 0755);
    CLogFileManager::GetInstance()->Init();
    CLogFileManager::GetInstance()->AddDirIndex();

    CProfessionalFatRecovery engine;
    unsigned int st = engine.Init(0, (long long)start, (long long)count, L'C');
    if (st == 0)
        st = engine.ClearProfessionalVec(nullptr);
    if (st == 0)
        st = engine.InitVirtualDbrInfo();
    const int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (st != 0 || fd < 0)
    {
        fprintf(stderr, "cannot start the scan of %s (%u)\n", image.c_str(), st);
        return 1;
    }
    DeepSweepStats stats;
    const bool swept = SweepDevice(engine, fd, start, count, stats);
    close(fd);
    engine.DealProfessionalRecordVec();
    std::vector<__SEARCH_FILE_INFO__> hits;
    std::wstring key = AllKindsKey();
    engine.SearchFileNode(&key[0], hits);
    size_t inLost = 0;
    for (auto& h : hits)
        inLost += NodePath(&engine, h).find("LostFolder") != std::string::npos;
    printf("swept %llu sectors: %llu folder starts, %llu directory sectors, %llu NTFS records\n",
           (unsigned long long)stats.sectors, (unsigned long long)stats.folderStarts,
           (unsigned long long)stats.dirSectors, (unsigned long long)stats.ntfsRecords);
    printf("%zu volume layouts, %u nodes, %zu files (%zu below a lost folder)\n",
           engine.GetVirtualDbrVec().size(), engine.GetLostFileCount(), hits.size(), inLost);
    return swept ? 0 : 1;
}
