// StatInfo of an existing path against one fstatat of the same path in the
// same run. The "ratio" counter is StatInfo time over fstatat time: the
// cost of splitting and copying the names beside the one status call that
// both make (for a path that is not a link, StatInfo's lstat64 serves for
// the facts and the link test at once).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "bench/baseline_timer.h"
#include "config/subsystem.h"
#include "files/stat_info.h"

const char *mySubSystem = "TOOL";

namespace {

void BM_StatInfoExistingPath(benchmark::State &state) {
    char dir[] = "/tmp/torvel_files_bench.XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    std::string path = std::string(dir) + "/sub/file.txt";
    mkdir((std::string(dir) + "/sub").c_str(), 0755);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd >= 0) {
        close(fd);
    }
    RunWithBaseline(
        state,
        [&path] {
            StatInfo info(path.c_str());
            benchmark::DoNotOptimize(info.GetFileSize());
        },
        [&path] {
            struct stat buf;
            int result = fstatat(AT_FDCWD, path.c_str(), &buf, 0);
            benchmark::DoNotOptimize(result);
            benchmark::DoNotOptimize(buf.st_size);
        });
    unlink(path.c_str());
    rmdir((std::string(dir) + "/sub").c_str());
    rmdir(dir);
}
BENCHMARK(BM_StatInfoExistingPath)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
