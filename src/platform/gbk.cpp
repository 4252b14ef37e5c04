#include "platform/gbk.h"

#include <QString>

#ifdef _WIN32
#include <windows.h>
#else
#include <QStringEncoder>
#endif

namespace keldrin {

namespace {

constexpr char kStandIn = '?';

#ifdef _WIN32
constexpr UINT kCodePage = 936;

// Appends text in GBK; false when a character had no GBK form. No best fit: a
// character is either GBK's own or not there, never a look-alike.
bool encode(QStringView text, std::string& out) {
    if (text.isEmpty()) return true;
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    const int n = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide, n, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return false;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(size));
    BOOL usedDefault = FALSE;
    const char standIn[] = {kStandIn, 0};
    const int wrote = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide, n, out.data() + at, size,
                                          standIn, &usedDefault);
    out.resize(at + static_cast<std::size_t>(wrote > 0 ? wrote : 0));
    return wrote == size && !usedDefault;
}

bool systemHasGbk() {
    CPINFO info;
    return GetCPInfo(kCodePage, &info) != 0;
}
#else
bool encode(QStringView text, std::string& out) {
    // One converter per thread: opening an ICU converter costs more than most texts.
    // Its error mark survives resetState(), so a converter that saw an error is replaced.
    thread_local QStringEncoder encoder("GBK");
    if (encoder.hasError()) encoder = QStringEncoder("GBK");
    encoder.resetState();
    const QByteArray b = encoder.encode(text);
    out.append(b.constData(), static_cast<std::size_t>(b.size()));
    return !encoder.hasError();
}

bool systemHasGbk() { return QStringEncoder("GBK").isValid(); }
#endif

}  // namespace

bool SystemGbk::available() {
    static const bool has = systemHasGbk();
    return has;
}

void SystemGbk::append(std::string& out, std::string_view utf8) {
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    const std::size_t at = out.size();
    if (encode(text, out)) return;
    // Something had no GBK form, and converters differ in what they put for it: again,
    // a character (one code point, a surrogate pair included) at a time.
    out.resize(at);
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate() ? 2 : 1;
        const std::size_t before = out.size();
        if (!encode(QStringView(text).mid(i, n), out)) {
            out.resize(before);
            out.push_back(kStandIn);
        }
        i += n;
    }
}

}  // namespace keldrin
