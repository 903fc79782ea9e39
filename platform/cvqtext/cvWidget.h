#pragma once

#include <QString>
#include <QWidget>

// A plain widget whose tool tip follows the language. Containers that need to re-translate texts
// kept outside cv widgets (menus, list items) listen to langConfigChanged().
class cvWidget : public QWidget
{
    Q_OBJECT
public:
    explicit cvWidget(QWidget *parent = nullptr);

    void setSourceToolTip(const QString &english);
    QString sourceToolTip() const { return m_toolTipSource; }
    void dealLangConfigChanged();

signals:
    void langConfigChanged();

private:
    QString m_toolTipSource;
};
