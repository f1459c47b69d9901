// libFuzzer target: the fast FAT engine over a hostile volume, driven as the
// command line drives it (FuzzVolume.h: the run and its checks).
//
// Input: the first bytes of a FAT volume, from its boot sector on.
#include "engines/CFileRecoveryFactory.h"
#include "engines/fat/CFastFatRecovery.h"
#include "tests/fuzz/FuzzVolume.h"

#include <memory>

namespace
{
// The size the boot sector states, when its fields are usable.
uint64_t StatedVolumeBytes(const uint8_t* data)
{
    const uint32_t bps = uint32_t(data[11]) | uint32_t(data[12]) << 8;
    const uint32_t t16 = uint32_t(data[19]) | uint32_t(data[20]) << 8;
    const uint32_t t32 =
        uint32_t(data[32]) | uint32_t(data[33]) << 8 | uint32_t(data[34]) << 16 | uint32_t(data[35]) << 24;
    if (bps < 512 || bps > 4096)
        return 0;
    return uint64_t(t32 ? t32 : t16) * bps;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 512)
        return 0;
    fuzz::VolumeRun run(data, size, StatedVolumeBytes(data));
    std::unique_ptr<IFileRecoveryParse> engine(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(0, 0, run.Sectors(), L'C',
                                                                        RECOVERY_TYPE_FAST));
    if (dynamic_cast<CFastFatRecovery*>(engine.get()))
        fuzz::DriveVolume(*engine, run.Sectors());
    return 0;
}
