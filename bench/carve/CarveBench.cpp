// The carving sweep of a deep scan over a whole raw image, timed: the image
// is read 64 KiB at a time and every sector is offered to the signature
// engine's ParseFileBuf, going on after each carved file's extent, as the
// deep-scan coordinator does with free space. Prints the sectors swept, the
// files carved and the wall time of the sweep (the store's setup is not
// timed).
//
// Usage: bench_carve IMAGE
// Run it from run_bench.sh, which warms the page cache and times PhotoRec on
// the same image. TESSAROO_SUPPORT_DIR should name a scratch folder: the
// carved nodes are spooled to a store below it.
#include "core/CDiskReader.h"
#include "core/Log.h"
#include "engines/signature/CFileTypeRecovery.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{
void QuietLog(const char*) {}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        fprintf(stderr, "usage: %s IMAGE\n", argv[0]);
        return 2;
    }
    struct stat st;
    if (stat(argv[1], &st) != 0)
    {
        perror(argv[1]);
        return 1;
    }
    setenv("TESSAROO_DISKS", argv[1], 1);
    tessaroo::SetLogSink(QuietLog);
    constexpr int BPS = 512, CHUNK = 128;
    const unsigned long long total = (unsigned long long)st.st_size / BPS;

    CFileTypeRecovery engine;
    CDiskReader reader;
    if (engine.Init(0, 0, (long long)total, L'C') != 0 || reader.Init(0, total) != 0)
    {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<unsigned char> chunk(CHUNK * BPS);
    unsigned long long files = 0, pos = 0;
    const auto start = std::chrono::steady_clock::now();
    while (pos < total)
    {
        const int n = int(std::min<unsigned long long>(CHUNK, total - pos));
        unsigned int got = 0;
        if (reader.ReadData(chunk.data(), n, (long long)pos, BPS, &got) != 0)
            got = 0;
        unsigned long long next = pos + (unsigned long long)n;
        for (int k = 0; k < int(got);)
        {
            unsigned long long skip = 1;
            engine.ParseFileBuf(chunk.data() + size_t(k) * BPS, BPS, pos + (unsigned long long)k, pos, total,
                                -1, &reader, BPS, skip, files);
            if ((unsigned long long)k + skip > (unsigned long long)n)
            {
                next = pos + (unsigned long long)k + skip;
                break;
            }
            k += int(skip);
        }
        pos = next;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("sectors %llu files %llu seconds %.3f MiB/s %.1f\n", total, files, seconds,
           double(total) * BPS / 1048576.0 / seconds);
    return 0;
}
