#include "FeedbackPage.h"

#include "FeedbackStore.h"
#include "ModuleHost.h"
#include "cvAccessibleText.h"
#include "cvPlainTextEdit.h"
#include "cvPushButton.h"
#include "cvTr.h"
#include "cvTranslate.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QVariant>

namespace {
// Enough for any report a person types; a paste of a whole log is cut off.
const int kMaxFeedback = 64 * 1024;
} // namespace

FeedbackPage::FeedbackPage(const ModuleHost *host, QWidget *parent)
    : ModulePage(CV_TR("Feedback"), CV_TR("Tell us what works well and what we should improve."), parent),
      m_host(host)
{
    setObjectName(QStringLiteral("FeedbackPage"));
    m_editor = new cvPlainTextEdit(this);
    m_editor->setObjectName(QStringLiteral("FeedbackText"));
    cvSetAccessibleSource(m_editor, CV_TR("Your feedback"));
    m_editor->setPlaceholderSource(CV_TR("Describe your problem or suggestion"));
    body()->addWidget(m_editor, 1);
    QHBoxLayout *bar = new QHBoxLayout();
    bar->addStretch(1);
    cvPushButton *sendButton = new cvPushButton(CV_TR("Send"), this);
    sendButton->setObjectName(QStringLiteral("SendButton"));
    sendButton->setProperty("primary", true);
    bar->addWidget(sendButton);
    body()->addLayout(bar);
    connect(sendButton, &QPushButton::clicked, this, [this] { send(); });
}

bool FeedbackPage::send()
{
    const QString title = CV_TR("Feedback");
    QString text = m_editor->toPlainText().trimmed();
    if (text.isEmpty()) {
        if (m_host)
            m_host->warning(title, cvTranslate(CV_TR("Please enter your feedback first.")));
        return false;
    }
    if (text.size() > kMaxFeedback)
        text.truncate(kMaxFeedback);
    if (!FeedbackStore::append(text)) {
        if (m_host)
            m_host->warning(title, cvTranslate(CV_TR("Your feedback could not be saved.")));
        return false;
    }
    m_editor->clear();
    if (m_host)
        m_host->information(title, cvTranslate(CV_TR("Thank you! Your feedback has been saved.")));
    return true;
}
