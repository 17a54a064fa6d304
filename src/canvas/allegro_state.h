// Scoped switches of Allegro's per-thread drawing state.
//
// Drawing helpers switch the target bitmap or the new-bitmap flags while they work; callers
// must find them as they left them. Wrapping the switch in one of these guards makes the
// restore happen on every return path.
#pragma once

#include <allegro5/allegro.h>

// Sets the new-bitmap flags for the lifetime of the object, then restores the previous ones.
class NewBitmapFlagsScope {
  public:
    explicit NewBitmapFlagsScope(int flags) : saved_(al_get_new_bitmap_flags()) {
        al_set_new_bitmap_flags(flags);
    }
    ~NewBitmapFlagsScope() { al_set_new_bitmap_flags(saved_); }
    NewBitmapFlagsScope(const NewBitmapFlagsScope&) = delete;
    NewBitmapFlagsScope& operator=(const NewBitmapFlagsScope&) = delete;

  private:
    int saved_;
};

// Makes `bitmap` the target for the lifetime of the object. The previous target comes back
// afterwards when there was one; with none before, the bitmap simply stops being the target.
class TargetBitmapScope {
  public:
    explicit TargetBitmapScope(ALLEGRO_BITMAP* bitmap) : saved_(al_get_target_bitmap()) {
        al_set_target_bitmap(bitmap);
    }
    ~TargetBitmapScope() { al_set_target_bitmap(saved_); }
    TargetBitmapScope(const TargetBitmapScope&) = delete;
    TargetBitmapScope& operator=(const TargetBitmapScope&) = delete;

  private:
    ALLEGRO_BITMAP* saved_;
};
