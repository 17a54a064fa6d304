// ============================================================================================
// Session slots and the program's own names
//   [SECTION] Names
//   [SECTION] Claiming a slot
//   [SECTION] Keeping session files as documents
// ============================================================================================
#include "session.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "q/q_common.h"

// --------------------------------------------------------------------------------------------
// [SECTION] Names
// --------------------------------------------------------------------------------------------

namespace {

std::string lower(const char* text) {
    std::string out(text ? text : "");
    for (char& c : out) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return out;
}

bool all_digits(const std::string& text, size_t from) {
    if (from >= text.size()) return false;
    for (size_t i = from; i < text.size(); i++)
        if (!isdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

bool session_stem(const std::string& stem) {
    return stem == "session" || (stem.rfind("session-", 0) == 0 && all_digits(stem, 8));
}

// Drops what the program adds to its own files: a kept-aside ending (".bad", ".bad-2") or a
// temporary one (".tmp.XXXXXX").
std::string without_own_endings(std::string name) {
    const size_t tmp = name.rfind(".tmp.");
    if (tmp != std::string::npos && name.size() == tmp + 11) name.resize(tmp);
    const size_t bad = name.rfind(".bad");
    if (bad != std::string::npos &&
        (name.size() == bad + 4 || (name[bad + 4] == '-' && all_digits(name, bad + 5))))
        name.resize(bad);
    return name;
}

} // namespace

int session_file_name(int slot, char* out, size_t size) {
    q_assert(out, return 0);
    const int n = slot <= 1 ? snprintf(out, size, "session.tvl") : snprintf(out, size, "session-%d.tvl", slot);
    return n > 0 && static_cast<size_t>(n) < size ? 1 : 0;
}

int session_lock_name(int slot, char* out, size_t size) {
    q_assert(out, return 0);
    const int n = slot <= 1 ? snprintf(out, size, "session.lock") : snprintf(out, size, "session-%d.lock", slot);
    return n > 0 && static_cast<size_t>(n) < size ? 1 : 0;
}

bool session_reserved_stem(const char* stem) {
    const std::string name = lower(stem);
    return session_stem(name) || name == "settings" || name == "palette" || name == "layout";
}

bool session_reserved_file(const char* file_name) {
    const std::string name = without_own_endings(lower(file_name));
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string stem = name.substr(0, dot), ending = name.substr(dot);
    if (session_stem(stem)) return ending == ".tvl" || ending == ".lock";
    return name == "settings.dat" || name == "palette.dat" || name == "layout.json";
}

bool session_reserved_path(const char* path) {
    q_assert(path, return false);
    const char* slash = strrchr(path, '/');
    const std::string folder = slash ? std::string(path, static_cast<size_t>(slash - path)) : ".";
    if (!session_reserved_file(slash ? slash + 1 : path)) return false;
    char save[PLATFORM_PATH_MAX];
    if (!platform_save_path(".", save, sizeof save)) return false;
    // Compared as the system resolves them: "a/../Tavolix", links and "//" all count.
    char* real_folder = realpath(folder.empty() ? "/" : folder.c_str(), nullptr);
    char* real_save = realpath(save, nullptr);
    const bool same = real_folder && real_save && strcmp(real_folder, real_save) == 0;
    free(real_folder);
    free(real_save);
    return same;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Claiming a slot
// --------------------------------------------------------------------------------------------

namespace {

bool slot_paths(int slot, char* session, char* lock) {
    char name[64];
    return session_file_name(slot, name, sizeof name) &&
           platform_save_path(name, session, PLATFORM_PATH_MAX) &&
           session_lock_name(slot, name, sizeof name) &&
           platform_save_path(name, lock, PLATFORM_PATH_MAX);
}

// Temporary files of the files every program shares are left alone while they may still be
// written; the claimed session file's are ours alone.
void remove_stale_temps(const char* session) {
    platform_remove_stale_temps(&session, 1, 0.0);
    char paths[3][PLATFORM_PATH_MAX];
    const char* shared[3];
    size_t count = 0;
    for (const char* name : {"settings.dat", "palette.dat", "layout.json"})
        if (platform_save_path(name, paths[count], sizeof paths[count])) shared[count] = paths[count], count++;
    platform_remove_stale_temps(shared, count, 600.0);
}

} // namespace

int session_claim(SESSION* session) {
    q_assert(session, return 0);
    session->slot = 0;
    session->lock = -1;
    session->others = 0;
    session->path[0] = 0;
    char path[PLATFORM_PATH_MAX], lock_path[PLATFORM_PATH_MAX];
    for (int slot = 1; slot <= SESSION_SLOTS_MAX; slot++) {
        if (!slot_paths(slot, path, lock_path)) return 0;
        const int lock = platform_lock_file(lock_path);
        if (lock == PLATFORM_LOCK_HELD) {
            q_log(6, "session slot %d is in use by another window", slot);
            session->others++;
            continue;
        }
        if (lock == PLATFORM_LOCK_FAILED) {
            // Nothing to tell the windows apart by: the first slot, as before there were locks.
            if (!slot_paths(1, path, lock_path)) return 0;
            q_log(4, "could not lock the session; using %s without a lock", path);
            session->slot = 1;
            snprintf(session->path, sizeof session->path, "%s", path);
            return 0;
        }
        if (platform_file_kind(path) == PLATFORM_FILE_FOLDER) {
            q_log(3, "%s is a folder, not a session file; trying the next session slot", path);
            platform_unlock_file(lock);
            continue;
        }
        session->slot = slot;
        session->lock = lock;
        snprintf(session->path, sizeof session->path, "%s", path);
        remove_stale_temps(path);
        q_log(6, "session slot %d: %s", slot, path);
        return 1;
    }
    q_log(3, "every session slot is in use; using %s without a lock", path);
    if (slot_paths(1, path, lock_path)) {
        session->slot = 1;
        snprintf(session->path, sizeof session->path, "%s", path);
    }
    return 0;
}

void session_release(SESSION* session) {
    q_assert(session, return);
    platform_unlock_file(session->lock);
    session->lock = -1;
}

// --------------------------------------------------------------------------------------------
// [SECTION] Keeping session files as documents
// --------------------------------------------------------------------------------------------

int session_keep_as_document(const char* path, char* name, size_t size) {
    q_assert(path, return 0);
    q_assert(name, return 0);
    if (size > 0) name[0] = 0;
    const time_t now = time(nullptr);
    struct tm local;
    char stamp[32];
    if (!localtime_r(&now, &local) || !strftime(stamp, sizeof stamp, "kept %Y-%m-%d %H-%M", &local))
        snprintf(stamp, sizeof stamp, "kept");
    for (int n = 1; n < 100; n++) {
        char stem[48], file[64], target[PLATFORM_PATH_MAX];
        if (n == 1) snprintf(stem, sizeof stem, "%s", stamp);
        else snprintf(stem, sizeof stem, "%s %d", stamp, n);
        snprintf(file, sizeof file, "%s.tvl", stem);
        if (!platform_save_path(file, target, sizeof target)) return 0;
        if (platform_move_new(path, target)) {
            platform_save_sync();
            snprintf(name, size, "%s", stem);
            q_log(6, "%s kept as %s", path, target);
            return 1;
        }
        if (errno != EEXIST) break;
    }
    q_log(3, "could not keep %s as a document: %s", path, strerror(errno));
    return 0;
}

int session_keep_orphans(const SESSION* own, char* name, size_t size) {
    q_assert(own, return 0);
    q_assert(name, return 0);
    // Without a lock of our own, another window's file cannot be told from a left one.
    if (own->lock < 0) return 0;
    int kept = 0;
    char path[PLATFORM_PATH_MAX], lock_path[PLATFORM_PATH_MAX];
    for (int slot = 1; slot <= SESSION_SLOTS_MAX; slot++) {
        if (slot == own->slot || !slot_paths(slot, path, lock_path)) continue;
        if (platform_file_kind(path) != PLATFORM_FILE_REGULAR) continue;
        const int lock = platform_lock_file(lock_path);
        if (lock < 0) continue; // its window is still open
        if (session_keep_as_document(path, name, size)) kept++;
        platform_unlock_file(lock);
    }
    return kept;
}
