#include "ResourceGenerator.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || args.size() > 4) {
        std::fprintf(stderr, "usage: %s <resource sources> <root>/resource [<hicolor output>]\n", argv[0]);
        return 2;
    }
    ResourceGenerator generator;
    if (!generator.run(args.at(1), args.at(2), args.size() > 3 ? args.at(3) : QString())) {
        std::fprintf(stderr, "%s\n", qPrintable(generator.error()));
        return 1;
    }
    return 0;
}
