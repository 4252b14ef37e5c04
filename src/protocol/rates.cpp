#include "protocol/rates.h"

namespace keldrin {

const BaudCode* findBaudCode(int code) {
    for (const BaudCode& b : kBaudCodes) {
        if (b.code == code) return &b;
    }
    return nullptr;
}

const AirCode* findAirCode(int code) {
    for (const AirCode& c : kAirCodes) {
        if (c.code == code) return &c;
    }
    return nullptr;
}

int baudForCode(int code) {
    const BaudCode* b = findBaudCode(code);
    return b ? b->baud : 0;
}

}  // namespace keldrin
