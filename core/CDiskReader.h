// Read-only sector reader over a disk or image opened by disk number.
#pragma once

#include <cstdint>

class CDiskReader
{
  public:
    CDiskReader();
    ~CDiskReader();
    CDiskReader(const CDiskReader&) = delete;
    CDiskReader& operator=(const CDiskReader&) = delete;

    // Opens disk diskIndex read-only; endSector is the first sector beyond
    // the readable range (volume start + sector count). 0 or errno.
    unsigned int Init(int diskIndex, unsigned long long endSector);
    // Accepts a path but opens nothing: every later read returns 87.
    unsigned int Init(wchar_t* path, unsigned long long endSector);

    // Reads sectorCount sectors of bytesPerSector bytes from startSector into
    // buf (at least sectorCount * bytesPerSector bytes). Returns 0; 87 for a
    // range outside [0, endSector) or a bad count/size, before any read;
    // errno of a failed seek; 30 for a short read, with the whole sectors that
    // arrived in *sectorsRead.
    unsigned int ReadData(unsigned char* buf, int sectorCount, long long startSector, int bytesPerSector,
                          unsigned int* sectorsRead);

    int GetHandle() const { return m_hDevice; }
    unsigned long long GetEndSector() const { return m_u64EndSector; }

  private:
    int m_hDevice;
    unsigned long long m_u64EndSector;
};

// Reads len bytes from fd's current position in pieces of at most 64 KiB.
// 0 with *got = len, or 30 with *got = the bytes that arrived.
unsigned int ReadData(int fd, unsigned char* buf, int len, unsigned int* got);
