// A private support folder per test, so the stores and the scan index of a
// test never see another test's files or the machine's own.
#pragma once

#include "core/Platform.h"
#include "store/CLogFileManager.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using tessaroo::test::PathExists;
using tessaroo::test::ReadFileText;
using tessaroo::test::WriteFileText;

class StoreTestEnv : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        std::string tmpl = ::testing::TempDir() + "tessaroo_store_XXXXXX";
        ASSERT_NE(mkdtemp(&tmpl[0]), nullptr);
        m_dir = tmpl + "/";
        setenv("TESSAROO_SUPPORT_DIR", m_dir.c_str(), 1);
        m_root = tessaroo::GetScanLogRoot();
        ASSERT_TRUE(tessaroo::MakeDirs(m_root));
        CLogFileManager::GetInstance()->Init();
    }
    void TearDown() override
    {
        nftw(
            m_dir.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p), 0; },
            16, FTW_PHYS | FTW_DEPTH);
    }

    static long long FileSize(const std::string& path)
    {
        struct stat st;
        return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
    }

    std::string m_dir;  // the support folder
    std::string m_root; // its scan-log root
};
