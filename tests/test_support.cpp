#include "test_support.h"

#include "q/q_log.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

ScratchDir::ScratchDir() {
    char templ[] = "/tmp/tavolix-test-XXXXXX";
    const char* made = mkdtemp(templ);
    path_ = made ? made : "/tmp";
}

ScratchDir::~ScratchDir() {
    if (path_ != "/tmp") {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

LogCapture::LogCapture(int level) : path_(dir_.file("log.txt")), old_level_(get_log_level()) {
    set_log_file(path_.c_str());
    set_log_level(level);
}

LogCapture::~LogCapture() {
    close_log_file();
    set_log_level(old_level_);
}

std::string LogCapture::text() const {
    if (FILE* f = get_log_file()) fflush(f);
    return read_file(path_);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}

Rgba pixel_at(ALLEGRO_BITMAP* bitmap, int x, int y) {
    unsigned char r = 0, g = 0, b = 0, a = 0;
    al_unmap_rgba(al_get_pixel(bitmap, x, y), &r, &g, &b, &a);
    return Rgba{r, g, b, a};
}

uint32_t pixel_rgba(ALLEGRO_BITMAP* bitmap, int x, int y) {
    Rgba p = pixel_at(bitmap, x, y);
    return static_cast<uint32_t>(p.r) << 24 | static_cast<uint32_t>(p.g) << 16 |
           static_cast<uint32_t>(p.b) << 8 | static_cast<uint32_t>(p.a);
}

void EnvOverride::set(const char* name, const char* value) {
    if (!saved_.count(name)) {
        const char* old = getenv(name);
        saved_[name] = {old != nullptr, old ? old : ""};
    }
    if (value) setenv(name, value, 1);
    else unsetenv(name);
}

EnvOverride::~EnvOverride() {
    for (auto& [name, value] : saved_) {
        if (value.first) setenv(name.c_str(), value.second.c_str(), 1);
        else unsetenv(name.c_str());
    }
}
