#pragma once
// Files on disk, by name relative to a base folder (the working directory).
#include <cstdint>
#include <string>

#include "core/services.h"
#include "platform/system_files.h"

namespace keldrin {

class DiskFiles : public Files {
public:
    // base: the folder names are resolved against; empty means the working directory.
    // Every call of the system's file interface goes through sys.
    explicit DiskFiles(std::string base = {}, SystemFiles& sys = SystemFiles::system())
        : base_(std::move(base)), sys_(sys) {}

    std::optional<std::string> readAll(const std::string& name, std::uint64_t maxBytes = UINT64_MAX,
                                       FileError* error = nullptr) override;
    std::optional<std::string> readPrefix(const std::string& name, std::size_t maxBytes, FileError* error = nullptr,
                                          std::uint64_t* size = nullptr) override;
    bool writeAll(const std::string& name, std::string_view bytes) override;
    bool exists(const std::string& name) override;
    bool remove(const std::string& name) override;
    std::unique_ptr<OutFile> createAtomic(const std::string& name, FileError* error) override;
    std::unique_ptr<OutFile> createNew(const std::string& name, FileError* error) override;
    std::unique_ptr<JournalFile> openJournal(const std::string& name, JournalOpenError* error) override;

    std::string path(const std::string& name) const;

private:
    std::string base_;
    SystemFiles& sys_;
};

}  // namespace keldrin
