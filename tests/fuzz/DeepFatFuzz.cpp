// libFuzzer target: the deep FAT engine fed hostile folder sectors in a
// hostile order over a hostile device, then queried, previewed and copied.
//
// Input: one header byte, then records of 515 bytes: an operation byte, a
// 16-bit sector number (little-endian, taken modulo the device size) and a
// 512-byte sector. Every record's sector is written to the device (a memfd
// of 4096 sectors, zeros elsewhere) at its number, so that the engine's own
// reads (a folder's first sector, a subfolder's dot pair, file data, the
// boot sector at the start of the swept range) meet the same hostile bytes.
// Then the records are offered in input order, not sector order:
//   op bit 2 set:   written to the device only (a boot sector, file data);
//   op bit 1 set:   offered as the sweep offers, by the recognisers
//                   (IsFatFileRecord, else IsFatFDTRecord);
//   otherwise:      bit 0 picks ParseFatFileRecord or ParseFDTFileRecord
//                   whatever the sector holds.
// Header bits 0-1 pick the start of the swept range (0, 63, 1000 or 2048).
// The end-of-sweep pass follows, then the listing driven as FuzzVolume.h
// says, each of the first files copied on its own: every copy must get
// exactly one final report.
#include "core/ByteReader.h"
#include "core/Recognisers.h"
#include "engines/fat/CProfessionalFatRecovery.h"
#include "tests/fuzz/FuzzDisk.h"
#include "tests/fuzz/FuzzVolume.h"

#include <cstring>
#include <memory>
#include <vector>

namespace
{
constexpr uint64_t DEVICE_SECTORS = 4096;
constexpr size_t RECORD = 1 + 2 + 512;
constexpr unsigned long long STARTS[4] = {0, 63, 1000, 2048};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 + RECORD)
        return 0;
    const unsigned long long start = STARTS[data[0] & 3];
    const size_t records = (size - 1) / RECORD;

    // The device: zeros, and every record's sector at its number.
    std::vector<uint8_t> device(DEVICE_SECTORS * 512, 0);
    const auto sectorOf = [&](size_t r)
    { return tessaroo::ByteReader(data + 2 + r * RECORD, 2).U16(0) % DEVICE_SECTORS; };
    for (size_t r = 0; r < records; ++r)
        memcpy(device.data() + sectorOf(r) * 512, data + 4 + r * RECORD, 512);
    fuzz::VolumeRun run(device.data(), device.size(), 0);

    std::unique_ptr<CProfessionalFatRecovery> engine(new CProfessionalFatRecovery());
    if (engine->Init(0, (long long)start, (long long)(DEVICE_SECTORS - start), L'C') != 0)
        fuzz::Fail("Init failed on a readable device");
    engine->ClearProfessionalVec(nullptr);
    engine->InitVirtualDbrInfo();
    std::vector<uint8_t> sector(512);
    for (size_t r = 0; r < records; ++r)
    {
        const uint8_t op = data[1 + r * RECORD];
        // A heap copy of exactly one sector: a read past it faults.
        memcpy(sector.data(), data + 4 + r * RECORD, 512);
        const bool sweep = op & 2; // else the op's bit 0 picks the parser
        if (op & 4)
            continue;
        if (sweep ? IsFatFileRecord(sector.data()) : (op & 1))
            engine->ParseFatFileRecord(sector.data(), sectorOf(r));
        else if (!sweep || IsFatFDTRecord(sector.data(), 512))
            engine->ParseFDTFileRecord(sector.data(), sectorOf(r));
    }
    engine->DealProfessionalRecordVec();
    fuzz::DriveOptions options;
    options.directCopies = true;
    fuzz::DriveListing(*engine, run.Sectors(), options);
    return 0;
}
