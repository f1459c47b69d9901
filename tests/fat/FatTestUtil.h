// Shared by the FAT engine tests: a scan-log folder for the test process, an
// engine over an image file, and the names the engine gives manifest items.
#pragma once

#include "engines/CFileRecoveryFactory.h"
#include "core/IFileRecoveryParse.h"
#include "tests/support/PreviewCheck.h"
#include "tests/support/TestSupport.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
// Points TESSAROO_SUPPORT_DIR at a folder of this process (once) and gives
// every scan a fresh scan-log folder.
void PrepareScanLog();

// An engine over image (as disk 0) for the volume at startSector, made by
// the factory as the front ends make it. TESSAROO_DISKS stays set while the
// object lives.
class ImageEngine
{
  public:
    ImageEngine(const std::string& image, uint64_t startSector, uint64_t sectorCount);
    IFileRecoveryParse* operator->() const { return m_engine.get(); }
    IFileRecoveryParse* get() const { return m_engine.get(); }

  private:
    ScopedEnv m_disks;
    std::unique_ptr<IFileRecoveryParse> m_engine;
};

// Sectors of a whole image file.
uint64_t ImageSectors(const std::string& image);

// Every kind, and files of no kind.
std::wstring AllKindsKey();

// The paths "DOCS/SUB/name" (no leading '/') the engine may list a manifest
// item under: each folder and the item by its long name, or by its 8.3 name
// in lower case with '!' for the deleted mark where that is what was
// written. Deep (a manifest of tools/make_deep_fat_images.sh): a folder
// whose own entry the script did not keep is "LostFolder<cluster>".
std::set<std::string> CandidatePaths(const Manifest& m, const ManifestEntry& e, bool deep = false);

// A manifest item of tools/make_deep_fat_images.sh: its state words.
bool IsDeletedItem(const ManifestEntry& e);
bool IsKeptItem(const ManifestEntry& e);
bool IsIntactItem(const ManifestEntry& e);

// A node's name (UTF-8) as a string.
std::string NodeNameUtf8(const _FILE_NODE_& n);
// The node's folder path from the engine plus its name, UTF-8.
std::string NodePath(IFileRecoveryParse* engine, _FILE_NODE_& n);

// Walks the engine's folder tree from the root, each folder at its level,
// and counts the files met; a folder node without children fails the test.
size_t FilesInTree(IFileRecoveryParse* engine);

// Recovery reports collected by a callback.
struct Report
{
    int percent;
    int scale;
    int status;
    std::string target;
};
struct ReportLog
{
    std::vector<Report> reports;
    int answer = 0;          // returned to the engine
    int answerAtReport = -1; // when >= 0, answer only at this report index
    int Finals() const;      // reports with percent 100
};
int CollectReport(void* ctx, int percent, int scale, int status, wchar_t* target);

// Copies an image into dir and returns the copy's path.
std::string CopyImage(const std::string& image, const std::string& dir, const std::string& name);
} // namespace test
} // namespace tessaroo
