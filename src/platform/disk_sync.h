#pragma once
// The few file-system calls Qt does not offer, for the file adapters: bringing a file's
// data and a folder's entries to the disk, and naming a finished file without ever
// replacing another.
#include <QString>

class QFileDevice;

namespace keldrin::disk {

// Data sync of an open file; false when the system reports a failure.
bool syncData(QFileDevice& file);
// Brings the entries of the folder holding path (a file just created, renamed or
// removed there) to the disk. Windows keeps them with the rename itself
// (renameNoReplace asks for write-through), so there it does nothing.
bool syncFolderOf(const QString& path);
// Renames from to to, failing when to exists; on Windows the rename is written through
// before it returns.
bool renameNoReplace(const QString& from, const QString& to);

}  // namespace keldrin::disk
