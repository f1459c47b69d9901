// A private support folder per test, so the stores and the scan index of a
// test never see another test's files or the machine's own.
#pragma once

#include "core/Platform.h"
#include "store/CLogFileManager.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using tessaroo::test::PathExists;
using tessaroo::test::ReadFileText;
using tessaroo::test::WriteFileText;

class StoreTestEnv : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_tmp.Path().empty());
        setenv("TESSAROO_SUPPORT_DIR", m_dir.c_str(), 1);
        m_root = tessaroo::GetScanLogRoot();
        ASSERT_TRUE(tessaroo::MakeDirs(m_root));
        CLogFileManager::GetInstance()->Init();
    }

    tessaroo::test::TempDir m_tmp{"store"};
    std::string m_dir = m_tmp.Path() + "/"; // the support folder
    std::string m_root;                     // its scan-log root
};
