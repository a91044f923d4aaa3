// Logo figures: the preview rebuild for small and large sources at 10 %,
// 100 % and 500 %, then the load of a generated 24-megapixel JPEG beside
// libjpeg-turbo's own djpeg decoding the same file to /dev/null, and the
// peak resident memory of that load (measured in a child process, so that
// nothing else of the benchmark counts).
//
//   logo_bench                       everything
//   logo_bench --benchmark_filter=X  Google Benchmark options for the rebuilds
//   logo_bench --no-load             the rebuilds only
#include "LogoPreview.h"
#include "PictureFiles.h"
#include "SourcePicture.h"

#include <QByteArray>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct TSize {
    int Width, Height;
};
constexpr TSize Sources[] = {{400, 250}, {3000, 2000}, {6000, 4000}};

const TSourcePicture& Source(int index)
{
    static TSourcePicture pictures[3];
    TSourcePicture& p = pictures[index];
    if (p.IsEmpty()) {
        p.Width = Sources[index].Width;
        p.Height = Sources[index].Height;
        p.Grey.resize(static_cast<std::size_t>(p.Width) * p.Height);
        std::uint32_t s = 12345;
        for (std::uint8_t& g : p.Grey) {
            s ^= s << 13; s ^= s >> 17; s ^= s << 5;
            g = static_cast<std::uint8_t>(s);
        }
    }
    return p;
}

void BM_FillImage(benchmark::State& state)
{
    const TSourcePicture& picture = Source(static_cast<int>(state.range(0)));
    const int scale = static_cast<int>(state.range(1));
    const TFillOptions options{scale, scale, 50, false, state.range(2) != 0};
    QImage preview = NewLogoPreview();
    TCopyRect frame;
    for (auto _ : state) {
        FillImage(picture, options, preview);
        DrawRect(preview, frame, 0, 0, 384, 255);
        benchmark::DoNotOptimize(preview.constBits());
    }
    state.SetLabel(std::to_string(picture.Width) + "x" + std::to_string(picture.Height) + " at "
                   + std::to_string(scale * 10) + "%" + (options.Dither ? " dithered" : ""));
}
BENCHMARK(BM_FillImage)
    ->ArgsProduct({{0, 1, 2}, {1, 10, 50}, {0}})
    ->ArgsProduct({{2}, {1, 10, 50}, {1}})
    ->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------- load

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Runs a program, returns its wall time in seconds (negative on failure) and
// its peak resident size in kB.
double RunProgram(const std::vector<std::string>& args, long* maxRssKb = nullptr, std::string* output = nullptr)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output) {
        if (pipe(pipeFds) != 0)
            return -1;
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    }
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (output) {
        close(pipeFds[1]);
        char buf[512];
        ssize_t n;
        while ((n = read(pipeFds[0], buf, sizeof buf)) > 0)
            output->append(buf, static_cast<std::size_t>(n));
        close(pipeFds[0]);
    }
    if (rc != 0)
        return -1;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    if (maxRssKb)
        *maxRssKb = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

long StatusKb(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(static_cast<int>(std::strlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Child mode: load the file once and print the peak resident size before
// and after, in kB.
int MeasureLoad(const char* path)
{
    const long before = StatusKb("VmHWM:");
    TSourcePicture picture;
    QString error;
    if (!LoadJpegPicture(QString::fromLocal8Bit(path), picture, error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("%ld %ld %d %d\n", before, StatusKb("VmHWM:"), picture.Width, picture.Height);
    return 0;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int LoadFigures(const char* self)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    const int w = 6000, h = 4000;
    // A photo-like picture: smooth light and shade with fine noise on it,
    // 4:2:0 at quality 90, as a camera writes it.
    std::uint32_t s = 987654321;
    const bool written = PictureFiles::WriteJpeg(
        path, {w, h, PictureFiles::TJpegColours::YCbCr, 90, false}, [&s](int y, std::uint8_t* row) {
            for (int x = 0; x < w; ++x) {
                s ^= s << 13; s ^= s >> 17; s ^= s << 5;
                const int noise = static_cast<int>(s & 15) - 8;
                const int base = 128 + static_cast<int>(90 * std::sin(x / 300.0) * std::cos(y / 200.0));
                row[3 * x] = static_cast<std::uint8_t>(std::clamp(base + noise, 0, 255));
                row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(base / 2 + 60 + noise, 0, 255));
                row[3 * x + 2] = static_cast<std::uint8_t>(std::clamp(255 - base + noise, 0, 255));
            }
        });
    if (!written) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    const std::string file = QFile::encodeName(path).toStdString();
    std::printf("\nJPEG load, %d x %d (%.1f MB file)\n", w, h, QFile(path).size() / 1e6);

    const QString djpeg = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
    std::vector<double> ours, theirs;
    long djpegRss = 0;
    for (int i = 0; i < 7; ++i) {
        if (!djpeg.isEmpty())
            theirs.push_back(RunProgram({djpeg.toStdString(), "-outfile", "/dev/null", file}, &djpegRss));
        TSourcePicture picture;
        QString error;
        const auto start = std::chrono::steady_clock::now();
        if (!LoadJpegPicture(path, picture, error)) {
            std::fprintf(stderr, "load failed: %s\n", qPrintable(error));
            return 1;
        }
        ours.push_back(Seconds(std::chrono::steady_clock::now() - start));
    }
    const double oursMedian = Median(ours);
    std::printf("  LoadJpegPicture          median %7.1f ms (min %.1f)\n", 1e3 * oursMedian,
                1e3 * *std::min_element(ours.begin(), ours.end()));
    if (djpeg.isEmpty() || *std::min_element(theirs.begin(), theirs.end()) < 0) {
        std::printf("  djpeg not found or failed (package libjpeg-turbo-progs): no ratio\n");
    } else {
        const double theirsMedian = Median(theirs);
        std::printf("  djpeg -outfile /dev/null median %7.1f ms (min %.1f), process start included\n",
                    1e3 * theirsMedian, 1e3 * *std::min_element(theirs.begin(), theirs.end()));
        std::printf("  ratio                    %.2f x  (goal <= 1.20)\n", oursMedian / theirsMedian);
    }

    std::string out;
    if (RunProgram({self, "--measure-load", file}, nullptr, &out) < 0) {
        std::fprintf(stderr, "memory measurement failed\n");
        return 1;
    }
    long before = 0, after = 0;
    int pw = 0, ph = 0;
    if (std::sscanf(out.c_str(), "%ld %ld %d %d", &before, &after, &pw, &ph) != 4)
        return 1;
    const double pixelsMb = double(pw) * ph / (1024.0 * 1024.0);
    const double grownMb = (after - before) / 1024.0;
    std::printf("  peak resident growth     %7.1f MB for %.1f MB of grey pixels: pixels + %.1f MB (goal <= 16)\n",
                grownMb, pixelsMb, grownMb - pixelsMb);
    std::printf("  peak resident, whole     %7.1f MB (process before the load %.1f MB)\n", after / 1024.0,
                before / 1024.0);
    if (djpegRss > 0)
        std::printf("  djpeg peak resident      %7.1f MB\n", djpegRss / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--measure-load") == 0)
        return MeasureLoad(argv[2]);
    bool load = true;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-load") == 0)
            load = false;
        else
            args.push_back(argv[i]);
    }
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return load ? LoadFigures("/proc/self/exe") : 0;
}
