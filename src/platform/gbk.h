#pragma once
// GBK through the system's own conversion: ICU through Qt on Linux, the code page on
// Windows (where Qt has no ICU).
#include "core/services.h"

namespace keldrin {

class SystemGbk : public Gbk {
public:
    bool available() override;
    void append(std::string& out, std::string_view utf8) override;
};

}  // namespace keldrin
