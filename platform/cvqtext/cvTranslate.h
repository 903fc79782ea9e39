#pragma once

#include <QString>

// The current-language text of an English source; an empty source stays empty.
QString cvTranslate(const QString &englishSource);
