// Scoped switches of Allegro's per-thread drawing state.
//
// Drawing helpers switch the target bitmap or the new-bitmap flags while they work; callers
// must find them as they left them. Wrapping the switch in one of these guards makes the
// restore happen on every return path.
#pragma once

#include <allegro5/allegro.h>
#include <allegro5/allegro_opengl.h>

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

// Keeps the current target's transform and puts it back when the object dies, so overlays can
// switch to canvas coordinates without knowing what the caller had in use. Without a target
// there is no transform to keep and nothing is restored.
class TransformScope {
  public:
    TransformScope() {
        const ALLEGRO_TRANSFORM* current = al_get_current_transform();
        has_saved_ = current != nullptr;
        if (has_saved_) al_copy_transform(&saved_, current);
    }
    ~TransformScope() {
        if (has_saved_ && al_get_target_bitmap()) al_use_transform(&saved_);
    }
    TransformScope(const TransformScope&) = delete;
    TransformScope& operator=(const TransformScope&) = delete;

  private:
    ALLEGRO_TRANSFORM saved_;
    bool has_saved_;
};

// Keeps the blender (both the colour and the alpha halves, and the blend colour) and puts it
// back when the object dies.
class BlenderScope {
  public:
    BlenderScope() : colour_(al_get_blend_color()) {
        al_get_separate_blender(&op_, &src_, &dst_, &alpha_op_, &alpha_src_, &alpha_dst_);
    }
    ~BlenderScope() {
        al_set_separate_blender(op_, src_, dst_, alpha_op_, alpha_src_, alpha_dst_);
        al_set_blend_color(colour_);
    }
    BlenderScope(const BlenderScope&) = delete;
    BlenderScope& operator=(const BlenderScope&) = delete;

  private:
    ALLEGRO_COLOR colour_;
    int op_, src_, dst_, alpha_op_, alpha_src_, alpha_dst_;
};

// Deferred bitmap drawing must not be pending while the target or the blender changes or a
// bitmap being drawn from is locked: releases a caller's hold for the lifetime of the object
// and takes it back afterwards.
class HeldDrawingPause {
  public:
    HeldDrawingPause() : held_(al_is_bitmap_drawing_held()) {
        if (held_) al_hold_bitmap_drawing(false);
    }
    ~HeldDrawingPause() {
        if (held_) al_hold_bitmap_drawing(true);
    }
    HeldDrawingPause(const HeldDrawingPause&) = delete;
    HeldDrawingPause& operator=(const HeldDrawingPause&) = delete;

  private:
    bool held_;
};

// Sets the new-bitmap pixel format for the lifetime of the object, then restores the previous.
class NewBitmapFormatScope {
  public:
    explicit NewBitmapFormatScope(int format) : saved_(al_get_new_bitmap_format()) {
        al_set_new_bitmap_format(format);
    }
    ~NewBitmapFormatScope() { al_set_new_bitmap_format(saved_); }
    NewBitmapFormatScope(const NewBitmapFormatScope&) = delete;
    NewBitmapFormatScope& operator=(const NewBitmapFormatScope&) = delete;

  private:
    int saved_;
};

// Call before locking a video bitmap to write into it. Once a bitmap has been a drawing target
// it keeps a framebuffer object, and unlocking a write lock then draws the new pixels through
// that framebuffer, which on a software renderer costs some fifty times a plain texture
// upload. Dropping the object makes the unlock an upload; Allegro makes a new one the next
// time the bitmap becomes a target. The current target keeps its own.
inline void prepare_pixel_write(ALLEGRO_BITMAP* bitmap) {
    if (bitmap && bitmap != al_get_target_bitmap() && !al_is_bitmap_locked(bitmap) &&
        !(al_get_bitmap_flags(bitmap) & ALLEGRO_MEMORY_BITMAP))
        al_remove_opengl_fbo(bitmap);
}
