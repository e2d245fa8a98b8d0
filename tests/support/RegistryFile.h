// A registry file of the test's own (KELVANE_REGISTRY), holding DataPath when one is given,
// so that channels never read the machine's registry file.
#pragma once

#include <fstream>
#include <string>

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

class RegistryFile {
public:
    explicit RegistryFile(const std::string& dataPath = "")
    {
        std::ofstream file(m_dir.path() / "registry.ini");
        if (!dataPath.empty())
            file << "[HKEY_LOCAL_MACHINE\\Software\\Brightfen\\Halcyra]\nDataPath=" << dataPath
                 << "\n";
    }

private:
    TempDir m_dir;
    ScopedEnv m_env{"KELVANE_REGISTRY", (m_dir.path() / "registry.ini").string()};
};
