#pragma once
// Switches the C library to a locale whose decimal separator is a comma, for the life
// of the object, making one with localedef when the machine has none installed.
#include <QTemporaryDir>

namespace keldrin::test {

class CommaLocale {
public:
    CommaLocale();
    ~CommaLocale();
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;
    bool active() const { return active_; }

private:
    bool use(const char* name);
    QTemporaryDir dir_;
    bool active_ = false;
};

}  // namespace keldrin::test
