// Everything of the test-support library in one include.
#pragma once

#include "tests/support/FatBuilder.h"
#include "tests/support/ImageFile.h"
#include "tests/support/Manifest.h"
#include "tests/support/NtfsBuilder.h"
#include "tests/support/RunTool.h"
#include "tests/support/Sha256.h"
#include "tests/support/TempDir.h"
