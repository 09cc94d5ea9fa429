// Archives whose resources are regions of one package file: a writable file and a read-only file (either
// may be absent) shared with every stream opened over them.
#pragma once

#include "Storage/Archive/DataArchive.h"

#include <memory>

namespace Vexel
{

class PackArchive : public DataArchive
{
public:
    PackArchive(StorageLock* lock, const String& name, const String& extension = String())
        : DataArchive(lock, name, extension)
    {
    }

protected:
    std::shared_ptr<File> mWritableFile;
    std::shared_ptr<File> mReadOnlyFile;
    bool mWritableRequested = false;
    // Where the archive lies inside its file (0 and the whole file for archives of their own).
    _dword mBaseOffset = 0;
    _dword mLength = 0;
};

} // namespace Vexel
