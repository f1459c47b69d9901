// What the signature tests share: the generated sample files, a disk image
// mapped as disk 0 with a reader over it, and a clean judge state.
#pragma once

#include "core/CDiskReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sigtest
{
using Bytes = std::vector<uint8_t>;

// The folder tools/make_format_samples.sh fills, in the build tree. Made on
// first use (once per build: the script skips work when its stamp matches);
// "" when the script failed, with the reason on stderr.
const std::string& SamplesDir();
// A sample's bytes; fails the test when the file is missing.
Bytes Sample(const std::string& name);

// A disk image of the given bytes, padded to whole sectors, mapped as disk 0
// through TESSAROO_DISKS, with a reader over all of it.
class ImageDevice
{
  public:
    explicit ImageDevice(const Bytes& bytes, int bytesPerSector = 512);
    CDiskReader& Reader() { return m_reader; }
    unsigned long long Sectors() const { return m_u64Sectors; }
    bool Ok() const { return m_bOk; }

  private:
    tessaroo::test::TempDir m_dir;
    std::unique_ptr<tessaroo::test::ScopedEnv> m_env;
    CDiskReader m_reader;
    unsigned long long m_u64Sectors = 0;
    bool m_bOk = false;
};

// Bytes placed at sector offsets of an otherwise zero image of total sectors.
Bytes Layout(size_t totalSectors, const std::vector<std::pair<size_t, Bytes>>& pieces,
             int bytesPerSector = 512);
// len bytes of b from off, zero-padded.
Bytes Slice(const Bytes& b, size_t off, size_t len);

// Puts the process-wide judge state back to its start values.
void ResetJudgeState();

class JudgeTest : public ::testing::Test
{
  protected:
    void SetUp() override { ResetJudgeState(); }
    void TearDown() override { ResetJudgeState(); }
};
} // namespace sigtest
