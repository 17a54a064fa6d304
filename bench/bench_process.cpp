// The program as a user starts and ends it, timed from outside: the real binary (next to the
// benchmark's folder, or $TAVOLIX_BIN) on a private X server, as a returning English-speaking
// user, with a blank page (session:0) or a restored session of 8 layers of 4096 pixels with
// brush strokes (session:8, bands:0) or with one 3000 x 120 band each (session:8, bands:1).
//   BM_ProcessStart   from exec to the first frame the X server shows (the splash): the whole
//                     start-up; the session is read after that frame, behind the splash. The
//                     counters give the median and the longest run, the median time from exec
//                     to the restored session (restored_median_ms), and the resident memory
//                     the program reported after the restore
//   BM_Thumbnail      `tavolix --thumbnail` of the stroked drawing, as a .tvl and as an .ora
//   BM_ProcessExit    from the window's close request (what a window manager's close button
//                     sends) on the canvas to the end of the process: the canvas settled, the
//                     settings, layout.json and the session (written only when the file does
//                     not hold the drawing: a blank page is, a restored session is not), the
//                     document and everything else freed
// The program runs with -v: its DEBUG line per frame, logged once the X server has the frame,
// marks the first frame; the canvas is reached through the splash's own 2 s, not timed.
#include <X11/Xlib.h>
#include <allegro5/allegro.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "canvas/ora.h"
#include "painted_document.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string program_path() {
    if (const char* bin = getenv("TAVOLIX_BIN")) return bin;
    std::error_code ignored;
    return (std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path().parent_path() /
            "tavolix")
        .string();
}

// Reads from `fd` into `text` until it holds `wanted` at or after `from` (true), or the
// stream ends or `seconds` pass (false).
bool read_until(int fd, std::string& text, const char* wanted, double seconds, size_t from = 0) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (text.find(wanted, from) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char chunk[4096];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) return false;
        text.append(chunk, static_cast<size_t>(n));
    }
    return true;
}

// A private X server for the whole run, gone with the benchmark binary.
struct PrivateX {
    pid_t pid = -1;
    std::string display;
    PrivateX() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            // Quiet: it reports every display number it finds taken on its way to a free one.
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            dup2(fds[1], 3);
            execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1400x900x24", "-nolisten",
                   "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string text;
        if (pid > 0 && read_until(fds[0], text, "\n", 10.0)) display = ":" + text.substr(0, text.find('\n'));
        close(fds[0]);
    }
    ~PrivateX() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

PrivateX& private_x() {
    static PrivateX x;
    return x;
}

// The save folder of a returning user: settings that name English and nothing else, and the
// session or none.
struct ProcessScratch {
    std::string dir;
    ProcessScratch(int layers, bool bands) {
        char templ[] = "/tmp/tavolix-bench-process-XXXXXX";
        dir = mkdtemp(templ);
        mkdir((dir + "/Tavolix").c_str(), 0700);
        if (layers == 0) return;
        DOCUMENT* doc = bands ? bench_banded_document(4096, layers)
                              : bench_painted_document(4096, layers, 6);
        if (doc) document_save(doc, session().c_str());
        document_free(&doc);
        brush_engine_flush_cache();
    }
    ~ProcessScratch() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string session() const { return dir + "/Tavolix/session.tvl"; }
    void prepare(bool blank) const {
        FILE* f = fopen((dir + "/Tavolix/settings.dat").c_str(), "wb");
        if (f) {
            static const char english[20] = {'S', 'S', 'E', 'T', 4, 0, 0, 0, 0, 0,
                                             0,   0,   0,   0,   0, 0, 1, 0, 0, 0};
            fwrite(english, 1, sizeof english, f);
            fclose(f);
        }
        if (blank) remove(session().c_str());
    }
};

// One run of the program with -v, its log read through a pipe.
struct Run {
    pid_t pid = -1;
    int out = -1;
    std::string log;
    Clock::time_point started;

    Run(const ProcessScratch& scratch, const std::string& display) {
        const std::string program = program_path();
        const std::string env_display = "DISPLAY=" + display, env_appdata = "APPDATA=" + scratch.dir;
        std::vector<char*> env;
        for (char** e = environ; *e; e++)
            if (strncmp(*e, "DISPLAY=", 8) != 0 && strncmp(*e, "APPDATA=", 8) != 0) env.push_back(*e);
        env.push_back(const_cast<char*>(env_display.c_str()));
        env.push_back(const_cast<char*>(env_appdata.c_str()));
        env.push_back(nullptr);
        char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("-v"), nullptr};
        int fds[2];
        if (pipe(fds) != 0) return;
        started = Clock::now();
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            close(fds[0]);
            if (chdir(scratch.dir.c_str()) != 0) _exit(126);
            execve(program.c_str(), argv, env.data());
            _exit(127);
        }
        close(fds[1]);
        out = fds[0];
    }
    ~Run() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) close(out);
    }
    // Waits for a log line with `text`, then (when `then` is given) for one with `then` after it.
    bool wait_for(const char* text, const char* then = nullptr, double seconds = 30.0) {
        if (out < 0 || !read_until(out, log, text, seconds)) return false;
        return !then || read_until(out, log, then, seconds, log.find(text));
    }
    // Asks the program's window, the only one shown on the private server, to close, as a
    // window manager's close button does.
    bool close_window(const std::string& display) const {
        Display* x = XOpenDisplay(display.c_str());
        if (!x) return false;
        Window root, parent, *children = nullptr;
        unsigned count = 0;
        bool sent = false;
        if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count)) {
            for (unsigned i = 0; i < count && !sent; i++) {
                XWindowAttributes attributes;
                if (XGetWindowAttributes(x, children[i], &attributes) &&
                    attributes.map_state == IsViewable) {
                    XEvent event{};
                    event.xclient.type = ClientMessage;
                    event.xclient.window = children[i];
                    event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
                    event.xclient.format = 32;
                    event.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
                    sent = XSendEvent(x, children[i], False, NoEventMask, &event) != 0;
                }
            }
            if (children) XFree(children);
        }
        XSync(x, False);
        XCloseDisplay(x);
        return sent;
    }
    // Reads the log to its end and collects the exit status: 0 when the program ended well
    // within `seconds`, -1 (and the program killed) otherwise.
    int finish(double seconds = 60.0) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        read_until(out, log, "\x01never logged", seconds); // to the end of the log
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                pid = -1;
                return -1;
            }
            usleep(500);
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Skips the benchmark with `what` and the end of the program's log on standard error.
    void fail(benchmark::State& state, const char* what) const {
        fprintf(stderr, "%s; the log ends:\n%s\n", what,
                log.substr(log.size() > 3000 ? log.size() - 3000 : 0).c_str());
        state.SkipWithError(what);
    }
};

// One start and end of the program per iteration; `exit` says which part is timed: from exec
// to the first frame (the splash), or from the close request on the canvas to the end.
void run_process(benchmark::State& state, bool exit) {
    const PrivateX& x = private_x();
    const int layers = static_cast<int>(state.range(0));
    ProcessScratch scratch(layers, state.range(1) != 0);
    std::vector<double> seconds, restored_seconds;
    double resident_mb = 0.0;
    for (auto _ : state) {
        scratch.prepare(layers == 0);
        Run run(scratch, x.display);
        const bool up = exit ? run.wait_for("canvas ready", " drawn, pointer at ")
                             : run.wait_for(" frame 1 drawn");
        const auto up_at = Clock::now();
        // The session is read behind the splash, after its first frame: not timed, reported.
        const bool restored = layers == 0 || run.wait_for("session document restored");
        if (layers != 0)
            restored_seconds.push_back(
                std::chrono::duration<double>(Clock::now() - run.started).count());
        const int status = up && restored && run.close_window(x.display) ? run.finish() : -1;
        const auto from = exit ? up_at : run.started, to = exit ? Clock::now() : up_at;
        seconds.push_back(std::chrono::duration<double>(to - from).count());
        state.SetIterationTime(seconds.back());
        const size_t memory = run.log.find("memory after load: resident ");
        if (memory != std::string::npos)
            resident_mb = std::max(resident_mb, atof(run.log.c_str() + memory + 28));
        if (x.display.empty() || !up || !restored || status != 0) {
            run.fail(state, "the program did not start, restore, close or end well");
            break;
        }
    }
    state.counters["layers"] = layers == 0 ? 1 : layers;
    if (seconds.empty()) return;
    std::sort(seconds.begin(), seconds.end());
    const size_t n = seconds.size();
    state.counters["median_ms"] = 500.0 * (seconds[(n - 1) / 2] + seconds[n / 2]);
    state.counters["max_ms"] = 1000.0 * seconds.back();
    if (resident_mb > 0.0) state.counters["resident_mb"] = resident_mb;
    if (!exit && !restored_seconds.empty()) {
        std::sort(restored_seconds.begin(), restored_seconds.end());
        const size_t m = restored_seconds.size();
        state.counters["restored_median_ms"] =
            500.0 * (restored_seconds[(m - 1) / 2] + restored_seconds[m / 2]);
    }
}

void BM_ProcessStart(benchmark::State& state) { run_process(state, false); }
void BM_ProcessExit(benchmark::State& state) { run_process(state, true); }

// `tavolix --thumbnail` of a saved 4096-pixel drawing of 8 stroked layers, as a file manager
// runs it: the whole process, from exec to its exit, without a display. ora:1 is the same
// drawing written as OpenRaster.
void BM_Thumbnail(benchmark::State& state) {
    const int layers = bench_quick() ? 1 : 8;
    ProcessScratch scratch(layers, false);
    std::string in = scratch.session();
    if (state.range(0) != 0) {
        DOCUMENT* doc = document_load(in.c_str());
        in = scratch.dir + "/drawing.ora";
        ORA_RESULT result{};
        if (!doc || !ora_save(doc, in.c_str(), &result)) {
            document_free(&doc);
            state.SkipWithError("the OpenRaster file was not written");
            return;
        }
        document_free(&doc);
    }
    const std::string program = program_path(), out = scratch.dir + "/thumbnail.png";
    std::vector<char*> env;
    for (char** e = environ; *e; e++)
        if (strncmp(*e, "DISPLAY=", 8) != 0) env.push_back(*e);
    env.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--thumbnail"),
                    const_cast<char*>(in.c_str()), const_cast<char*>(out.c_str()),
                    const_cast<char*>("256"), nullptr};
    std::vector<double> seconds;
    for (auto _ : state) {
        remove(out.c_str());
        const auto started = Clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            execve(program.c_str(), argv, env.data());
            _exit(127);
        }
        int status = -1;
        if (pid > 0) waitpid(pid, &status, 0);
        seconds.push_back(std::chrono::duration<double>(Clock::now() - started).count());
        state.SetIterationTime(seconds.back());
        if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || access(out.c_str(), R_OK) != 0) {
            state.SkipWithError("the thumbnail was not written");
            break;
        }
    }
    state.counters["layers"] = layers;
    if (seconds.empty()) return;
    std::sort(seconds.begin(), seconds.end());
    state.counters["median_ms"] = 500.0 * (seconds[(seconds.size() - 1) / 2] + seconds[seconds.size() / 2]);
}

} // namespace

BENCHMARK(BM_Thumbnail)->ArgName("ora")->DenseRange(0, 1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(bench_iterations(5));

// A quick run leaves the 8-layer sessions out.
void sessions(benchmark::internal::Benchmark* b) {
    b->ArgNames({"session", "bands"})->Args({0, 0});
    if (!bench_quick()) b->Args({8, 0})->Args({8, 1});
}
BENCHMARK(BM_ProcessStart)->Apply(sessions)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->Iterations(bench_iterations(10));
BENCHMARK(BM_ProcessExit)->Apply(sessions)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->Iterations(bench_iterations(3));
