// Helpers shared by the unit tests: a scratch folder, log capture, pixel access.
#pragma once

#include <allegro5/allegro.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>

// A fresh folder under /tmp, removed with everything in it when the object dies.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sends the log to a temporary file at the given threshold for the object's lifetime, so a
// test can check which lines were written. The previous threshold is restored afterwards.
class LogCapture {
  public:
    explicit LogCapture(int level = 7);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::string text() const;
    bool contains(const std::string& needle) const { return text().find(needle) != std::string::npos; }

  private:
    ScratchDir dir_;
    std::string path_;
    int old_level_;
};

std::string read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& content);

// Reads one pixel of a bitmap as straight bytes R, G, B, A of its stored (premultiplied) value.
uint32_t pixel_rgba(ALLEGRO_BITMAP* bitmap, int x, int y);
struct Rgba {
    int r, g, b, a;
};
Rgba pixel_at(ALLEGRO_BITMAP* bitmap, int x, int y);

// Sets or clears environment variables for one test and puts the old values back.
class EnvOverride {
  public:
    EnvOverride() = default;
    EnvOverride(const EnvOverride&) = delete;
    EnvOverride& operator=(const EnvOverride&) = delete;
    ~EnvOverride();
    void set(const char* name, const char* value);

  private:
    std::map<std::string, std::pair<bool, std::string>> saved_;
};
