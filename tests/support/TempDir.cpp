#include "support/TempDir.h"

#include <cstdlib>
#include <stdexcept>

TempDir::TempDir(const std::filesystem::path& base)
{
    std::string pattern = (base / "kelvane-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::u16string TempDir::file(const std::string& name) const
{
    return (m_path / name).u16string();
}
