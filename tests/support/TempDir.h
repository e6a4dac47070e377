// A fresh folder of the user's own in the temporary folder (/tmp, or the
// Windows user's Temp), removed with everything in it at the end.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

class TempDir {
public:
    TempDir() {
        static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
        std::random_device random;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            std::string name = "panoview-";
            for (int i = 0; i < 8; ++i)
                name += digits[random() % 36];
            std::error_code ec;
            // Made anew (never an existing folder), then closed to others.
            if (std::filesystem::create_directory(base / name, ec)) {
                path_ = base / name;
                std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
            }
        }
        if (path_.empty())
            throw std::runtime_error("no temporary folder could be made");
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    std::string read(const std::string& name) const { return readFile(file(name)); }

    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::filesystem::path path_;
};
