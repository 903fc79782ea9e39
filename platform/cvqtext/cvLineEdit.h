#pragma once

#include <QLineEdit>
#include <QString>

// A QLineEdit whose placeholder text follows the language.
class cvLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit cvLineEdit(QWidget *parent = nullptr);

    void setPlaceholderSource(const QString &english);
    QString placeholderSource() const { return m_placeholderSource; }
    void dealLangConfigChanged();

private:
    QString m_placeholderSource;
};
