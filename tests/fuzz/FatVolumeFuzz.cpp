// libFuzzer target: the fast FAT engine over a hostile volume, driven as the
// command line drives it (FuzzVolume.h: the run and its checks).
//
// Input: the first bytes of a FAT volume, from its boot sector on.
#include "core/ByteReader.h"
#include "engines/fat/CFastFatRecovery.h"
#include "tests/fuzz/FuzzVolume.h"

namespace
{
// The size the boot sector states, when its fields are usable.
uint64_t StatedVolumeBytes(const uint8_t* boot)
{
    const tessaroo::ByteReader r(boot, 512);
    const uint32_t bps = r.U16(11), t16 = r.U16(19), t32 = r.U32(32);
    return bps < 512 || bps > 4096 ? 0 : uint64_t(t32 ? t32 : t16) * bps;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::FuzzFastVolume<CFastFatRecovery>(data, size, StatedVolumeBytes);
    return 0;
}
