// An engine over a hostile device driven as the command line drives it,
// shared by the volume targets and the deep engines' targets.
#pragma once

#include "core/IFileRecoveryParse.h"
#include "engines/CFileRecoveryFactory.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace fuzz
{
// The device: the input rounded up to whole 512-byte sectors, padded with
// zeros up to what the boot sector states (at most 64 MiB), so a volume cut
// after its last used sector reads as the whole one.
constexpr uint64_t DEVICE_LIMIT = 64ull << 20;

struct DriveOptions
{
    // Called on every hit of the listing, after the common checks.
    std::function<void(const _FILE_NODE_&)> checkHit;
    // Copies the first hits one by one into numbered targets, each of which
    // must get exactly one final report, instead of through the command
    // line's recovery flow (which makes up a missing report).
    bool directCopies = false;
};

// After the engine's scan: listing of every kind -> each hit's folder path,
// and for the first 20 hits a preview into the application's buffer and a
// recovery -> the first folders of the root copied as trees -> the folder
// tree walked. Checks: one result per recovered file, buffers terminated
// and within bounds, previews and copies inside their folders.
void DriveListing(IFileRecoveryParse& engine, long long sectors,
                  const DriveOptions& options = DriveOptions());

// Scan, DriveListing, then the free runs walked to the end, which must move
// forward and stay on the volume.
void DriveVolume(IFileRecoveryParse& engine, long long sectors);

// Around one input: fills the disk; at the end checks that the disk is
// unchanged, nothing was written outside the scratch folders and no
// descriptor was left open.
class VolumeRun
{
  public:
    VolumeRun(const uint8_t* data, size_t size, uint64_t statedBytes);
    ~VolumeRun();
    long long Sectors() const { return (long long)(m_u64Bytes / 512); }

  private:
    const uint8_t* m_pData;
    size_t m_nSize;
    uint64_t m_u64Bytes;
    size_t m_nDescriptors;
};

// A volume target's input (the first bytes of a volume, boot sector first):
// when the fast engine the factory picks for it is an Engine, DriveVolume,
// then more. statedBytes reads the volume size off the boot sector.
template <class Engine>
void FuzzFastVolume(const uint8_t* data, size_t size, uint64_t (*statedBytes)(const uint8_t* boot),
                    void (*more)(Engine&) = nullptr)
{
    if (size < 512)
        return;
    VolumeRun run(data, size, statedBytes(data));
    std::unique_ptr<IFileRecoveryParse> engine(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(0, 0, run.Sectors(), L'C',
                                                                        RECOVERY_TYPE_FAST));
    if (Engine* e = dynamic_cast<Engine*>(engine.get()))
    {
        DriveVolume(*e, run.Sectors());
        if (more)
            more(*e);
    }
}
} // namespace fuzz
