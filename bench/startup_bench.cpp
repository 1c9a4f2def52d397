// Start-up to the first window mapped, as the X server sees it: from the
// exec of a fresh process to the MapNotify of its first top-level window.
// The console is measured side by side with two baselines started from this
// very binary, in turns, so a loaded machine weighs on all three alike:
//
//   blank     a blank Qt 6 window
//   tree      a window with a menu, a tree and a status bar
//   console   the console (bin/velmora next to bench/), in a folder of its own
//
// Counters: median_ms per program and ratio = median / blank's median.
//
// Run under an X server:  xvfb-run -a ./startup_bench
//   VELMORA_CONSOLE=path   another console binary
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeView>

#include <X11/Xlib.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

int Baseline(int argc, char **argv, const char *which)
{
    QApplication app(argc, argv);
    QMainWindow window;
    if (std::strcmp(which, "tree") == 0) {
        QMenu *file = window.menuBar()->addMenu(QStringLiteral("&File"));
        file->addAction(QStringLiteral("&Connect"));
        file->addAction(QStringLiteral("E&xit"));
        window.menuBar()->addMenu(QStringLiteral("&Help"))->addAction(QStringLiteral("&About"));
        auto *model = new QStandardItemModel(0, 8, &window);
        model->setHorizontalHeaderLabels({QStringLiteral("Status"), QStringLiteral("Start"), QStringLiteral("End"),
                                          QStringLiteral("Name"), QStringLiteral("Site"), QStringLiteral("IP"),
                                          QStringLiteral("E-mail"), QStringLiteral("Phone")});
        auto *tree = new QTreeView(&window);
        tree->setRootIsDecorated(false);
        tree->setModel(model);
        window.setCentralWidget(tree);
        window.statusBar()->showMessage(QStringLiteral("Disconnected"));
    }
    window.resize(640, 400);
    window.show();
    return app.exec();
}

std::string Self()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, std::size_t(n)) : std::string();
}

std::string Console()
{
    if (const char *named = std::getenv("VELMORA_CONSOLE"))
        return named;
    const std::string self = Self();
    return self.substr(0, self.rfind('/')) + "/../bin/velmora";
}

// Milliseconds from the exec of `argv` to its first top-level window mapped,
// or a negative number when none is mapped within 20 s.
double TimeToMapped(Display *display, const std::vector<std::string> &args, const char *dir)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    while (XPending(display)) { // what earlier runs left
        XEvent e;
        XNextEvent(display, &e);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    double ms = -1;
    const auto deadline = start + std::chrono::seconds(20);
    while (ms < 0 && std::chrono::steady_clock::now() < deadline) {
        if (!XPending(display)) {
            pollfd fd{ConnectionNumber(display), POLLIN, 0};
            poll(&fd, 1, 50);
            continue;
        }
        XEvent e;
        XNextEvent(display, &e);
        if (e.type == MapNotify && !e.xmap.override_redirect)
            ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    kill(child, SIGTERM);
    for (int i = 0; i < 100 && waitpid(child, nullptr, WNOHANG) == 0; ++i)
        usleep(20000);
    if (waitpid(child, nullptr, WNOHANG) == 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    return ms;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BM_StartUpToMapped(benchmark::State &state)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        state.SkipWithError("no X display (run under xvfb-run -a)");
        return;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
    QTemporaryDir home;
    const std::string dir = home.path().toStdString();
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
    const std::string self = Self();
    const std::vector<std::vector<std::string>> programs = {
        {self, "--baseline", "blank"}, {self, "--baseline", "tree"}, {Console()}};
    TimeToMapped(display, programs[2], dir.c_str()); // the console's first run writes its folder
    std::vector<std::vector<double>> times(programs.size());
    for (auto _ : state) {
        for (std::size_t p = 0; p < programs.size(); ++p)
            times[p].push_back(TimeToMapped(display, programs[p], dir.c_str()));
    }
    XCloseDisplay(display);
    const char *names[] = {"blank", "tree", "console"};
    const double blank = Median(times[0]);
    for (std::size_t p = 0; p < programs.size(); ++p) {
        state.counters[std::string(names[p]) + "_median_ms"] = Median(times[p]);
        state.counters[std::string(names[p]) + "_ratio"] = blank > 0 ? Median(times[p]) / blank : 0;
    }
}
BENCHMARK(BM_StartUpToMapped)->Iterations(15)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--baseline") == 0)
        return Baseline(argc, argv, argv[2]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
