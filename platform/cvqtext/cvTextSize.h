#pragma once

// Base text sizes of the widget library, in points. InitTextSizeCommon() sets them up once, gives the
// application its default font size and starts reading the font database (cvFontWarmUp); later
// calls change nothing.
void InitTextSizeCommon();
int cvTextSizeSmall();
int cvTextSizeNormal();
int cvTextSizeTitle();
