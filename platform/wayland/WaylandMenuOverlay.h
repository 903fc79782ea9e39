#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QTimer>

#include <memory>

class QAction;
class QMenu;

// On a Wayland session a client learns the pointer's position only from the surface under it, and
// cannot place a window of its own: a menu that a panel asks for without drawing it would land
// wherever the compositor puts new windows. This draws the menu on a full-output layer-shell overlay
// instead, at the pointer, and hands its entries' input back to the menu's actions. It speaks to the
// compositor over a connection of its own, so nothing that goes wrong there can touch the program's
// windows, and it never waits on the compositor.
class WaylandMenuOverlay : public QObject
{
    Q_OBJECT
public:
    explicit WaylandMenuOverlay(QMenu *menu, QObject *parent = nullptr);
    ~WaylandMenuOverlay() override;

    // Opens the menu at the pointer, or places an open one at the pointer again. Completes later;
    // unavailable() says when it cannot be done on this session, and the menu is then not shown.
    void open();
    void close();
    bool isOpen() const;
    // False once the compositor was found to offer no layer shell: opening is not tried again.
    bool supported() const { return !m_noLayerShell; }

    // The menu's top-left corner when opened at `pointer`: right of and below it, to the left of or
    // above it where it would leave the output, and never outside the output.
    static QPoint placement(const QSize &menu, const QPoint &pointer, const QSize &output);

    enum class KeyCommand
    {
        None,
        Previous,
        Next,
        First,
        Last,
        Trigger,
        Close
    };
    // What a key, as the keyboard's keymap names it (a keysym), does in the menu.
    static KeyCommand keyCommand(quint32 keysym);

signals:
    void unavailable(const QString &reason);
    void closed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Session;

    void onReadable();
    // Acts on what the events just dispatched asked for; the connection is never torn down from
    // inside one of its own callbacks.
    void settle();
    // By value: the reason is often the pending failure this clears.
    void fail(QString reason);
    void finish(const char *why);
    void createSurface();
    void placeAt(const QPoint &anchor);
    void placeFallback();
    void hover(const QPoint &position);
    void step(KeyCommand command);
    QAction *entryAt(const QPoint &position) const;
    bool insideMenu(const QPoint &position) const;
    QSize menuSize() const;
    void redraw();
    void flush();

    QPointer<QMenu> m_menu;
    std::unique_ptr<Session> m_session;
    QTimer m_answerTimer;
    QTimer m_pointerTimer;
    bool m_noLayerShell = false;
    bool m_placed = false;
    bool m_shown = false;
    QPoint m_anchor;
    QPoint m_menuPos;
    // Asked for by the events of one dispatch, done by settle().
    QString m_failure;
    const char *m_closeReason = nullptr;
    QPointer<QAction> m_trigger;
    bool m_needsRedraw = false;
};
