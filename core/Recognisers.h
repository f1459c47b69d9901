// Pure functions deciding from raw bytes what a sector or buffer holds. Each
// states the bytes it reads; none reads past them.
#pragma once

#include "BootSector.h"

#include <cstddef>
#include <cstdint>

// NTFS boot sector. Reads 512 bytes.
bool IsNtfs(const unsigned char* buf);
// FAT12/16/32 boot sector. Reads 512 bytes.
bool IsFat(const unsigned char* buf);
// ext2/3/4 volume start. Reads 2048 bytes (superblock at 1024).
bool IsExt(const unsigned char* buf);
// Unfixed MFT record. Reads recordSize bytes; false when recordSize < 512.
bool IsNtfsFileRecord(const unsigned char* rec, int recordSize);
// The "." / ".." pair that starts a FAT subdirectory: ". " and ".." named,
// both folders, both of size 0. Reads 64 bytes.
bool IsFatFileRecord(const unsigned char* buf);
// The same on len bytes; false when fewer than 64 are given.
bool IsFatFileRecord(const unsigned char* buf, size_t len);
// One directory entry: a long-name part, a folder, a volume label, or a file
// (whatever its read-only, hidden, system and archive bits). This form reads
// only the entry's 32 bytes, so the dot-pair shortcut (which needs the next
// entry) never applies.
int IsFatEntyValid(const FAT32_Entry* e);
// The same for the entry at buf, with avail bytes readable from buf: the
// dot-pair test looks at the next entry only when avail >= 64.
int IsFatEntyValid(const unsigned char* buf, size_t avail);
// len bytes of directory entries (a sector or more). Reads len bytes.
int IsFatFDTRecord(const unsigned char* buf, int len);

// Entry dates as seconds since 1970 of the local midnight. Read 32 bytes.
void Fat32GetFileCreateTime(const FAT32_Entry* e, _FILETIME* t);
void Fat32GetFileLastAccessTime(const FAT32_Entry* e, _FILETIME* t);
void Fat32GetFileLastChangeTime(const FAT32_Entry* e, _FILETIME* t);
// The same from a raw date word; the engines use this on entry bytes.
uint64_t FatDateToTime(uint16_t date);

// FAT long-name checksum of an 11-byte short name.
unsigned char GetShortNameCheckSum(const char* name11);

// Default NTFS sectors per cluster (1, 2, 4 or 8) for a volume size.
unsigned int GetDefaultNtfsSectorPerCluster(unsigned long long sectorCount, unsigned int bytesPerSector);
