#pragma once

// Base text sizes of the widget library, in points. InitTextSizeCommon() sets them up once and
// gives the application its default font size; later calls change nothing.
void InitTextSizeCommon();
int cvTextSizeSmall();
int cvTextSizeNormal();
int cvTextSizeTitle();
