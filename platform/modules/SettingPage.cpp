#include "SettingPage.h"

#include "LoginAutostart.h"
#include "cvCheckBox.h"
#include "cvAccessibleText.h"
#include "cvLabel.h"
#include "cvTr.h"
#include "cvTranslate.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QListWidget>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {
const int kSourceRole = Qt::UserRole + 1;
const int kPageRole = Qt::UserRole + 2;

quintptr keyOf(const QObject *object)
{
    return reinterpret_cast<quintptr>(object);
}

// Only for items whose page is alive: a page's item leaves the list when the page is destroyed.
QWidget *pageOf(const QListWidgetItem *item)
{
    if (!item)
        return nullptr;
    return static_cast<QWidget *>(reinterpret_cast<QObject *>(item->data(kPageRole).value<quintptr>()));
}
} // namespace

SettingPage::SettingPage(QWidget *parent)
    : ModulePage(CV_TR("Settings"), CV_TR("Adjust how Corvane Connect works for you."), parent)
{
    setObjectName(QStringLiteral("SettingPage"));
    setProperty("mainNavSection", QStringLiteral("Settings"));
    QHBoxLayout *row = new QHBoxLayout();
    row->setSpacing(16);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("SettingList"));
    cvSetAccessibleSource(m_list, CV_TR("Settings categories"));
    m_list->setFixedWidth(200);
    m_list->setFrameShape(QFrame::NoFrame);
    row->addWidget(m_list);
    m_pages = new QStackedWidget(this);
    m_pages->setObjectName(QStringLiteral("SettingPages"));
    row->addWidget(m_pages, 1);
    body()->addLayout(row, 1);

    m_empty = new cvWidget(m_pages);
    QVBoxLayout *emptyLayout = new QVBoxLayout(m_empty);
    cvLabel *none = new cvLabel(CV_TR("No settings are available."), m_empty);
    none->setObjectName(QStringLiteral("EmptyHint"));
    none->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(none);
    m_pages->addWidget(m_empty);

    // Under every sub-page: the switch belongs to the program as a whole.
    m_startAtLogin = new cvCheckBox(CV_TR("Start at login"), this);
    m_startAtLogin->setObjectName(QStringLiteral("StartAtLogin"));
    body()->addWidget(m_startAtLogin);
    connect(m_startAtLogin, &QCheckBox::toggled, this, &SettingPage::setStartAtLogin);

    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        QWidget *page = pageOf(m_list->item(row));
        m_pages->setCurrentWidget(page ? page : m_empty);
    });
    connect(this, &cvWidget::langConfigChanged, this, &SettingPage::retranslateList);
}

void SettingPage::addSubPage(const QString &englishTitle, QWidget *page)
{
    if (!page || indexOf(page) >= 0)
        return;
    QListWidgetItem *item = new QListWidgetItem(cvTranslate(englishTitle));
    item->setData(kSourceRole, englishTitle);
    item->setData(kPageRole, QVariant::fromValue(keyOf(page)));
    m_list->addItem(item);
    m_pages->addWidget(page);
    // A sub-page deleted by its module leaves the list too. The list is the context: while the
    // settings page itself is destroyed, the list goes before the sub-pages.
    QListWidget *list = m_list;
    connect(page, &QObject::destroyed, list, [list](QObject *gone) {
        for (int i = 0; i < list->count(); ++i) {
            if (list->item(i)->data(kPageRole).value<quintptr>() == keyOf(gone)) {
                delete list->takeItem(i);
                break;
            }
        }
    });
}

void SettingPage::showEvent(QShowEvent *event)
{
    // The first sub-page is chosen when the page is first seen: choosing it earlier would lay out and
    // style a sub-page nobody looks at while the program starts.
    if (m_list->currentRow() < 0 && m_list->count() > 0)
        m_list->setCurrentRow(0);
    refreshStartAtLogin();
    ModulePage::showEvent(event);
}

int SettingPage::subPageCount() const
{
    return m_list->count();
}

int SettingPage::indexOf(QWidget *page) const
{
    for (int i = 0; i < m_list->count(); ++i) {
        if (page && m_list->item(i)->data(kPageRole).value<quintptr>() == keyOf(page))
            return i;
    }
    return -1;
}

void SettingPage::selectSubPage(int index)
{
    if (index >= 0 && index < m_list->count())
        m_list->setCurrentRow(index);
}

QWidget *SettingPage::currentSubPage() const
{
    // Until one is chosen, the first sub-page is the one the page opens on.
    QListWidgetItem *item = m_list->currentItem();
    return pageOf(item ? item : m_list->item(0));
}

void SettingPage::retranslateList()
{
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem *item = m_list->item(i);
        item->setText(cvTranslate(item->data(kSourceRole).toString()));
    }
}

void SettingPage::refreshStartAtLogin()
{
    const QSignalBlocker quiet(m_startAtLogin);
    m_startAtLogin->setChecked(LoginAutostart().isEnabled());
}

void SettingPage::setStartAtLogin(bool on)
{
    // When the entry cannot be written the switch goes back to what the files say.
    LoginAutostart autostart;
    if (!autostart.setEnabled(on, QCoreApplication::applicationFilePath()) || autostart.isEnabled() != on)
        refreshStartAtLogin();
}
