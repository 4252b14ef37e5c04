#pragma once
#include <memory>
#include <string>

#include "core/services.h"

namespace keldrin::test {

// An OutFile that accepts the first `budget` bytes and then reports a full disk.
class FullDiskFiles : public Files {
public:
    FullDiskFiles(Files& real, std::size_t budget) : real_(real), budget_(budget) {}
    std::optional<std::string> readAll(const std::string& n, std::uint64_t max, FileError* e) override {
        return real_.readAll(n, max, e);
    }
    std::optional<std::string> readPrefix(const std::string& n, std::size_t max, FileError* e,
                                          std::uint64_t* size) override {
        return real_.readPrefix(n, max, e, size);
    }
    bool writeAll(const std::string& n, std::string_view b) override { return real_.writeAll(n, b); }
    bool exists(const std::string& n) override { return real_.exists(n); }
    bool remove(const std::string& n) override { return real_.remove(n); }
    std::unique_ptr<OutFile> createAtomic(const std::string& n, FileError* e) override {
        return wrap(real_.createAtomic(n, e));
    }
    std::unique_ptr<OutFile> createNew(const std::string& n, FileError* e) override {
        return wrap(real_.createNew(n, e));
    }
    std::unique_ptr<JournalFile> openJournal(const std::string& n, JournalOpenError* e) override {
        std::unique_ptr<JournalFile> inner = real_.openJournal(n, e);
        if (!inner || !journalFull) return inner;
        return std::make_unique<Journal>(std::move(inner), *journalFull);
    }
    // When set, the journal's appends and replacements fail while it is true; emptying
    // it in place still works, as it does on a full disk.
    bool* journalFull = nullptr;

private:
    struct Journal : JournalFile {
        Journal(std::unique_ptr<JournalFile> i, bool& f) : inner(std::move(i)), full(f) {}
        std::unique_ptr<JournalFile> inner;
        bool& full;
        std::uint64_t previousSize() const override { return inner->previousSize(); }
        std::int64_t readPrevious(std::uint64_t at, std::span<char> to) override { return inner->readPrevious(at, to); }
        bool append(std::string_view b) override { return !full && inner->append(b); }
        bool restart(std::string_view b) override { return inner->restart(b); }
        std::unique_ptr<OutFile> replacement(FileError* e) override {
            if (!full) return inner->replacement(e);
            if (e) *e = {FileFault::Write, {}};
            return nullptr;
        }
        void syncSoon() override { inner->syncSoon(); }
        bool syncNow() override { return inner->syncNow(); }
        bool atItsName() override { return inner->atItsName(); }
        bool keepAside(const std::string& n) override { return inner->keepAside(n); }
    };
    struct Out : OutFile {
        std::unique_ptr<OutFile> inner;
        std::size_t left;
        bool write(std::string_view b) override {
            if (b.size() > left) {
                inner->write(b.substr(0, left));
                left = 0;
                return false;
            }
            left -= b.size();
            return inner->write(b);
        }
        bool commit(FileError* e) override { return inner->commit(e); }
    };
    std::unique_ptr<OutFile> wrap(std::unique_ptr<OutFile> inner) {
        if (!inner) return nullptr;
        auto o = std::make_unique<Out>();
        o->inner = std::move(inner);
        o->left = budget_;
        return o;
    }
    Files& real_;
    std::size_t budget_;
};

}  // namespace keldrin::test
