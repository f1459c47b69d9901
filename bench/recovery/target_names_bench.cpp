// Recovering a card where thousands of deleted files share one name (every
// camera's "report.txt", "IMG_0001.JPG" of several card uses): each file
// gets the next free "(n)" name. Run:
//   build/dev/bench/recovery/target_names_bench [count] [folder]
// It writes count files of 4 KiB named "report.txt" into a fresh folder
// below folder (default: $TMPDIR or /tmp) and prints the time per 1,000.
#include "core/Portability.h"
#include "recovery/CTargetFile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const int count = argc > 1 ? atoi(argv[1]) : 20000;
    const char* tmp = getenv("TMPDIR");
    std::string base = argc > 2 ? argv[2] : (tmp ? tmp : "/tmp");
    std::vector<char> name(base.begin(), base.end());
    const std::string tail = "/tessaroo-names-XXXXXX";
    name.insert(name.end(), tail.begin(), tail.end());
    name.push_back(0);
    if (!mkdtemp(name.data()))
        return 1;
    const std::string dest = name.data();
    tessaroo::CTargetRoot root;
    std::string message;
    if (root.Open(dest, tessaroo::Utf8ToWide(dest.c_str()), message) != 0)
    {
        fprintf(stderr, "%s\n", message.c_str());
        return 1;
    }
    std::wstring target = tessaroo::Utf8ToWide((dest + "/document/report.txt").c_str());
    std::vector<char> data(4096, 'r');
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
    {
        tessaroo::CTargetFile f;
        unsigned int st = f.Create(target.c_str());
        if (st == 0)
            st = f.Write(data.data(), data.size());
        if (f.Finish(st) != 0)
        {
            fprintf(stderr, "file %d failed\n", i);
            return 1;
        }
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("%d files named report.txt in %.2f s (%.1f ms per 1,000) in %s\n", count, s, s * 1000000.0 / count,
           dest.c_str());
    return 0;
}
