#include "MessageBoxDelegate.h"

#include "ETLLib.h"
#include "UICommon.h"
#include "cvTr.h"
#include "cvTranslate.h"

#include <QAbstractButton>
#include <QIcon>
#include <QLabel>
#include <QPixmap>

namespace {
// The theme's own icons for the current scale; the style's standard ones when they are missing.
QPixmap iconFor(QMessageBox::Icon icon)
{
    const char *name = icon == QMessageBox::Warning ? "msgbox-warning.png" : "msgbox-info.png";
    const QString path = QString::fromStdString(etlGetAppRootPath()) + QStringLiteral("/resource/drawable/") +
                         QString::fromStdString(dpiSize2String(getCurrentDpiSize())) +
                         QStringLiteral("/common/") + QLatin1String(name);
    return QPixmap(path);
}
} // namespace

void MessageBoxDelegate::setParentWindow(QWidget *window)
{
    m_parent = window;
}

void MessageBoxDelegate::information(const QString &englishTitle, const QString &text)
{
    show(QMessageBox::Information, englishTitle, text);
}

void MessageBoxDelegate::warning(const QString &englishTitle, const QString &text)
{
    show(QMessageBox::Warning, englishTitle, text);
}

void MessageBoxDelegate::show(QMessageBox::Icon icon, const QString &englishTitle, const QString &text)
{
    if (!m_active) {
        etlModuleTrace(4, "W:Modules", "message box after MsgBox_Uninit: %s", qUtf8Printable(text));
        return;
    }
    QMessageBox *box =
        new QMessageBox(icon, cvTranslate(englishTitle), text, QMessageBox::Ok, m_parent.data());
    box->setObjectName(QStringLiteral("ModuleMessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    // The kind of box stays known (icon()), only its picture is the theme's.
    const QPixmap pixmap = iconFor(icon);
    QLabel *iconLabel = box->findChild<QLabel *>(QStringLiteral("qt_msgboxex_icon_label"));
    if (!pixmap.isNull() && iconLabel)
        iconLabel->setPixmap(pixmap);
    if (QAbstractButton *ok = box->button(QMessageBox::Ok)) {
        ok->setText(cvTranslate(CV_TR("OK")));
        ok->setIcon(QIcon());
    }
    m_boxes.removeAll(QPointer<QMessageBox>());
    m_boxes.append(box);
    box->show();
}

void MessageBoxDelegate::closeAll()
{
    const QList<QPointer<QMessageBox>> boxes = m_boxes;
    m_boxes.clear();
    for (const QPointer<QMessageBox> &box : boxes)
        delete box.data();
}

QList<QMessageBox *> MessageBoxDelegate::openBoxes() const
{
    QList<QMessageBox *> open;
    for (const QPointer<QMessageBox> &box : m_boxes) {
        if (box)
            open.append(box.data());
    }
    return open;
}
