// Shared by the FAT engine tests: a scan-log folder for the test process, the
// fast engine over an image file, the deep engine fed sectors as the
// deep-scan sweep feeds them, and the names the engines give manifest items.
#pragma once

#include "core/IFileRecoveryParse.h"
#include "engines/fat/CProfessionalFatRecovery.h"
#include "tests/support/PreviewCheck.h"
#include "tests/support/TestSupport.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
typedef std::vector<__SEARCH_FILE_INFO__> Hits;

// Points TESSAROO_SUPPORT_DIR at a folder of this process (once) and gives
// every scan a fresh scan-log folder.
void PrepareScanLog();

// Every file the engine lists, of every kind and of none.
Hits ListAll(IFileRecoveryParse* engine);
// Every file the engine lists, by the path it shows, and those paths in order.
std::map<std::string, _FILE_NODE_> ByPath(IFileRecoveryParse* engine);
std::vector<std::string> Paths(const std::map<std::string, _FILE_NODE_>& files);
// The folder of that name in the root (::testing failure when there is none).
bool RootFolder(IFileRecoveryParse* engine, const std::string& name, _FILE_NODE_& out);

// An engine over image (as disk 0) for the volume at startSector, made by
// the factory as the front ends make it. TESSAROO_DISKS stays set while the
// object lives. sectorCount 0: the whole image.
class ImageEngine
{
  public:
    ImageEngine(const std::string& image, uint64_t startSector = 0, uint64_t sectorCount = 0);
    IFileRecoveryParse* operator->() const { return m_engine.get(); }
    IFileRecoveryParse* get() const { return m_engine.get(); }
    // ScanDevice (::testing assertion inside), then ListAll.
    Hits Scan();

  private:
    ScopedEnv m_disks;
    std::unique_ptr<IFileRecoveryParse> m_engine;
};

// A deep FAT scan of an image file (as disk 0) for the sectors
// [start, start + count): Init, a new store, the volume's own layout (Begin),
// sectors offered as the sweep offers them (Offer, or Sweep for all of
// them), the end-of-sweep pass (End). ::testing assertions inside.
class DeepFatScan
{
  public:
    DeepFatScan(const std::string& image, uint64_t start, uint64_t count);
    bool Begin();
    // An NTFS file record is passed over; a sector that starts with a
    // folder's dot pair goes to ParseFatFileRecord, any other sector of
    // directory entries to ParseFDTFileRecord. False for any other sector.
    bool Offer(uint8_t* sector, const uint8_t* next, uint64_t at);
    bool Sweep();
    void End();
    // Begin, Sweep, End; false when any step failed.
    bool Run();
    CProfessionalFatRecovery& Engine() { return *m_engine; }

  private:
    std::string m_image;
    uint64_t m_start, m_count;
    ScopedEnv m_disks;
    std::unique_ptr<CProfessionalFatRecovery> m_engine;
};

// A name whose extension is one of the picture kind's.
bool IsPictureName(const std::string& name);

// Sectors of a whole image file.
uint64_t ImageSectors(const std::string& image);

// A node's name (UTF-8) as a string.
std::string NodeNameUtf8(const _FILE_NODE_& n);
// The node's folder path from the engine plus its name, UTF-8.
std::string NodePath(IFileRecoveryParse* engine, _FILE_NODE_& n);

// Recovery reports collected by a callback.
struct Report
{
    int percent;
    int status;
    std::string target;
};
struct ReportLog
{
    std::vector<Report> reports;
    int answer = 0;     // returned to the engine
    int Finals() const; // reports with percent 100
};
// SaveFileData of node (a file or a folder) to target; the reports sent,
// each answered with answer.
ReportLog Recover(IFileRecoveryParse* engine, _FILE_NODE_ node, const std::string& target, unsigned& status,
                  int answer = 0, int rootSeparators = 0);
// Recovers a file into target, checks that it ends with status want in one
// final report (naming target when it succeeds), and returns what target
// holds ("" when there is none).
std::string Copy(IFileRecoveryParse* engine, const _FILE_NODE_& node, const std::string& target, int want);

} // namespace test
} // namespace tessaroo
