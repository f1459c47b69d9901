// Finds the disks of the machine and the partitions on each by reading their
// partition tables raw: GUID partition table, Apple partition map, or a PC
// master boot record with its chain of extended boot records. A disk with no
// table whose first sector is a FAT or NTFS boot sector (a card or stick
// formatted as one volume) lists as one partition covering the whole disk.
#pragma once

#include "partition/PartitionItem.h"

#include <cstdint>
#include <map>
#include <set>
#include <vector>

class CPartitionManager
{
  public:
    CPartitionManager();

    // Clears out and fills it with the partitions of every disk number 0 to
    // 127 that yields at least one, keyed by disk number, each disk's list in
    // table order. Disks that cannot be opened or read, or carry no known
    // table, are left out. Always returns 1.
    int GetPartitionItems(std::map<int, std::vector<_PARTITION_ITEM_>>& out);

    // Reads the MBR or EBR at baseSector of the open device fd and appends
    // its partitions to out, following extended partitions depth first where
    // their entries stand. A chain ends at a sector already visited or after
    // MAX_EBR_LINKS links. Logical partitions are named from the label
    // counter, which continues from earlier calls on this manager.
    //
    // Every table reader lists only what lies on the device when its size
    // is known: a partition that starts past the last sector is left out
    // (and takes no label), one that runs past it is cut at the last sector.
    void GetMBRPartition(int fd, unsigned int baseSector, std::vector<_PARTITION_ITEM_>& out, int diskIndex,
                         const char* diskName);

    // Table signatures. Each reads only inside buf[0, len) and is false when
    // its field does not fit.
    static bool IsMBR(const char* buf, int len); // 0x55 0xAA at 510
    static bool IsAPM(const char* buf, int len); // "ER" at 0
    static bool IsEFI(const char* buf, int len); // "EFI PART" at 0 (pass the header sector)

    // Links an EBR chain may have. Real disks carry a few dozen logical
    // partitions at most; the bound stops a chain whose links were damaged
    // into a cycle that a visited-sector check alone would take long to see.
    static constexpr int MAX_EBR_LINKS = 128;

  private:
    // Interprets the first TABLE_READ_SIZE bytes of one disk (fewer when the
    // disk is shorter) and appends its partitions.
    void ReadDiskTable(int fd, const unsigned char* buf, size_t len, std::vector<_PARTITION_ITEM_>& out,
                       int diskIndex, const char* diskName);
    void ReadGpt(const unsigned char* buf, size_t len, std::vector<_PARTITION_ITEM_>& out, int diskIndex,
                 const char* diskName);
    void ReadApm(int fd, const unsigned char* buf, size_t len, std::vector<_PARTITION_ITEM_>& out,
                 int diskIndex, const char* diskName);
    void AddWholeDisk(int fd, const unsigned char* buf, size_t len, std::vector<_PARTITION_ITEM_>& out,
                      int diskIndex, const char* diskName);
    void WalkMbr(int fd, unsigned int baseSector, std::vector<_PARTITION_ITEM_>& out, int diskIndex,
                 const char* diskName);
    // Fills the name with "Partition N" from the label counter and advances it.
    void NameFromCounter(_PARTITION_ITEM_& item);
    // Takes the sector count of the device fd, 0 when it cannot be had.
    void LearnDiskSize(int fd);
    // Fits item to the device: false when it starts past the last sector,
    // its end cut at the last sector when it runs past it.
    bool FitToDisk(_PARTITION_ITEM_& item, const char* diskName) const;

    int m_nSectorSize;          // always 512: tables are read in 512-byte sectors
    int m_nPartitionIndex;      // next "Partition N" label; runs on across disks
    unsigned int m_uExtendBase; // first EBR of the extended partition being walked, 0 before one

    std::set<unsigned int> m_setVisited;    // MBR/EBR sectors read in the current chain
    int m_nLinks;                           // extended links followed in the current chain
    uint64_t m_u64DiskSectors;              // sectors of the disk being read, 0 when unknown
    std::vector<unsigned char> m_vecSector; // one MBR/EBR read
};
