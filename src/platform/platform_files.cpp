// ============================================================================================
// Linux: the files the program reads and writes, the session locks and the quit signals
//   [SECTION] Reading: regular files only, never waiting
//   [SECTION] Writing: a new file of a unique name, renamed into place
//   [SECTION] Keeping files aside and moving without replacing
//   [SECTION] Locks
//   [SECTION] Quit signals
//
// Nothing here follows a symbolic link it did not expect, waits on a FIFO or a device, or
// replaces a file it was not asked to replace: the save folder may hold anything a user, a
// crashed run or another program left there.
// ============================================================================================
#include "platform/platform.h"

#include "q/q_common.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <vector>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// New files get the permissions the user's umask gives them, as any other program's would.
std::atomic<unsigned> created_mode{0644};

} // namespace

void _platform_files_init() {
    const mode_t mask = umask(0);
    umask(mask);
    created_mode = 0666u & ~static_cast<unsigned>(mask);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Reading: regular files only, never waiting
// --------------------------------------------------------------------------------------------

int platform_file_kind(const char* path) {
    q_assert(path, return PLATFORM_FILE_MISSING);
    struct stat info;
    if (stat(path, &info) != 0) return errno == ENOENT ? PLATFORM_FILE_MISSING : PLATFORM_FILE_OTHER;
    if (S_ISREG(info.st_mode)) return PLATFORM_FILE_REGULAR;
    return S_ISDIR(info.st_mode) ? PLATFORM_FILE_FOLDER : PLATFORM_FILE_OTHER;
}

// Opening a FIFO for reading would wait for a writer, and a device may never end: the file is
// opened without waiting and read only when it turns out to be a regular file.
FILE* platform_open_regular(const char* path, size_t* size) {
    q_assert(path, return NULL);
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno != ENOENT) q_log(3, "could not open %s: %s", path, strerror(errno));
        return NULL;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        q_log(3, "%s is not a regular file, not read", path);
        close(fd);
        return NULL;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = fdopen(fd, "rb");
    if (!file) {
        q_log(3, "could not open %s: %s", path, strerror(errno));
        close(fd);
        return NULL;
    }
    if (size) *size = static_cast<size_t>(info.st_size);
    return file;
}

int platform_read_file(const char* path, size_t max_bytes, std::string* out) {
    q_assert(path, return -1);
    q_assert(out, return -1);
    out->clear();
    if (platform_file_kind(path) == PLATFORM_FILE_MISSING) return 0;
    size_t size = 0;
    FILE* file = platform_open_regular(path, &size);
    if (!file) return -1;
    try {
        out->resize(std::min(size, max_bytes));
    } catch (const std::exception&) {
        fclose(file);
        q_log(3, "no memory to read %s", path);
        return -1;
    }
    out->resize(fread(out->data(), 1, out->size(), file));
    const bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) q_log(3, "could not read %s", path);
    return failed ? -1 : 1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Writing: a new file of a unique name, renamed into place
// --------------------------------------------------------------------------------------------

namespace {

constexpr const char* TEMP_SUFFIX = ".tmp.XXXXXX";

void fail_writer(PLATFORM_FILE_WRITER* out, int error) {
    if (!out->failed) out->error = error;
    out->failed = true;
}

} // namespace

// The temporary file is made with a name nobody can guess, exclusively (an existing file or
// link of that name makes the creation fail instead of being followed or reused) and in the
// target's folder, so the final rename never crosses file systems.
int platform_file_open(PLATFORM_FILE_WRITER* out, const char* path) {
    q_assert(out, return 0);
    q_assert(path, return 0);
    out->fd = -1;
    out->failed = true;
    out->error = 0;
    out->path = path;
    const int n = snprintf(out->tmp, sizeof out->tmp, "%s%s", path, TEMP_SUFFIX);
    if (n < 0 || static_cast<size_t>(n) >= sizeof out->tmp) {
        q_log(3, "path too long for a temporary file: %s", path);
        out->error = ENAMETOOLONG;
        return 0;
    }
    out->fd = mkostemp(out->tmp, O_CLOEXEC | O_NOFOLLOW);
    if (out->fd < 0) {
        out->error = errno;
        q_log(3, "couldn't create a temporary file for %s: %s", path, strerror(errno));
        return 0;
    }
    // A replaced file keeps its permissions; a new one gets the usual ones.
    struct stat target;
    const bool replaces = stat(path, &target) == 0 && S_ISREG(target.st_mode);
    fchmod(out->fd, replaces ? (target.st_mode & 07777) : created_mode.load());
    out->failed = false;
    return 1;
}

int platform_file_write(PLATFORM_FILE_WRITER* out, const void* bytes, size_t count) {
    q_assert(out, return 0);
    q_assert(bytes || count == 0, return 0);
    size_t done = 0;
    while (!out->failed && done < count) {
        const ssize_t w = write(out->fd, static_cast<const char*>(bytes) + done, count - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            fail_writer(out, w < 0 ? errno : ENOSPC);
            break;
        }
        done += static_cast<size_t>(w);
    }
    return out->failed ? 0 : 1;
}

void platform_file_abandon(PLATFORM_FILE_WRITER* out) {
    q_assert(out, return);
    if (out->fd >= 0) {
        close(out->fd);
        unlink(out->tmp);
    }
    out->fd = -1;
    out->failed = true;
}

int platform_file_commit(PLATFORM_FILE_WRITER* out) {
    q_assert(out, return 0);
    if (out->fd < 0) return 0;
    if (!out->failed && fsync(out->fd) != 0) fail_writer(out, errno);
    if (close(out->fd) != 0) fail_writer(out, errno);
    out->fd = -1;
    if (!out->failed && rename(out->tmp, out->path) != 0) fail_writer(out, errno);
    if (out->failed) {
        q_log(3, "couldn't write %s: %s", out->path, strerror(out->error));
        unlink(out->tmp);
        return 0;
    }
    return 1;
}

int platform_write_file(const char* path, const void* bytes, size_t size, int* error) {
    q_assert(path, return 0);
    q_assert(bytes || size == 0, return 0);
    PLATFORM_FILE_WRITER out;
    int ok = platform_file_open(&out, path);
    if (ok) {
        platform_file_write(&out, bytes, size);
        ok = platform_file_commit(&out);
    }
    if (error) *error = ok ? 0 : out.error;
    return ok;
}

namespace {

// Whether `name` is a temporary file of `base` (a file name): ours, "<base>.tmp.XXXXXX", or the
// one fixed "<base>.tmp" earlier versions wrote through.
bool temp_of(const char* name, const std::string& base) {
    const size_t length = strlen(name);
    if (length < base.size() + 4 || strncmp(name, base.c_str(), base.size()) != 0 ||
        strncmp(name + base.size(), ".tmp", 4) != 0)
        return false;
    return length == base.size() + 4 || (length == base.size() + 11 && name[base.size() + 4] == '.');
}

} // namespace

void platform_remove_stale_temps(const char* const* paths, size_t count, double min_age_seconds) {
    q_assert(paths, return);
    if (count == 0 || !paths[0]) return;
    // One look at the folder for all of them: they share the first one's folder.
    const std::string first(paths[0]);
    const size_t slash = first.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : first.substr(0, slash);
    std::vector<std::string> bases;
    for (size_t i = 0; i < count; i++) {
        const char* at = paths[i] ? strrchr(paths[i], '/') : nullptr;
        if (paths[i]) bases.emplace_back(at ? at + 1 : paths[i]);
    }
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    const time_t now = time(nullptr);
    while (struct dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        bool ours = false;
        for (const std::string& base : bases) ours = ours || temp_of(name, base);
        struct stat info;
        if (!ours || fstatat(dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !(S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)) ||
            difftime(now, info.st_mtime) < min_age_seconds)
            continue;
        if (unlinkat(dirfd(dir), name, 0) == 0)
            q_log(6, "removed %s/%s left by an earlier run", folder.c_str(), name);
    }
    closedir(dir);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Keeping files aside and moving without replacing
// --------------------------------------------------------------------------------------------

int platform_move_new(const char* from, const char* to) {
    q_assert(from, return 0);
    q_assert(to, return 0);
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 1;
    if (errno != EINVAL && errno != ENOSYS) return 0;
    // A file system without the no-replace rename: a second link fails just the same when the
    // name is taken.
    if (link(from, to) != 0) return 0;
    unlink(from);
    return 1;
}

int platform_keep_aside(const char* path, int copy, char* kept, size_t size) {
    q_assert(path, return 0);
    q_assert(kept, return 0);
    if (size > 0) kept[0] = 0;
    std::string staged;
    if (copy) {
        // The copy is made whole under a temporary name, then linked to a free numbered name.
        PLATFORM_FILE_WRITER out;
        FILE* in = platform_open_regular(path, nullptr);
        if (!in || !platform_file_open(&out, path)) {
            if (in) fclose(in);
            return 0;
        }
        char chunk[16384];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, in)) > 0) platform_file_write(&out, chunk, got);
        const bool read_failed = ferror(in) != 0;
        fclose(in);
        if (read_failed || out.failed || fsync(out.fd) != 0) {
            platform_file_abandon(&out);
            return 0;
        }
        close(out.fd);
        staged = out.tmp;
    }
    const char* source = copy ? staged.c_str() : path;
    for (int n = 1; n < 1000; n++) {
        char name[PLATFORM_PATH_MAX + 16];
        const int w = n == 1 ? snprintf(name, sizeof name, "%s.bad", path)
                             : snprintf(name, sizeof name, "%s.bad-%d", path, n);
        if (w < 0 || static_cast<size_t>(w) >= sizeof name || static_cast<size_t>(w) >= size) break;
        if (platform_move_new(source, name)) {
            snprintf(kept, size, "%s", name);
            return 1;
        }
        if (errno != EEXIST) break;
    }
    if (copy) unlink(staged.c_str());
    return 0;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Locks
// --------------------------------------------------------------------------------------------

// The lock belongs to the open file: it ends with the process, however it ends, so a lock file
// left by a crashed run is free again. A read-only file system still allows a lock on a file
// that exists.
int platform_lock_file(const char* path) {
    q_assert(path, return PLATFORM_LOCK_FAILED);
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        q_log(3, "could not open the lock file %s: %s", path, strerror(errno));
        return PLATFORM_LOCK_FAILED;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        q_log(3, "the lock file %s is not a regular file", path);
        close(fd);
        return PLATFORM_LOCK_FAILED;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) return PLATFORM_LOCK_HELD;
        q_log(3, "could not lock %s: %s", path, strerror(error));
        return PLATFORM_LOCK_FAILED;
    }
    // Who holds it, for a person looking at the folder; the lock itself is what counts.
    if (ftruncate(fd, 0) == 0) dprintf(fd, "%d\n", static_cast<int>(getpid()));
    return fd;
}

void platform_unlock_file(int lock) {
    if (lock >= 0) close(lock);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Quit signals
// --------------------------------------------------------------------------------------------

namespace {

volatile sig_atomic_t quit_signal = 0;

// Only remembers the signal; the main loop sees it within one wait. A second one while the
// first is still being handled ends the program the usual way: the user insists.
void on_quit_signal(int number) {
    if (quit_signal != 0) {
        signal(number, SIG_DFL);
        raise(number);
        return;
    }
    quit_signal = number;
}

} // namespace

void platform_watch_quit_signals() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_quit_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGHUP, SIGINT}) sigaction(number, &action, nullptr);
}

int platform_quit_signal() { return quit_signal; }
