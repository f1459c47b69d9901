// libFuzzer target: the deep NTFS engine fed hostile file records in
// hostile order, over hostile MFT layouts, then queried and recovered from
// as the command line does.
//
// Input: byte 0 picks the order the records are offered in (ascending as
// the sweep does, descending, odd ones then even ones, shuffled by bytes
// 1-4, or ascending with every record offered a second time at a sector
// picked by the seed); byte 5 the first sector of the scanned area (0-7);
// the rest is the device, rounded up to whole 512-byte sectors. Every
// sector of the area that the sweep's recogniser takes for a file record
// is offered, with at least 1024 bytes behind it (a record cut by the
// device's end comes in an 8192-byte buffer, as the sweep re-reads it).
//
// The run: records -> folder pass -> the listing driven as FuzzVolume.h
// says, with each hit's run list asked for.
//
// Checks besides those of FuzzVolume.h: records answer 0, -1 or 87; nodes
// carry the engine's type, a cluster size the engine accepts and sectors on
// the device, and are no more than the engine counts.
#include "core/ByteReader.h"
#include "core/FileNode.h"
#include "core/Recognisers.h"
#include "engines/ntfs/CProfessionalNtfsRecovery.h"
#include "tests/fuzz/FuzzDisk.h"
#include "tests/fuzz/FuzzVolume.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace
{
constexpr size_t PREFIX = 6;
constexpr size_t REREAD_BYTES = 8192;

uint32_t Next(uint32_t& x)
{
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

// The sectors of the area that start a record, in the order the input asks.
std::vector<std::pair<uint64_t, uint64_t>> OfferOrder(const uint8_t* dev, uint64_t devBytes, uint64_t start,
                                                      uint8_t mode, uint32_t seed)
{
    std::vector<uint64_t> records;
    for (uint64_t s = start; s * 512 + 512 <= devBytes; ++s)
    {
        if (IsNtfsFileRecord(fuzz::ExactCopy(dev + s * 512, size_t(devBytes - s * 512), 1024).get(), 1024))
            records.push_back(s);
    }
    std::vector<std::pair<uint64_t, uint64_t>> order; // (where the bytes are, sector claimed)
    uint32_t x = seed | 1;
    if (mode % 5 == 1)
        std::reverse(records.begin(), records.end());
    else if (mode % 5 == 2)
        std::stable_partition(records.begin(), records.end(), [](uint64_t s) { return s % 2 == 1; });
    else if (mode % 5 == 3)
        for (size_t i = records.size(); i > 1; --i)
            std::swap(records[i - 1], records[Next(x) % i]);
    for (uint64_t s : records)
    {
        order.push_back({s, s});
        if (mode % 5 == 4)
            order.push_back({s, start + Next(x) % (devBytes / 512 - start)});
    }
    return order;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < PREFIX + 1024)
        return 0;
    const uint8_t mode = data[0];
    const uint32_t seed = tessaroo::ByteReader(data, size).U32(1);
    const uint64_t start = data[5] & 7;
    data += PREFIX;
    size -= PREFIX;

    fuzz::VolumeRun run(data, size, 0);
    const uint64_t sectors = uint64_t(run.Sectors()), deviceBytes = sectors * 512;
    if (start >= sectors)
        return 0;
    std::vector<uint8_t> device(size_t(deviceBytes), 0);
    memcpy(device.data(), data, size);

    std::unique_ptr<CProfessionalNtfsRecovery> engine(new CProfessionalNtfsRecovery());
    if (engine->Init(0, (long long)start, (long long)(sectors - start), L'C') != 0)
        fuzz::Fail("the device could not be opened");
    engine->InitProfessionalScan(nullptr);
    for (const auto& offer : OfferOrder(device.data(), deviceBytes, start, mode, seed))
    {
        const auto record = fuzz::ExactCopy(device.data() + offer.first * 512,
                                            size_t(deviceBytes - offer.first * 512), REREAD_BYTES);
        const unsigned st = engine->ParseNtfsFileRecord(record.get(), offer.second);
        if (st != 0 && st != 87 && int(st) != -1)
            fuzz::Fail("a record gave a status outside 0, -1 and 87");
    }
    engine->ParseProfessionalRecordVec();

    size_t hits = 0;
    fuzz::DriveOptions options;
    options.checkHit = [&](const _FILE_NODE_& h)
    {
        const uint32_t spc = h.uClusterSize / 512;
        if (h.uEngineType != ENGINE_TYPE_DEEP_NTFS || h.uClusterSize % 512 != 0 || spc == 0 || spc > 128 ||
            (spc & (spc - 1)) != 0)
            fuzz::Fail("a node with a foreign type or a cluster size the engine refuses");
        if (h.u64RecordSector >= sectors || h.u64PartitionStartSector >= sectors)
            fuzz::Fail("a node placed off the device");
        std::vector<__RUNLIST__> runs;
        engine->GetRunListInfo((long long)h.u64RecordSector, 0x80, runs);
        ++hits;
    };
    fuzz::DriveListing(*engine, (long long)sectors, options);
    if (hits > engine->GetLostFileCount())
        fuzz::Fail("more hits than nodes");
    return 0;
}
