#include "support/ClosedFolder.h"

#include <linux/fs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/FileFlag.h"

ClosedFolder::ClosedFolder(const std::filesystem::path& folder)
    : m_folder(folder), m_root(geteuid() == 0)
{
    m_closed = m_root ? SetFileFlag(folder, FS_IMMUTABLE_FL, true)
                      : chmod(folder.c_str(), 0555) == 0;
}

ClosedFolder::~ClosedFolder()
{
    if (m_closed && (m_root ? !SetFileFlag(m_folder, FS_IMMUTABLE_FL, false)
                            : chmod(m_folder.c_str(), 0755) != 0))
        ADD_FAILURE() << "cannot open " << m_folder << " again";
}
