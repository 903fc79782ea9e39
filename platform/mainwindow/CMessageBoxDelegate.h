#pragma once

class QString;

// Message boxes shown by the message-box module on behalf of others.
class CMessageBoxDelegate
{
public:
    virtual ~CMessageBoxDelegate() = default;
    virtual void information(const QString &englishTitle, const QString &text) = 0;
    virtual void warning(const QString &englishTitle, const QString &text) = 0;
};
