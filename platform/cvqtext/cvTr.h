#pragma once

#include <QString>

// Marks an English source text that the catalogues translate; the catalogue check finds every
// text written this way. CV_TR_NOOP marks a plain character literal kept for later translation.
#define CV_TR(text) QStringLiteral(text)
#define CV_TR_NOOP(text) text
