// Linux desktop implementation of the platform operations.
// Touch mouse emulation is part of the library's unstable API.
#define ALLEGRO_UNSTABLE
#include "platform/platform.h"

#include "q/q_common.h"

#include <allegro5/allegro_native_dialog.h>
#include <GL/glx.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <csignal>
#include <cstdint>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <vector>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

bool addon_ready = false;
bool touch_installed = false;

// Copies printf output into `out` only when it fits completely.
int format_fitting(char* out, size_t size, const char* format, const char* a, const char* b) {
    int n = snprintf(out, size, format, a, b);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        if (size > 0) out[0] = 0;
        return -(n < 0 ? 1 : n + 1);
    }
    return n;
}

const char* env_nonempty(const char* name) {
    const char* value = getenv(name);
    return (value && value[0]) ? value : nullptr;
}

// XDG_DATA_HOME counts only as an absolute path; a relative one is invalid and ignored, since
// it would move the save folder with the working directory.
const char* absolute_xdg_data_home() {
    const char* xdg = env_nonempty("XDG_DATA_HOME");
    return (xdg && xdg[0] == '/') ? xdg : nullptr;
}

// Which rule chose the save folder, so init knows whether parents may be created.
enum class SaveRoot { AppData, Xdg, Local };

// APPDATA wins when set (tests and scripts point it at a scratch folder); otherwise the XDG
// data folder, because a program started from a desktop menu has an arbitrary working
// directory and "./save" would scatter the user's files.
int compute_save_dir(char* out, size_t size, SaveRoot* root) {
    int n;
    if (const char* appdata = env_nonempty("APPDATA")) {
        n = format_fitting(out, size, "%s/%s", appdata, "Tavolix");
        if (root) *root = SaveRoot::AppData;
    } else if (const char* xdg = absolute_xdg_data_home()) {
        n = format_fitting(out, size, "%s/%s", xdg, "Tavolix");
        if (root) *root = SaveRoot::Xdg;
    } else if (const char* home = env_nonempty("HOME")) {
        n = format_fitting(out, size, "%s/%s", home, ".local/share/Tavolix");
        if (root) *root = SaveRoot::Xdg;
    } else {
        n = format_fitting(out, size, "%s%s", "./save", "");
        if (root) *root = SaveRoot::Local;
    }
    if (n < 0) {
        q_log(3, "save dir path truncated (need %d bytes)", -n);
        return 0;
    }
    return 1;
}

// mkdir -p with mode 0700 for every missing component.
bool make_parents(const char* path) {
    std::string partial;
    std::string whole(path);
    for (size_t i = 1; i <= whole.size(); i++) {
        if (i == whole.size() || whole[i] == '/') {
            partial = whole.substr(0, i);
            if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

bool file_readable(const char* path) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    fclose(f);
    return true;
}

} // namespace

namespace {

// Creates the save folder (and, for the per-user locations, its parents) with mode 0700.
bool create_save_dir(char* dir, size_t size) {
    SaveRoot root;
    if (!compute_save_dir(dir, size, &root)) return false;
    const bool made = root == SaveRoot::Xdg ? make_parents(dir) : (mkdir(dir, 0700) == 0 || errno == EEXIST);
    struct stat info;
    return made && stat(dir, &info) == 0 && S_ISDIR(info.st_mode);
}

// Others who may write into the folder could plant files under the names the program uses;
// every write makes a new file of a unique name, so this only warns.
void warn_if_shared(const char* dir) {
    struct stat info;
    if (stat(dir, &info) != 0) return;
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        q_log(4, "the save folder %s is writable by other users", dir);
    if (info.st_uid != geteuid()) q_log(4, "the save folder %s belongs to another user", dir);
}

} // namespace

void _platform_files_init();

int platform_init() {
    char dir[PLATFORM_PATH_MAX];
    if (!create_save_dir(dir, sizeof dir)) {
        if (dir[0]) q_log(3, "could not create save dir %s", dir);
        return 0;
    }
    warn_if_shared(dir);
    _platform_files_init();
    // A write past the file-size limit then fails like a full disk, which every writer handles,
    // instead of ending the program with the drawing unsaved.
    signal(SIGXFSZ, SIG_IGN);
    if (al_is_system_installed() && al_install_touch_input()) {
        touch_installed = true;
        al_set_mouse_emulation_mode(ALLEGRO_MOUSE_EMULATION_TRANSPARENT);
    }
    q_log(6, "desktop platform ready, save dir: %s", dir);
    return 1;
}

int platform_ensure_save_dir() {
    char dir[PLATFORM_PATH_MAX];
    const bool existed = compute_save_dir(dir, sizeof dir, nullptr) && platform_file_kind(dir) == PLATFORM_FILE_FOLDER;
    if (existed) return 1;
    if (!create_save_dir(dir, sizeof dir)) return 0;
    q_log(4, "the save folder %s was missing and was created again", dir);
    return 1;
}

int platform_display_flags() { return ALLEGRO_WINDOWED | ALLEGRO_OPENGL | ALLEGRO_RESIZABLE; }

void platform_apply_display_options() {}

void platform_display_sync() {
    // The frames go to the X server through the OpenGL context's own connection; its reply to
    // a sync comes after it has drawn them.
    if (Display* x = glXGetCurrentDisplay()) XSync(x, False);
}

float platform_display_density() {
    // A value that is not a finite number ("nan", "inf", "1e99") counts as no override.
    if (const char* text = env_nonempty("TAVOLIX_TEST_DENSITY")) {
        const float density = static_cast<float>(atof(text));
        if (std::isfinite(density)) return density;
    }
    return 1.0f;
}

int platform_display_close_quits() { return 1; }
int platform_gui_panels_resizable() { return 1; }
int platform_uses_touch() { return 0; }

int platform_register_event_sources(ALLEGRO_EVENT_QUEUE* queue) {
    q_assert(queue, return 0);
    if (touch_installed && al_is_touch_input_installed()) {
        al_register_event_source(queue, al_get_touch_input_event_source());
        al_register_event_source(queue, al_get_touch_input_mouse_emulation_event_source());
    }
    return 1;
}

int platform_wait_event(ALLEGRO_EVENT_QUEUE* queue, ALLEGRO_EVENT* event) {
    q_assert(queue, return 0);
    q_assert(event, return 0);
    // A signal sets a flag and wakes nobody; the wait ends at least this often to look at it.
    if (!al_wait_for_event_timed(queue, event, 0.25f)) return 0;
    platform_pen_pointer(event);
    return 1;
}

void platform_on_halt() {}
void platform_on_resume(ALLEGRO_EVENT_QUEUE*) {}

int platform_asset_path(const char* resource, char* out, size_t size) {
    q_assert(resource, return 0);
    q_assert(out, return 0);
    if (al_is_system_installed()) {
        std::unique_ptr<ALLEGRO_PATH, void (*)(ALLEGRO_PATH*)> exe(
            al_get_standard_path(ALLEGRO_RESOURCES_PATH), al_destroy_path);
        if (exe) {
            std::string base = al_path_cstr(exe.get(), '/');
            if (base.empty() || base.back() != '/') base += '/';
            for (const char* pattern : {"%sassets/%s", "%s../share/tavolix/assets/%s"}) {
                int n = format_fitting(out, size, pattern, base.c_str(), resource);
                if (n > 0 && file_readable(out)) return 1;
            }
        }
    }
    return format_fitting(out, size, "%s%s", "./assets/", resource) > 0 ? 1 : 0;
}

int platform_save_path(const char* filename, char* out, size_t size) {
    q_assert(filename, return 0);
    q_assert(out, return 0);
    char dir[PLATFORM_PATH_MAX];
    if (!compute_save_dir(dir, sizeof dir, nullptr)) return 0;
    return format_fitting(out, size, "%s/%s", dir, filename) > 0 ? 1 : 0;
}

namespace {

struct ListedDocument {
    std::string name;
    struct timespec modified;
};

bool newer_first(const ListedDocument& a, const ListedDocument& b) {
    if (a.modified.tv_sec != b.modified.tv_sec) return a.modified.tv_sec > b.modified.tv_sec;
    if (a.modified.tv_nsec != b.modified.tv_nsec) return a.modified.tv_nsec > b.modified.tv_nsec;
    return a.name < b.name;
}

// What the open list offers: documents (".tvl", exact case), layered OpenRaster files (".ora")
// and the pictures the program opens (".png", ".jpg", ".jpeg", ".bmp", ".tga", ".webp"), these
// in any case, a name before the ending.
bool listed_name(const char* name, size_t length) {
    if (length >= 5 && strcmp(name + length - 4, ".tvl") == 0) return true;
    const char* dot = strrchr(name, '.');
    if (!dot || dot == name) return false;
    for (const char* ending : {".ora", ".png", ".jpg", ".jpeg", ".bmp", ".tga", ".webp"})
        if (strcasecmp(dot, ending) == 0) return true;
    return false;
}

// Regular files the open list offers whose names fit a row and hold no line feed, which would
// split one name into two entries of the newline-separated list.
std::vector<ListedDocument> read_documents(DIR* folder) {
    std::vector<ListedDocument> found;
    while (struct dirent* entry = readdir(folder)) {
        const char* name = entry->d_name;
        const size_t length = strlen(name);
        if (length >= PLATFORM_DOC_NAME_ROW || !listed_name(name, length)) continue;
        if (strchr(name, '\n')) continue;
        struct stat info;
        if (fstatat(dirfd(folder), name, &info, 0) != 0 || !S_ISREG(info.st_mode)) continue;
        found.push_back({name, info.st_mtim});
    }
    return found;
}

} // namespace

int platform_list_documents(char* out, size_t size) {
    q_assert(out, return -1);
    if (size > 0) out[0] = 0;
    char dir[PLATFORM_PATH_MAX];
    if (!compute_save_dir(dir, sizeof dir, nullptr)) return -1;
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(dir), closedir);
    if (!folder) return 0;
    std::vector<ListedDocument> documents = read_documents(folder.get());
    std::sort(documents.begin(), documents.end(), newer_first);
    int count = 0;
    size_t used = 0;
    for (const ListedDocument& document : documents) {
        const size_t length = document.name.size();
        const size_t remaining = size > used ? size - used : 0;
        const size_t need = length + (count == 0 ? 1 : 2);
        if (!(need < remaining)) break; // room for the separator and the terminator
        if (count > 0) out[used++] = '\n';
        memcpy(out + used, document.name.data(), length);
        used += length;
        out[used] = 0;
        count++;
    }
    return count;
}

int platform_saves_ready() { return 1; }

// Completed writes become durable. Every writer syncs its own file before renaming it into
// place; syncing the folder makes those renames survive a power cut too.
void platform_save_sync() {
    char dir[PLATFORM_PATH_MAX];
    if (!compute_save_dir(dir, sizeof dir, nullptr)) return;
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    if (fsync(fd) != 0) q_log(4, "could not sync the save folder %s", dir);
    close(fd);
}

namespace {
constexpr uintptr_t LARGE_PAGE = 2u << 20;
size_t whole_large_pages(size_t bytes) { return (bytes + LARGE_PAGE - 1) & ~(LARGE_PAGE - 1); }
} // namespace

void* platform_large_alloc(size_t bytes) {
    if (bytes == 0 || bytes > SIZE_MAX - 2 * LARGE_PAGE) return nullptr;
    const size_t size = whole_large_pages(bytes);
    // One large page more than needed, so that an aligned block fits; the rest goes back.
    void* mapped = mmap(nullptr, size + LARGE_PAGE, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const uintptr_t at = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t first = (at + LARGE_PAGE - 1) & ~(LARGE_PAGE - 1);
    if (first > at) munmap(mapped, first - at);
    if (first + size < at + size + LARGE_PAGE)
        munmap(reinterpret_cast<void*>(first + size), at + size + LARGE_PAGE - first - size);
    madvise(reinterpret_cast<void*>(first), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(first);
}

void platform_large_free(void* block, size_t bytes) {
    if (block) munmap(block, whole_large_pages(bytes));
}

int platform_lower_thread_priority() {
    // A thread id, not the process id, which would name the main thread. At this niceness the
    // thread gets about a tenth of a core that a normal thread also wants, and all of an idle
    // one.
    return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), PLATFORM_BACKGROUND_NICE) == 0
               ? 1
               : 0;
}

uint64_t platform_resident_bytes() {
    // Total and resident size in pages, the first two of the numbers in the file.
    FILE* statm = fopen("/proc/self/statm", "r");
    if (!statm) return 0;
    unsigned long long total = 0, resident = 0;
    const bool read = fscanf(statm, "%llu %llu", &total, &resident) == 2;
    fclose(statm);
    const long page = sysconf(_SC_PAGESIZE);
    return read && page > 0 ? resident * static_cast<uint64_t>(page) : 0;
}

uint64_t platform_file_stamp(const char* path) {
    q_assert(path, return 0);
    struct stat info;
    if (stat(path, &info) != 0) return 0;
    const uint64_t fields[] = {static_cast<uint64_t>(info.st_dev),
                               static_cast<uint64_t>(info.st_ino),
                               static_cast<uint64_t>(info.st_size),
                               static_cast<uint64_t>(info.st_mtim.tv_sec),
                               static_cast<uint64_t>(info.st_mtim.tv_nsec)};
    uint64_t stamp = 1469598103934665603ull;
    for (uint64_t field : fields) stamp = (stamp ^ field) * 1099511628211ull;
    return stamp ? stamp : 1;
}

void platform_show_keyboard() {}
void platform_hide_keyboard() {}

int platform_choose_file(int save, const char* initial, const char* patterns, char* out,
                         size_t size) {
    q_assert(out, return -1);
    if (getenv("TAVOLIX_NO_NATIVE_CHOOSER")) return -1;
    if (const char* choice = env_nonempty("TAVOLIX_FILE_CHOICE"))
        return format_fitting(out, size, "%s%s", choice, "") >= 0 ? 1 : -1;
    if (!addon_ready) {
        if (!al_init_native_dialog_addon()) {
            q_log(3, "could not init the native dialog addon");
            return -1;
        }
        addon_ready = true;
    }
    ALLEGRO_FILECHOOSER* chooser = al_create_native_file_dialog(
        initial, save ? "Save Tavolix document" : "Open Tavolix document", patterns,
        save ? ALLEGRO_FILECHOOSER_SAVE : ALLEGRO_FILECHOOSER_FILE_MUST_EXIST);
    if (!chooser) {
        q_log(3, "could not create the file chooser");
        return -1;
    }
    int result = 0;
    if (al_show_native_file_dialog(al_get_current_display(), chooser) &&
        al_get_native_file_dialog_count(chooser) > 0) {
        const char* chosen = al_get_native_file_dialog_path(chooser, 0);
        if (chosen && chosen[0] && format_fitting(out, size, "%s%s", chosen, "") > 0) result = 1;
    }
    al_destroy_native_file_dialog(chooser);
    return result;
}

int platform_web_request_load() { return 0; }
void platform_offer_download(const char*) {}

namespace {

// The program file a command name resolves to through PATH, or "" when there is none.
std::string find_program(const char* command) {
    const char* path = getenv("PATH");
    std::string folders = path && path[0] ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= folders.size()) {
        size_t end = folders.find(':', begin);
        if (end == std::string::npos) end = folders.size();
        std::string candidate = folders.substr(begin, end - begin);
        candidate = (candidate.empty() ? std::string(".") : candidate) + "/" + command;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        begin = end + 1;
    }
    return "";
}

} // namespace

// The viewer is started directly with an argument vector: the path is never part of a shell
// command line, so quotes, "$(...)" or spaces in a file name are just characters. It runs in a
// session of its own whose parent exits at once, so the main loop never waits for it, no
// finished viewer is left unreaped, and its output never reaches our terminal or log.
int platform_reveal_export(const char* path) {
    q_assert(path, return 0);
    const std::string program = find_program("xdg-open");
    if (program.empty()) {
        q_log(3, "could not open %s with the system viewer", path);
        return 0;
    }
    // Everything the child needs is prepared here: between fork and exec only calls that are
    // safe in a copy of a threaded process may run.
    std::string arg0 = "xdg-open", arg1 = path;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        if (fork() == 0) {
            const int null_fd = open("/dev/null", O_RDWR);
            if (null_fd >= 0) {
                dup2(null_fd, STDIN_FILENO);
                dup2(null_fd, STDOUT_FILENO);
                dup2(null_fd, STDERR_FILENO);
            }
            close_range(3, ~0u, 0); // the display connection and our log are not the viewer's
            execve(program.c_str(), argv, environ);
            _exit(127);
        }
        _exit(0);
    }
    int status = 0;
    if (child > 0) {
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (child < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        q_log(3, "could not open %s with the system viewer", path);
        return 0;
    }
    return 1;
}

int platform_publish_last_error(char* out, size_t size) {
    if (out && size > 0) out[0] = 0;
    return 0;
}

int platform_publish_document(const char*, const char*, const char*) { return -1; }
int platform_import_document(const char*) { return -1; }
int platform_request_open() { return 0; }
int platform_poll_import(char*, size_t) { return 0; }
