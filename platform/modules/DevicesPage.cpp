#include "DevicesPage.h"

#include "UsbDeviceScanner.h"
#include "cvAccessibleText.h"
#include "cvLabel.h"
#include "cvPushButton.h"
#include "cvTr.h"
#include "cvTranslate.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QVariant>

DevicesPage::DevicesPage(QWidget *parent)
    : ModulePage(CV_TR("Devices"), CV_TR("USB devices connected to this computer."), parent)
{
    setObjectName(QStringLiteral("DevicesPage"));
    setProperty("mainNavSection", QStringLiteral("Devices"));

    QHBoxLayout *bar = new QHBoxLayout();
    m_count = new cvLabel(QString(), this);
    m_count->setObjectName(QStringLiteral("DeviceCount"));
    bar->addWidget(m_count);
    bar->addStretch(1);
    cvPushButton *refreshButton = new cvPushButton(CV_TR("Refresh"), this);
    refreshButton->setObjectName(QStringLiteral("RefreshButton"));
    refreshButton->setProperty("primary", true);
    bar->addWidget(refreshButton);
    body()->addLayout(bar);

    m_views = new QStackedWidget(this);

    m_empty = new cvWidget(m_views);
    QVBoxLayout *emptyLayout = new QVBoxLayout(m_empty);
    cvLabel *none = new cvLabel(CV_TR("No USB devices found"), m_empty);
    none->setObjectName(QStringLiteral("EmptyHint"));
    none->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(none);
    m_views->addWidget(m_empty);
    body()->addWidget(m_views, 1);

    connect(refreshButton, &QPushButton::clicked, this, &DevicesPage::refresh);
    // Item texts are not cv widgets: a language switch rebuilds them.
    connect(this, &cvWidget::langConfigChanged, this, &DevicesPage::refresh);
    refresh();
}

// Most start-ups find no device, so the list and its header are built when the first one appears.
QTreeWidget *DevicesPage::ensureList()
{
    if (m_list)
        return m_list;
    m_list = new QTreeWidget(m_views);
    m_list->setObjectName(QStringLiteral("DeviceList"));
    cvSetAccessibleSource(m_list, CV_TR("USB devices"));
    m_list->setColumnCount(4);
    m_list->setRootIsDecorated(false);
    m_list->setAlternatingRowColors(true);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_list->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_list->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(3, QHeaderView::ResizeToContents);
    m_views->insertWidget(0, m_list);
    return m_list;
}

void DevicesPage::retranslateHeaders()
{
    m_list->setHeaderLabels({cvTranslate(CV_TR("Product")), cvTranslate(CV_TR("Manufacturer")),
                             cvTranslate(CV_TR("ID")), cvTranslate(CV_TR("Port"))});
}

void DevicesPage::refresh()
{
    const QList<UsbDeviceScanner::Device> devices = UsbDeviceScanner::scan();
    if (!devices.isEmpty())
        ensureList();
    if (m_list) {
        retranslateHeaders();
        m_list->clear();
    }
    for (const UsbDeviceScanner::Device &device : devices) {
        QTreeWidgetItem *item = new QTreeWidgetItem(m_list);
        item->setText(0, device.product.isEmpty() ? cvTranslate(CV_TR("Unknown device")) : device.product);
        item->setText(1, device.manufacturer.isEmpty() ? cvTranslate(CV_TR("Unknown manufacturer"))
                                                       : device.manufacturer);
        item->setText(2, device.vendorId + QLatin1Char(':') + device.productId);
        item->setText(3, device.busPath);
    }
    m_count->setSourceText(CV_TR("Connected devices: %1"), {QString::number(devices.size())});
    m_views->setCurrentWidget(devices.isEmpty() ? static_cast<QWidget *>(m_empty) : m_list);
}

int DevicesPage::deviceCount() const
{
    return m_list ? m_list->topLevelItemCount() : 0;
}
