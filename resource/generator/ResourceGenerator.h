#pragma once

#include <QString>
#include <QStringList>

// Lays out the shipped resources for every display scale: style sheets from the templates (sizes
// written as {{N}} are N pixels at scale 1) and PNG drawables rendered from their SVG sources.
class ResourceGenerator
{
public:
    static QStringList scales();
    // "{{N}}" becomes round(N * scale) followed by "px" (at least 1 for a non-zero N).
    static QString scaleSheet(const QString &templateText, double scale);
    // Renders the SVG at size × scale pixels; false when it cannot be read or written.
    static bool renderSvg(const QString &svgPath, int size, const QString &pngPath);

    // sourceDir: the resource folder of the sources; rootResource: <root>/resource;
    // iconDir: where the logo goes in hicolor sizes (<iconDir>/<N>/tarn-desktop.png).
    bool run(const QString &sourceDir, const QString &rootResource, const QString &iconDir);
    QString error() const { return m_error; }

private:
    bool fail(const QString &message);

    QString m_error;
};
