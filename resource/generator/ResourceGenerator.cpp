#include "ResourceGenerator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>

#include <cmath>

namespace {
// Base edge length at scale 1: arrows 12 px, message-box icons 32 px, the rest 16 px.
int baseSize(const QString &name)
{
    if (name.startsWith(QLatin1String("arrow-")))
        return 12;
    if (name.startsWith(QLatin1String("msgbox-")))
        return 32;
    return 16;
}

bool writeText(const QString &path, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray data = text.toUtf8();
    return file.write(data) == data.size();
}
} // namespace

QStringList ResourceGenerator::scales()
{
    return {QStringLiteral("1"), QStringLiteral("1.25"), QStringLiteral("1.5"), QStringLiteral("2")};
}

QString ResourceGenerator::scaleSheet(const QString &templateText, double scale)
{
    static const QRegularExpression token(QStringLiteral("\\{\\{(\\d+)\\}\\}"));
    QString out;
    int last = 0;
    QRegularExpressionMatchIterator it = token.globalMatch(templateText);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        out += templateText.mid(last, match.capturedStart() - last);
        const int base = match.captured(1).toInt();
        int scaled = int(std::lround(base * scale));
        if (base > 0 && scaled < 1)
            scaled = 1;
        out += QString::number(scaled) + QStringLiteral("px");
        last = match.capturedEnd();
    }
    out += templateText.mid(last);
    return out;
}

bool ResourceGenerator::renderSvg(const QString &svgPath, int size, const QString &pngPath)
{
    QSvgRenderer renderer(svgPath);
    if (!renderer.isValid() || size <= 0)
        return false;
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(0, 0, size, size));
    }
    QDir().mkpath(QFileInfo(pngPath).absolutePath());
    return image.save(pngPath, "PNG");
}

bool ResourceGenerator::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool ResourceGenerator::run(const QString &sourceDir, const QString &rootResource, const QString &iconDir)
{
    const QDir templates(sourceDir + QStringLiteral("/theme/template"));
    const QStringList sheets = templates.entryList({QStringLiteral("*.qss")}, QDir::Files, QDir::Name);
    if (sheets.isEmpty())
        return fail(QStringLiteral("no style-sheet templates in ") + templates.path());
    const QDir drawables(sourceDir + QStringLiteral("/drawable/src"));
    const QStringList svgs = drawables.entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name);

    for (const QString &scaleText : scales()) {
        const double scale = scaleText.toDouble();
        const QString themeDir = rootResource + QStringLiteral("/theme/") + scaleText;
        // A template removed from the sources must not linger in the installed theme.
        QDir old(themeDir);
        for (const QString &stale : old.entryList({QStringLiteral("*.qss")}, QDir::Files))
            old.remove(stale);
        if (!QDir().mkpath(themeDir))
            return fail(QStringLiteral("cannot create ") + themeDir);
        for (const QString &sheet : sheets) {
            QFile in(templates.filePath(sheet));
            if (!in.open(QIODevice::ReadOnly))
                return fail(QStringLiteral("cannot read ") + in.fileName());
            if (!writeText(themeDir + QLatin1Char('/') + sheet,
                           scaleSheet(QString::fromUtf8(in.readAll()), scale)))
                return fail(QStringLiteral("cannot write ") + themeDir + QLatin1Char('/') + sheet);
        }
        for (const QString &svg : svgs) {
            const QString name = QFileInfo(svg).completeBaseName();
            if (name == QLatin1String("logo"))
                continue;
            const int size = int(std::lround(baseSize(name) * scale));
            const QString png = rootResource + QStringLiteral("/drawable/") + scaleText +
                                QStringLiteral("/common/") + name + QStringLiteral(".png");
            if (!renderSvg(drawables.filePath(svg), size, png))
                return fail(QStringLiteral("cannot render ") + drawables.filePath(svg));
        }
    }

    if (!iconDir.isEmpty() && drawables.exists(QStringLiteral("logo.svg"))) {
        for (int size : {16, 24, 32, 48, 64, 128, 256, 512}) {
            const QString png =
                iconDir + QLatin1Char('/') + QString::number(size) + QStringLiteral("/tarn-desktop.png");
            if (!renderSvg(drawables.filePath(QStringLiteral("logo.svg")), size, png))
                return fail(QStringLiteral("cannot render the logo at ") + QString::number(size));
        }
    }
    return true;
}
