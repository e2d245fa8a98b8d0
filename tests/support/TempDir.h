// A temporary folder for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>

class TempDir {
public:
    // A fresh folder in base (the system's temporary folder unless told otherwise).
    explicit TempDir(const std::filesystem::path& base = std::filesystem::temp_directory_path());
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // A path inside the folder, as the UTF-16 text the library takes.
    std::u16string file(const std::string& name) const;

private:
    std::filesystem::path m_path;
};
