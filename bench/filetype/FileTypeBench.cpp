// How fast the file type judge classifies sectors, on one core.
//
// The deep scan offers every free sector of a device to GetDataBufType, so
// classification must never be what limits a scan: the target is at least
// 1 GB/s (about 2 million 512-byte sectors a second) on random and on zero
// data. Each case below walks a device image sector by sector as the carving
// sweep does (BeginLookup, then the content lookup) and reports sectors/s
// (items_per_second) and bytes/s:
//   RandomSectors   64 MiB of random bytes (typical of compressed or encrypted data)
//   ZeroSectors     64 MiB of zeros (wiped or never-written media)
//   RealFileSectors every sector of the sample files of tools/make_format_samples.sh
// and the same through the table-order reference path, for comparison.
//
// Run from a Release build:  bench/filetype/bench_filetype
#include "core/CDiskReader.h"
#include "engines/signature/CFileTypeJudge.h"

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace
{
using Bytes = std::vector<unsigned char>;
constexpr int SECTOR = 512;

// A device image in a temporary file, mapped as disk 0, with a reader.
class BenchDevice
{
  public:
    explicit BenchDevice(const Bytes& image)
    {
        char path[] = "/tmp/tessaroo-bench-XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0)
            return;
        m_path = path;
        const bool written = write(fd, image.data(), image.size()) == ssize_t(image.size());
        close(fd);
        setenv("TESSAROO_DISKS", m_path.c_str(), 1);
        m_bOk = written && m_reader.Init(0, image.size() / SECTOR) == 0;
    }
    ~BenchDevice()
    {
        if (!m_path.empty())
            unlink(m_path.c_str());
    }
    CDiskReader* Reader() { return m_bOk ? &m_reader : nullptr; }

  private:
    std::string m_path;
    CDiskReader m_reader;
    bool m_bOk = false;
};

Bytes RandomImage()
{
    Bytes b(64u << 20);
    std::mt19937_64 rng(12345);
    for (size_t i = 0; i < b.size(); i += 8)
    {
        const uint64_t v = rng();
        for (int k = 0; k < 8; ++k)
            b[i + size_t(k)] = static_cast<unsigned char>(v >> (8 * k));
    }
    return b;
}

Bytes SampleImage()
{
    const std::string dir = TESSAROO_SAMPLES_DIR;
    const char* tools = getenv("TESSAROO_TOOLS_DIR");
    const std::string script =
        std::string(tools ? tools : TESSAROO_TOOLS_DIR_DEFAULT) + "/make_format_samples.sh";
    if (std::system(("'" + script + "' '" + dir + "'").c_str()) != 0)
        fprintf(stderr, "make_format_samples.sh failed; real-file figures are missing\n");
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str()))
    {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    Bytes image(SECTOR, 0);
    for (const std::string& n : names)
    {
        std::ifstream in(dir + "/" + n, std::ios::binary);
        Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        b.resize((b.size() + SECTOR - 1) / SECTOR * SECTOR);
        image.insert(image.end(), b.begin(), b.end());
    }
    image.resize(image.size() + 64 * SECTOR, 0);
    return image;
}

template <EXTEND_NAME_TYPE (*Lookup)(const unsigned char*, int)>
void Sweep(benchmark::State& state, const Bytes& image, CDiskReader* reader)
{
    CFileTypeJudge judge(reader);
    const size_t sectors = image.size() / SECTOR;
    size_t found = 0;
    for (auto _ : state)
    {
        for (size_t s = 0; s < sectors; ++s)
        {
            judge.BeginLookup(SECTOR, s);
            found += Lookup(&image[s * SECTOR], SECTOR) != EXT_UNKNOWN;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(sectors));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sectors) * SECTOR);
    state.counters["typed_sectors"] = double(found) / double(state.iterations());
}

struct Images
{
    Bytes random = RandomImage();
    Bytes zero = Bytes(64u << 20, 0);
    Bytes real = SampleImage();
    BenchDevice randomDevice{random};
    BenchDevice realDevice{real};
};

Images& TheImages()
{
    static Images images;
    return images;
}

void RandomSectors(benchmark::State& s)
{
    Sweep<CFileTypeJudge::GetDataBufType>(s, TheImages().random, TheImages().randomDevice.Reader());
}
void ZeroSectors(benchmark::State& s)
{
    Sweep<CFileTypeJudge::GetDataBufType>(s, TheImages().zero, nullptr);
}
void RealFileSectors(benchmark::State& s)
{
    Sweep<CFileTypeJudge::GetDataBufType>(s, TheImages().real, TheImages().realDevice.Reader());
}
void RandomSectorsTableOrder(benchmark::State& s)
{
    Sweep<CFileTypeJudge::GetDataBufTypeByTableOrder>(s, TheImages().random,
                                                      TheImages().randomDevice.Reader());
}
void ZeroSectorsTableOrder(benchmark::State& s)
{
    Sweep<CFileTypeJudge::GetDataBufTypeByTableOrder>(s, TheImages().zero, nullptr);
}
void RealFileSectorsTableOrder(benchmark::State& s)
{
    Sweep<CFileTypeJudge::GetDataBufTypeByTableOrder>(s, TheImages().real, TheImages().realDevice.Reader());
}
} // namespace

BENCHMARK(RandomSectors)->Unit(benchmark::kMillisecond);
BENCHMARK(ZeroSectors)->Unit(benchmark::kMillisecond);
BENCHMARK(RealFileSectors)->Unit(benchmark::kMillisecond);
BENCHMARK(RandomSectorsTableOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(ZeroSectorsTableOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(RealFileSectorsTableOrder)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
