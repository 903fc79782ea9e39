#pragma once

class QApplication;
class QWidget;

void ucstyle_init(QApplication *application, QWidget *mainWindow);
