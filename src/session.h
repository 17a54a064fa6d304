// The session file of each running program, and the names the program owns in its save folder.
//
// Every running program keeps its drawing in a session file of its own: the first one in
// "session.tvl", a second one started on the same save folder in "session-2.tvl", and so on.
// A slot belongs to the program that holds the exclusive lock on its lock file ("session.lock",
// "session-2.lock"); the lock ends with the process however it ends, so a slot left by a
// crashed program is free again. A session file whose slot nobody holds, other than the one
// the program takes, was left by a window that was closed: it becomes an ordinary document that
// the open list offers, so no drawing is ever lost and none is written over.
#pragma once

#include <cstddef>

#include "platform/platform.h"

constexpr int SESSION_SLOTS_MAX = 32;

struct SESSION {
    int slot;                      // 1 "session.tvl", n "session-n.tvl"; 0 before a claim
    int lock;                      // the slot's lock, or < 0 when none could be taken
    int others;                    // slots found held by other windows when it was claimed
    char path[PLATFORM_PATH_MAX];  // the session file
};

// "session.tvl" or "session-n.tvl"; "session.lock" or "session-n.lock". 1 when it fits.
int session_file_name(int slot, char* out, size_t size);
int session_lock_name(int slot, char* out, size_t size);
// Takes the first slot whose lock is free and whose session file could be written (a folder in
// its place could not). 1 with the lock held. 0 when no lock could be taken at all (a folder
// that cannot hold a lock file): the first slot is then used without one, which is logged.
int session_claim(SESSION* session);
void session_release(SESSION* session);
// Moves a file to a new document name in the save folder ("kept YYYY-MM-DD HH-MM.tvl", a
// number added when that is taken), where the open list offers it; never replaces a file.
// 1 with the new name, without ".tvl", in `name`.
int session_keep_as_document(const char* path, char* name, size_t size);
// Every session file of a slot nobody holds, besides `own`, kept as a document. Returns how
// many were kept; the last one's name is in `name`.
int session_keep_orphans(const SESSION* own, char* name, size_t size);

// Names the program owns: a document name as typed (without ".tvl"): "session", its "-n"
// forms, "settings", "palette", "layout"; and the files themselves ("session.tvl",
// "session-2.lock", "settings.dat", ... and what is kept aside from them). Case is ignored, as
// some file systems ignore it.
bool session_reserved_stem(const char* stem);
bool session_reserved_file(const char* file_name);
// A path to one of those files inside the save folder, however the path is written.
bool session_reserved_path(const char* path);
