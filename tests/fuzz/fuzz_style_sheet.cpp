// The style-sheet rewrite: the input is "<folder>\0<sheet>", or a whole sheet with a fixed folder.

#include "FuzzCheck.h"
#include "TarnDesktopApp.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const void *nul = std::memchr(bytes, '\0', size);
    QString folder = QStringLiteral("/opt/tarn/resource/drawable/1/");
    QString sheet;
    if (nul) {
        const int cut = static_cast<int>(static_cast<const char *>(nul) - bytes);
        folder = QString::fromUtf8(bytes, cut);
        sheet = QString::fromUtf8(bytes + cut + 1, static_cast<int>(size) - cut - 1);
    } else {
        sheet = QString::fromUtf8(bytes, static_cast<int>(size));
    }

    const QString result = TarnDesktopApp::rewriteImageReferences(sheet, folder);

    // Walk the sheet: every double-quoted url( reference gains the folder, everything else (single-quoted
    // and bare references included) stays as it was. Inserted text is never scanned again.
    const QString marker = QStringLiteral("url(\"");
    QString expected;
    int references = 0;
    int from = 0;
    for (;;) {
        const int at = sheet.indexOf(marker, from, Qt::CaseSensitive);
        if (at < 0)
            break;
        expected += sheet.midRef(from, at - from);
        expected += marker;
        expected += folder;
        from = at + marker.size();
        ++references;
    }
    expected += sheet.midRef(from);
    FUZZ_CHECK(result == expected);
    FUZZ_CHECK(result.size() == sheet.size() + references * folder.size());
    FUZZ_CHECK(sheet.count(QStringLiteral("url('")) <= result.count(QStringLiteral("url('")));
    FUZZ_CHECK(TarnDesktopApp::rewriteImageReferences(sheet, QString()) == sheet);
    return 0;
}
