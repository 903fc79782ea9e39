#include "WaylandMenuOverlay.h"

#include "ETLLib.h"

#include <QAction>
#include <QEvent>
#include <QImage>
#include <QMenu>
#include <QSocketNotifier>

#ifdef TARN_HAVE_WAYLAND
#include "wlr-layer-shell-unstable-v1-client-protocol.h"

#include <wayland-client.h>
#ifdef TARN_HAVE_XKBCOMMON
#include <xkbcommon/xkbcommon.h>
#endif

#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

const char kTagW[] = "W:WaylandMenuOverlay";
const char kTagD[] = "D:WaylandMenuOverlay";

// The compositor answers the first requests at once; one that does not within this is not waited for.
constexpr int kAnswerWaitMs = 3000;
// The pointer's position comes with its entering the mapped overlay; without it the menu is placed
// where a keyboard user finds it.
constexpr int kPointerWaitMs = 1000;
// Neither side of a buffer is larger (16384x16384 at 4 bytes a pixel is 1 GiB already).
constexpr int kMaxBufferSide = 16384;

// The keysyms a menu answers to (X11's values, which xkbcommon shares).
constexpr quint32 kSymSpace = 0x0020;
constexpr quint32 kSymReturn = 0xff0d;
constexpr quint32 kSymEscape = 0xff1b;
constexpr quint32 kSymHome = 0xff50;
constexpr quint32 kSymUp = 0xff52;
constexpr quint32 kSymDown = 0xff54;
constexpr quint32 kSymEnd = 0xff57;
constexpr quint32 kSymKpEnter = 0xff8d;
constexpr quint32 kSymKpHome = 0xff95;
constexpr quint32 kSymKpUp = 0xff97;
constexpr quint32 kSymKpDown = 0xff99;
constexpr quint32 kSymKpEnd = 0xff9c;
constexpr quint32 kSymIsoEnter = 0xfe34;

// A keyboard without a keymap sends bare Linux input event codes; these are the ones with a meaning
// here, on a standard layout.
quint32 keysymOfEventCode(quint32 code)
{
    switch (code) {
    case 1:
        return kSymEscape;
    case 28:
        return kSymReturn;
    case 57:
        return kSymSpace;
    case 96:
        return kSymKpEnter;
    case 102:
        return kSymHome;
    case 103:
        return kSymUp;
    case 107:
        return kSymEnd;
    case 108:
        return kSymDown;
    default:
        return 0;
    }
}

bool selectable(const QAction *action)
{
    return action && action->isVisible() && action->isEnabled() && !action->isSeparator() && !action->menu();
}

} // namespace

QPoint WaylandMenuOverlay::placement(const QSize &menu, const QPoint &pointer, const QSize &output)
{
    auto axis = [](int at, int extent, int room) {
        int start = at;
        if (start + extent > room)
            start = at - extent;
        return std::max(0, std::min(start, room - extent));
    };
    return QPoint(axis(pointer.x(), menu.width(), output.width()),
                  axis(pointer.y(), menu.height(), output.height()));
}

WaylandMenuOverlay::KeyCommand WaylandMenuOverlay::keyCommand(quint32 keysym)
{
    switch (keysym) {
    case kSymUp:
    case kSymKpUp:
        return KeyCommand::Previous;
    case kSymDown:
    case kSymKpDown:
        return KeyCommand::Next;
    case kSymHome:
    case kSymKpHome:
        return KeyCommand::First;
    case kSymEnd:
    case kSymKpEnd:
        return KeyCommand::Last;
    case kSymReturn:
    case kSymKpEnter:
    case kSymIsoEnter:
    case kSymSpace:
        return KeyCommand::Trigger;
    case kSymEscape:
        return KeyCommand::Close;
    default:
        return KeyCommand::None;
    }
}

#ifdef TARN_HAVE_WAYLAND

// One shared-memory buffer the size of the output. The compositor reads it until it releases it, so
// a buffer it holds is never drawn into.
struct ShmBuffer
{
    wl_buffer *buffer = nullptr;
    void *data = MAP_FAILED;
    size_t bytes = 0;
    QSize size;
    bool busy = false;

    ShmBuffer() = default;
    ShmBuffer(const ShmBuffer &) = delete;
    ShmBuffer &operator=(const ShmBuffer &) = delete;
    ~ShmBuffer() { reset(); }

    void reset()
    {
        if (buffer)
            wl_buffer_destroy(buffer);
        if (data != MAP_FAILED)
            munmap(data, bytes);
        buffer = nullptr;
        data = MAP_FAILED;
        bytes = 0;
        size = QSize();
        busy = false;
    }

    bool create(wl_shm *shm, const QSize &wanted)
    {
        reset();
        const int stride = wanted.width() * 4;
        const size_t length = static_cast<size_t>(stride) * static_cast<size_t>(wanted.height());
        const int fd = memfd_create("tarn-menu", MFD_CLOEXEC);
        if (fd < 0)
            return false;
        if (ftruncate(fd, static_cast<off_t>(length)) != 0) {
            close(fd);
            return false;
        }
        data = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (data == MAP_FAILED) {
            close(fd);
            return false;
        }
        bytes = length;
        wl_shm_pool *pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(length));
        buffer = wl_shm_pool_create_buffer(pool, 0, wanted.width(), wanted.height(), stride,
                                           WL_SHM_FORMAT_ARGB8888);
        wl_shm_pool_destroy(pool);
        // The request carries its own copy of the descriptor.
        close(fd);
        static const wl_buffer_listener listener = {&ShmBuffer::released};
        wl_buffer_add_listener(buffer, &listener, this);
        size = wanted;
        return true;
    }

    static void released(void *data, wl_buffer *) { static_cast<ShmBuffer *>(data)->busy = false; }
};

struct WaylandMenuOverlay::Session
{
    explicit Session(WaylandMenuOverlay *owner) : q(owner) {}
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    ~Session()
    {
        notifier.reset();
#ifdef TARN_HAVE_XKBCOMMON
        dropKeymap();
        if (xkb)
            xkb_context_unref(xkb);
#endif
        if (!display)
            return;
        buffers[0].reset();
        buffers[1].reset();
        if (pointer)
            releasePointer();
        if (keyboard)
            releaseKeyboard();
        if (touch)
            releaseTouch();
        while (!outputs.empty())
            dropOutput(outputs.begin());
        if (layer)
            zwlr_layer_surface_v1_destroy(layer);
        if (surface)
            wl_surface_destroy(surface);
        if (sync)
            wl_callback_destroy(sync);
        if (layerShell)
            layerShellVersion >= 3 ? zwlr_layer_shell_v1_destroy(layerShell)
                                   : wl_proxy_destroy(reinterpret_cast<wl_proxy *>(layerShell));
        if (seat)
            seatVersion >= 5 ? wl_seat_release(seat) : wl_seat_destroy(seat);
        if (shm)
            wl_shm_destroy(shm);
        if (compositor)
            wl_compositor_destroy(compositor);
        if (registry)
            wl_registry_destroy(registry);
        wl_display_flush(display);
        wl_display_disconnect(display);
    }

    void releasePointer()
    {
        seatVersion >= 3 ? wl_pointer_release(pointer) : wl_pointer_destroy(pointer);
        pointer = nullptr;
    }

    void releaseKeyboard()
    {
        seatVersion >= 3 ? wl_keyboard_release(keyboard) : wl_keyboard_destroy(keyboard);
        keyboard = nullptr;
    }

    void releaseTouch()
    {
        seatVersion >= 3 ? wl_touch_release(touch) : wl_touch_destroy(touch);
        touch = nullptr;
    }

    ShmBuffer *freeBuffer(const QSize &pixels)
    {
        for (ShmBuffer &candidate : buffers) {
            if (!candidate.busy && candidate.buffer && candidate.size == pixels)
                return &candidate;
        }
        for (ShmBuffer &candidate : buffers) {
            if (!candidate.busy)
                return candidate.create(shm, pixels) ? &candidate : nullptr;
        }
        return nullptr;
    }

    // Outputs, for the scale of the one the overlay is on: drawn at that scale, the menu is as sharp
    // as the program's own windows.
    struct Output
    {
        wl_output *output;
        uint32_t name;
        int scale;
    };

    void dropOutput(std::vector<Output>::iterator output)
    {
        if (output->output == current)
            current = nullptr;
        outputVersion >= 3 ? wl_output_release(output->output) : wl_output_destroy(output->output);
        outputs.erase(output);
    }

    int scale() const
    {
        // set_buffer_scale came with wl_surface version 3.
        if (compositorVersion < 3)
            return 1;
        for (const Output &output : outputs) {
            if (output.output == current)
                return std::max(1, std::min(output.scale, 8));
        }
        return 1;
    }

    static void outputGeometry(void *, wl_output *, int32_t, int32_t, int32_t, int32_t, int32_t, const char *,
                               const char *, int32_t)
    {
    }
    static void outputMode(void *, wl_output *, uint32_t, int32_t, int32_t, int32_t) {}
    static void outputDone(void *, wl_output *) {}

    static void outputScale(void *data, wl_output *output, int32_t factor)
    {
        Session *self = static_cast<Session *>(data);
        for (Output &known : self->outputs) {
            if (known.output == output && known.scale != factor) {
                known.scale = factor;
                if (output == self->current)
                    self->q->m_needsRedraw = true;
            }
        }
    }

    static void surfaceEnter(void *data, wl_surface *, wl_output *output)
    {
        Session *self = static_cast<Session *>(data);
        if (self->current != output) {
            self->current = output;
            self->q->m_needsRedraw = true;
        }
    }

    static void surfaceLeave(void *data, wl_surface *, wl_output *output)
    {
        Session *self = static_cast<Session *>(data);
        if (self->current == output)
            self->current = nullptr;
    }

    // Registry and the answer to the first sync.
    static void global(void *data, wl_registry *registry, uint32_t name, const char *interface,
                       uint32_t version)
    {
        Session *self = static_cast<Session *>(data);
        auto bind = [&](const wl_interface *wanted, uint32_t highest) {
            return wl_registry_bind(registry, name, wanted, std::min(version, highest));
        };
        if (!self->compositor && strcmp(interface, wl_compositor_interface.name) == 0) {
            self->compositorVersion = std::min(version, 4u);
            self->compositor = static_cast<wl_compositor *>(bind(&wl_compositor_interface, 4));
        } else if (strcmp(interface, wl_output_interface.name) == 0 && version >= 2) {
            self->outputVersion = std::min(version, 3u);
            wl_output *output = static_cast<wl_output *>(bind(&wl_output_interface, 3));
            // Bound at version 3 at most: name and description are never sent.
            static const wl_output_listener listener = [] {
                wl_output_listener events{};
                events.geometry = &Session::outputGeometry;
                events.mode = &Session::outputMode;
                events.done = &Session::outputDone;
                events.scale = &Session::outputScale;
                return events;
            }();
            wl_output_add_listener(output, &listener, self);
            self->outputs.push_back({output, name, 1});
        } else if (!self->shm && strcmp(interface, wl_shm_interface.name) == 0) {
            self->shm = static_cast<wl_shm *>(bind(&wl_shm_interface, 1));
        } else if (!self->seat && strcmp(interface, wl_seat_interface.name) == 0) {
            self->seatVersion = std::min(version, 5u);
            self->seat = static_cast<wl_seat *>(bind(&wl_seat_interface, 5));
            static const wl_seat_listener listener = {&Session::capabilities, &Session::seatName};
            wl_seat_add_listener(self->seat, &listener, self);
        } else if (!self->layerShell && strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
            self->layerShellVersion = std::min(version, 3u);
            self->layerShell = static_cast<zwlr_layer_shell_v1 *>(bind(&zwlr_layer_shell_v1_interface, 3));
        }
    }

    static void globalRemove(void *data, wl_registry *, uint32_t name)
    {
        Session *self = static_cast<Session *>(data);
        const auto gone = std::find_if(self->outputs.begin(), self->outputs.end(),
                                       [name](const Output &output) { return output.name == name; });
        if (gone != self->outputs.end())
            self->dropOutput(gone);
    }

    static void syncDone(void *data, wl_callback *callback, uint32_t)
    {
        Session *self = static_cast<Session *>(data);
        wl_callback_destroy(callback);
        self->sync = nullptr;
        self->globalsKnown = true;
    }

    // Seat: a pointer or a keyboard may come and go while the overlay is open (a virtual device).
    static void capabilities(void *data, wl_seat *seat, uint32_t caps)
    {
        Session *self = static_cast<Session *>(data);
        const bool hasPointer = caps & WL_SEAT_CAPABILITY_POINTER;
        const bool hasKeyboard = caps & WL_SEAT_CAPABILITY_KEYBOARD;
        const bool hasTouch = caps & WL_SEAT_CAPABILITY_TOUCH;
        if (hasPointer && !self->pointer) {
            self->pointer = wl_seat_get_pointer(seat);
            // Bound at version 5 at most: later events are never sent.
            static const wl_pointer_listener listener = [] {
                wl_pointer_listener events{};
                events.enter = &Session::pointerEnter;
                events.leave = &Session::pointerLeave;
                events.motion = &Session::pointerMotion;
                events.button = &Session::pointerButton;
                events.axis = &Session::pointerAxis;
                events.frame = &Session::pointerFrame;
                events.axis_source = &Session::pointerAxisSource;
                events.axis_stop = &Session::pointerAxisStop;
                events.axis_discrete = &Session::pointerAxisDiscrete;
                return events;
            }();
            wl_pointer_add_listener(self->pointer, &listener, self);
        } else if (!hasPointer && self->pointer) {
            self->releasePointer();
        }
        if (hasTouch && !self->touch) {
            self->touch = wl_seat_get_touch(seat);
            // Bound at version 5 at most: shape and orientation are never sent.
            static const wl_touch_listener listener = [] {
                wl_touch_listener events{};
                events.down = &Session::touchDown;
                events.up = &Session::touchUp;
                events.motion = &Session::touchMotion;
                events.frame = &Session::touchFrame;
                events.cancel = &Session::touchCancel;
                return events;
            }();
            wl_touch_add_listener(self->touch, &listener, self);
        } else if (!hasTouch && self->touch) {
            self->releaseTouch();
        }
        if (hasKeyboard && !self->keyboard) {
            self->keyboard = wl_seat_get_keyboard(seat);
            static const wl_keyboard_listener listener = {&Session::keymap,        &Session::keyboardEnter,
                                                          &Session::keyboardLeave, &Session::key,
                                                          &Session::modifiers,     &Session::repeatInfo};
            wl_keyboard_add_listener(self->keyboard, &listener, self);
        } else if (!hasKeyboard && self->keyboard) {
            self->releaseKeyboard();
        }
    }

    static void seatName(void *, wl_seat *, const char *) {}

    // The layer surface.
    static void configure(void *data, zwlr_layer_surface_v1 *, uint32_t serial, uint32_t width,
                          uint32_t height)
    {
        Session *self = static_cast<Session *>(data);
        self->configureSerial = serial;
        const uint32_t largest = kMaxBufferSide;
        self->configureSize =
            QSize(static_cast<int>(std::min(width, largest)), static_cast<int>(std::min(height, largest)));
        self->configurePending = true;
    }

    static void layerClosed(void *data, zwlr_layer_surface_v1 *)
    {
        static_cast<Session *>(data)->q->m_closeReason =
            "the compositor closed the overlay (its output went away)";
    }

    // Pointer.
    static QPoint at(wl_fixed_t x, wl_fixed_t y)
    {
        return QPoint(wl_fixed_to_int(x), wl_fixed_to_int(y));
    }

    static void pointerEnter(void *data, wl_pointer *, uint32_t, wl_surface *surface, wl_fixed_t x,
                             wl_fixed_t y)
    {
        Session *self = static_cast<Session *>(data);
        if (surface != self->surface)
            return;
        self->pointerKnown = true;
        self->pointerAt = at(x, y);
        if (!self->q->m_placed)
            self->q->placeAt(self->pointerAt);
        self->q->hover(self->pointerAt);
    }

    static void pointerLeave(void *data, wl_pointer *, uint32_t, wl_surface *)
    {
        static_cast<Session *>(data)->pointerKnown = false;
    }

    static void pointerMotion(void *data, wl_pointer *, uint32_t, wl_fixed_t x, wl_fixed_t y)
    {
        Session *self = static_cast<Session *>(data);
        self->pointerKnown = true;
        self->pointerAt = at(x, y);
        self->q->hover(self->pointerAt);
    }

    static void pointerButton(void *data, wl_pointer *, uint32_t, uint32_t, uint32_t, uint32_t state)
    {
        Session *self = static_cast<Session *>(data);
        if (!self->pointerKnown)
            return;
        if (state == WL_POINTER_BUTTON_STATE_PRESSED)
            self->press(self->pointerAt);
        else
            self->release(self->pointerAt);
    }

    // A press outside the menu closes it; a release on an entry chooses it, as in any menu.
    void press(const QPoint &position)
    {
        if (!q->m_placed || !q->insideMenu(position))
            q->m_closeReason = "a press outside the menu";
    }

    void release(const QPoint &position)
    {
        QAction *entry = q->entryAt(position);
        if (q->m_placed && q->insideMenu(position) && selectable(entry))
            q->m_trigger = entry;
    }

    static void pointerAxis(void *, wl_pointer *, uint32_t, uint32_t, wl_fixed_t) {}
    static void pointerFrame(void *, wl_pointer *) {}
    static void pointerAxisSource(void *, wl_pointer *, uint32_t) {}
    static void pointerAxisStop(void *, wl_pointer *, uint32_t, uint32_t) {}
    static void pointerAxisDiscrete(void *, wl_pointer *, uint32_t, int32_t) {}

    // Touch: the first finger works the menu like a pointer, so a screen with no pointer and no
    // keyboard can still choose an entry or close the overlay.
    static void touchDown(void *data, wl_touch *, uint32_t, uint32_t, wl_surface *surface, int32_t id,
                          wl_fixed_t x, wl_fixed_t y)
    {
        Session *self = static_cast<Session *>(data);
        if (surface != self->surface || self->touching)
            return;
        self->touching = true;
        self->touchId = id;
        self->touchAt = at(x, y);
        self->q->hover(self->touchAt);
        self->press(self->touchAt);
    }

    static void touchUp(void *data, wl_touch *, uint32_t, uint32_t, int32_t id)
    {
        Session *self = static_cast<Session *>(data);
        if (!self->touching || id != self->touchId)
            return;
        self->touching = false;
        self->release(self->touchAt);
    }

    static void touchMotion(void *data, wl_touch *, uint32_t, int32_t id, wl_fixed_t x, wl_fixed_t y)
    {
        Session *self = static_cast<Session *>(data);
        if (!self->touching || id != self->touchId)
            return;
        self->touchAt = at(x, y);
        self->q->hover(self->touchAt);
    }

    static void touchFrame(void *, wl_touch *) {}

    static void touchCancel(void *data, wl_touch *)
    {
        static_cast<Session *>(data)->touching = false;
    }

    // Keyboard. Keys mean what the keyboard's keymap says: a virtual keyboard, or a remapped one,
    // sends codes of its own.
#ifdef TARN_HAVE_XKBCOMMON
    void dropKeymap()
    {
        if (xkbState)
            xkb_state_unref(xkbState);
        if (xkbKeymap)
            xkb_keymap_unref(xkbKeymap);
        xkbState = nullptr;
        xkbKeymap = nullptr;
    }
#endif

    static void keymap(void *data, wl_keyboard *, uint32_t format, int32_t fd, uint32_t size)
    {
        Session *self = static_cast<Session *>(data);
        if (fd < 0)
            return;
#ifdef TARN_HAVE_XKBCOMMON
        self->dropKeymap();
        if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
            void *text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (text != MAP_FAILED) {
                if (!self->xkb)
                    self->xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
                if (self->xkb)
                    self->xkbKeymap =
                        xkb_keymap_new_from_buffer(self->xkb, static_cast<const char *>(text),
                                                   strnlen(static_cast<const char *>(text), size),
                                                   XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
                munmap(text, size);
            }
            if (self->xkbKeymap)
                self->xkbState = xkb_state_new(self->xkbKeymap);
            else
                etlModuleTrace(4, kTagW,
                               "the keyboard's keymap could not be read; keys taken as a standard layout");
        }
#else
        Q_UNUSED(self);
        Q_UNUSED(format);
        Q_UNUSED(size);
#endif
        ::close(fd);
    }

    static void keyboardEnter(void *data, wl_keyboard *, uint32_t, wl_surface *surface, wl_array *)
    {
        Session *self = static_cast<Session *>(data);
        if (surface == self->surface)
            self->focused = true;
    }

    static void keyboardLeave(void *data, wl_keyboard *, uint32_t, wl_surface *surface)
    {
        Session *self = static_cast<Session *>(data);
        if (surface == self->surface && self->focused) {
            self->focused = false;
            self->q->m_closeReason = "the keyboard focus left the menu";
        }
    }

    static void key(void *data, wl_keyboard *, uint32_t, uint32_t, uint32_t code, uint32_t state)
    {
        Session *self = static_cast<Session *>(data);
        if (state != WL_KEYBOARD_KEY_STATE_PRESSED || !self->q->m_placed)
            return;
        quint32 keysym = 0;
#ifdef TARN_HAVE_XKBCOMMON
        if (self->xkbState)
            keysym = xkb_state_key_get_one_sym(self->xkbState, code + 8);
        else
#endif
            keysym = keysymOfEventCode(code);
        self->q->step(WaylandMenuOverlay::keyCommand(keysym));
    }

    static void modifiers(void *data, wl_keyboard *, uint32_t, uint32_t depressed, uint32_t latched,
                          uint32_t locked, uint32_t group)
    {
#ifdef TARN_HAVE_XKBCOMMON
        Session *self = static_cast<Session *>(data);
        if (self->xkbState)
            xkb_state_update_mask(self->xkbState, depressed, latched, locked, 0, 0, group);
#else
        Q_UNUSED(data);
        Q_UNUSED(depressed);
        Q_UNUSED(latched);
        Q_UNUSED(locked);
        Q_UNUSED(group);
#endif
    }
    static void repeatInfo(void *, wl_keyboard *, int32_t, int32_t) {}

    WaylandMenuOverlay *q;
    wl_display *display = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    wl_registry *registry = nullptr;
    wl_callback *sync = nullptr;
    wl_compositor *compositor = nullptr;
    wl_shm *shm = nullptr;
    wl_seat *seat = nullptr;
    uint32_t seatVersion = 0;
    zwlr_layer_shell_v1 *layerShell = nullptr;
    uint32_t layerShellVersion = 0;
    wl_surface *surface = nullptr;
    zwlr_layer_surface_v1 *layer = nullptr;
    wl_pointer *pointer = nullptr;
    wl_keyboard *keyboard = nullptr;
    wl_touch *touch = nullptr;
    uint32_t compositorVersion = 0;
    uint32_t outputVersion = 0;
    std::vector<Output> outputs;
    wl_output *current = nullptr;
    int bufferScale = 1;
    ShmBuffer buffers[2];
#ifdef TARN_HAVE_XKBCOMMON
    xkb_context *xkb = nullptr;
    xkb_keymap *xkbKeymap = nullptr;
    xkb_state *xkbState = nullptr;
#endif

    bool globalsKnown = false;
    bool configured = false;
    bool configurePending = false;
    uint32_t configureSerial = 0;
    QSize configureSize;
    QSize size;
    bool pointerKnown = false;
    QPoint pointerAt;
    bool focused = false;
    bool touching = false;
    int32_t touchId = 0;
    QPoint touchAt;
};

#else

struct WaylandMenuOverlay::Session
{
};

#endif

WaylandMenuOverlay::WaylandMenuOverlay(QMenu *menu, QObject *parent) : QObject(parent), m_menu(menu)
{
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setInterval(kAnswerWaitMs);
    connect(&m_answerTimer, &QTimer::timeout, this, [this] {
        if (m_session && !m_shown)
            fail(QStringLiteral("the compositor did not answer within %1 ms").arg(kAnswerWaitMs));
    });
    m_pointerTimer.setSingleShot(true);
    m_pointerTimer.setInterval(kPointerWaitMs);
    connect(&m_pointerTimer, &QTimer::timeout, this, [this] {
        if (m_session && !m_placed)
            placeFallback();
    });
    if (m_menu)
        m_menu->installEventFilter(this);
}

WaylandMenuOverlay::~WaylandMenuOverlay() = default;

bool WaylandMenuOverlay::isOpen() const
{
    return m_session != nullptr;
}

void WaylandMenuOverlay::open()
{
#if defined(TARN_HAVE_WAYLAND) && Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    if (m_noLayerShell) {
        emit unavailable(QStringLiteral("the compositor offers no zwlr_layer_shell_v1"));
        return;
    }
    if (m_session) {
        // Asked for again while open: the menu moves to where the pointer is now.
        if (m_session->pointerKnown) {
            placeAt(m_session->pointerAt);
            hover(m_session->pointerAt);
            redraw();
            flush();
        }
        return;
    }
    if (!m_menu) {
        emit unavailable(QStringLiteral("there is no menu"));
        return;
    }
    std::unique_ptr<Session> session(new Session(this));
    session->display = wl_display_connect(nullptr);
    if (!session->display) {
        const int error = errno;
        emit unavailable(QStringLiteral("no connection to the compositor (%1)")
                             .arg(QString::fromLocal8Bit(strerror(error))));
        return;
    }
    session->registry = wl_display_get_registry(session->display);
    static const wl_registry_listener registryListener = {&Session::global, &Session::globalRemove};
    wl_registry_add_listener(session->registry, &registryListener, session.get());
    session->sync = wl_display_sync(session->display);
    static const wl_callback_listener syncListener = {&Session::syncDone};
    wl_callback_add_listener(session->sync, &syncListener, session.get());
    session->notifier.reset(new QSocketNotifier(wl_display_get_fd(session->display), QSocketNotifier::Read));
    connect(session->notifier.get(), &QSocketNotifier::activated, this, &WaylandMenuOverlay::onReadable);
    m_session = std::move(session);
    m_placed = false;
    m_shown = false;
    m_failure.clear();
    m_closeReason = nullptr;
    m_trigger.clear();
    m_needsRedraw = false;
    if (m_menu)
        m_menu->setActiveAction(nullptr);
    flush();
    m_answerTimer.start();
#else
    emit unavailable(QStringLiteral("built without Wayland client support"));
#endif
}

void WaylandMenuOverlay::close()
{
    if (m_session)
        finish(nullptr);
}

void WaylandMenuOverlay::finish(const char *why)
{
    m_answerTimer.stop();
    m_pointerTimer.stop();
    m_session.reset();
    m_placed = false;
    m_shown = false;
    m_trigger.clear();
    m_closeReason = nullptr;
    m_needsRedraw = false;
    if (m_menu)
        m_menu->setActiveAction(nullptr);
    if (why)
        etlModuleTrace(7, kTagD, "menu closed: %s", why);
    emit closed();
}

void WaylandMenuOverlay::fail(QString reason)
{
    const bool wasShown = m_shown;
    m_failure.clear();
    if (wasShown) {
        etlModuleTrace(4, kTagW, "%s; the menu is closed", qPrintable(reason));
        finish(nullptr);
        return;
    }
    m_answerTimer.stop();
    m_pointerTimer.stop();
    m_session.reset();
    m_placed = false;
    emit unavailable(reason);
}

void WaylandMenuOverlay::onReadable()
{
#ifdef TARN_HAVE_WAYLAND
    if (!m_session)
        return;
    wl_display *display = m_session->display;
    bool broken = false;
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0) {
            broken = true;
            break;
        }
    }
    if (!broken)
        broken = wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0;
    if (broken && m_failure.isEmpty()) {
        const int error = wl_display_get_error(display);
        uint32_t code = 0;
        const wl_interface *interface = nullptr;
        if (error == EPROTO)
            code = wl_display_get_protocol_error(display, &interface, nullptr);
        m_failure = error == EPROTO ? QStringLiteral("the compositor refused a request (%1 error %2)")
                                          .arg(QString::fromLatin1(interface ? interface->name : "unknown"))
                                          .arg(code)
                                    : QStringLiteral("the connection to the compositor broke (%1)")
                                          .arg(QString::fromLocal8Bit(strerror(error)));
    }
    settle();
#endif
}

void WaylandMenuOverlay::settle()
{
#ifdef TARN_HAVE_WAYLAND
    if (!m_session)
        return;
    if (!m_failure.isEmpty()) {
        fail(m_failure);
        return;
    }
    if (m_trigger) {
        // The menu goes first, so the entry acts on a desktop the overlay no longer covers.
        QPointer<QAction> entry = m_trigger;
        finish("entry chosen");
        if (entry)
            entry->trigger();
        return;
    }
    if (m_closeReason) {
        finish(m_closeReason);
        return;
    }
    Session &session = *m_session;
    if (session.globalsKnown && !session.layer) {
        if (!session.layerShell) {
            m_noLayerShell = true;
            fail(QStringLiteral("the compositor offers no zwlr_layer_shell_v1"));
            return;
        }
        if (!session.compositor || !session.shm) {
            fail(QStringLiteral("the compositor offers no wl_compositor or wl_shm"));
            return;
        }
        createSurface();
    }
    if (session.configurePending) {
        session.configurePending = false;
        if (session.configureSize.isEmpty()) {
            fail(QStringLiteral("the compositor gave the overlay no size"));
            return;
        }
        zwlr_layer_surface_v1_ack_configure(session.layer, session.configureSerial);
        const bool resized = session.size != session.configureSize;
        session.size = session.configureSize;
        if (resized && m_placed)
            placeAt(m_anchor);
        session.configured = true;
        m_needsRedraw = true;
    }
    if (m_needsRedraw)
        redraw();
    flush();
#endif
}

void WaylandMenuOverlay::createSurface()
{
#ifdef TARN_HAVE_WAYLAND
    Session &session = *m_session;
    session.surface = wl_compositor_create_surface(session.compositor);
    static const wl_surface_listener surfaceListener = {&Session::surfaceEnter, &Session::surfaceLeave};
    wl_surface_add_listener(session.surface, &surfaceListener, &session);
    session.layer = zwlr_layer_shell_v1_get_layer_surface(
        session.layerShell, session.surface, nullptr, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "tarn-desktop-menu");
    static const zwlr_layer_surface_v1_listener listener = {&Session::configure, &Session::layerClosed};
    zwlr_layer_surface_v1_add_listener(session.layer, &listener, &session);
    zwlr_layer_surface_v1_set_anchor(
        session.layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                           ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    zwlr_layer_surface_v1_set_size(session.layer, 0, 0);
    zwlr_layer_surface_v1_set_exclusive_zone(session.layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(session.layer,
                                                     ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
    wl_surface_commit(session.surface);
#endif
}

QSize WaylandMenuOverlay::menuSize() const
{
    if (!m_menu)
        return QSize();
    m_menu->ensurePolished();
    const QSize wanted = m_menu->sizeHint();
    if (m_menu->size() != wanted)
        m_menu->resize(wanted);
    return wanted;
}

void WaylandMenuOverlay::placeAt(const QPoint &anchor)
{
#ifdef TARN_HAVE_WAYLAND
    if (!m_session)
        return;
    m_anchor = anchor;
    const QSize menu = menuSize();
    m_menuPos = placement(menu, anchor, m_session->size);
    m_placed = true;
    etlModuleTrace(7, kTagD, "menu of %dx%d at (%d, %d) for (%d, %d) on a %dx%d output", menu.width(),
                   menu.height(), m_menuPos.x(), m_menuPos.y(), anchor.x(), anchor.y(),
                   m_session->size.width(), m_session->size.height());
    m_pointerTimer.stop();
    m_needsRedraw = true;
#else
    Q_UNUSED(anchor);
#endif
}

void WaylandMenuOverlay::placeFallback()
{
#ifdef TARN_HAVE_WAYLAND
    // No pointer on this output: the middle of it, where someone working the menu with the keyboard
    // looks first.
    const QSize output = m_session->size;
    const QSize menu = menuSize();
    placeAt(QPoint((output.width() - menu.width()) / 2, (output.height() - menu.height()) / 2));
    etlModuleTrace(7, kTagD,
                   "no pointer on the overlay within %d ms; the menu opens in the middle of the output",
                   kPointerWaitMs);
    redraw();
    flush();
#endif
}

QAction *WaylandMenuOverlay::entryAt(const QPoint &position) const
{
    if (!m_menu || !m_placed)
        return nullptr;
    const QPoint local = position - m_menuPos;
    const QList<QAction *> actions = m_menu->actions();
    for (QAction *action : actions) {
        if (action->isVisible() && m_menu->actionGeometry(action).contains(local))
            return action;
    }
    return nullptr;
}

bool WaylandMenuOverlay::insideMenu(const QPoint &position) const
{
    return m_menu && m_placed && QRect(m_menuPos, m_menu->size()).contains(position);
}

void WaylandMenuOverlay::hover(const QPoint &position)
{
    if (!m_menu || !m_placed)
        return;
    QAction *entry = entryAt(position);
    if (!selectable(entry))
        entry = nullptr;
    if (entry != m_menu->activeAction()) {
        m_menu->setActiveAction(entry);
        m_needsRedraw = true;
    }
}

void WaylandMenuOverlay::step(KeyCommand command)
{
    if (!m_menu)
        return;
    QList<QAction *> entries;
    const QList<QAction *> actions = m_menu->actions();
    for (QAction *action : actions) {
        if (selectable(action))
            entries << action;
    }
    switch (command) {
    case KeyCommand::None:
        return;
    case KeyCommand::Close:
        m_closeReason = "Escape";
        return;
    case KeyCommand::Trigger:
        if (selectable(m_menu->activeAction()))
            m_trigger = m_menu->activeAction();
        return;
    case KeyCommand::Previous:
    case KeyCommand::Next:
    case KeyCommand::First:
    case KeyCommand::Last:
        break;
    }
    if (entries.isEmpty())
        return;
    const int current = entries.indexOf(m_menu->activeAction());
    int next = 0;
    if (command == KeyCommand::First) {
        next = 0;
    } else if (command == KeyCommand::Last) {
        next = entries.size() - 1;
    } else if (current < 0) {
        next = command == KeyCommand::Next ? 0 : entries.size() - 1;
    } else {
        const int delta = command == KeyCommand::Next ? 1 : -1;
        next = (current + delta + entries.size()) % entries.size();
    }
    m_menu->setActiveAction(entries.at(next));
    m_needsRedraw = true;
}

void WaylandMenuOverlay::redraw()
{
#ifdef TARN_HAVE_WAYLAND
    if (!m_session || !m_session->configured)
        return;
    Session &session = *m_session;
    int scale = session.scale();
    if (session.size.width() * scale > kMaxBufferSide || session.size.height() * scale > kMaxBufferSide)
        scale = 1;
    const QSize pixels = session.size * scale;
    ShmBuffer *target = session.freeBuffer(pixels);
    if (!target) {
        const bool waiting = std::any_of(std::begin(session.buffers), std::end(session.buffers),
                                         [](const ShmBuffer &buffer) { return buffer.busy; });
        if (waiting) {
            // Both buffers are with the compositor: drawn again when one comes back.
            m_needsRedraw = true;
        } else if (m_failure.isEmpty()) {
            // Never leave an overlay nobody can see holding the input.
            m_failure =
                QStringLiteral("no %1x%2 buffer could be made").arg(pixels.width()).arg(pixels.height());
            QMetaObject::invokeMethod(this, &WaylandMenuOverlay::settle, Qt::QueuedConnection);
        }
        return;
    }
    m_needsRedraw = false;
    QImage image(static_cast<uchar *>(target->data), pixels.width(), pixels.height(), pixels.width() * 4,
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    if (m_placed && m_menu)
        m_menu->render(&image, m_menuPos, QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    if (scale != session.bufferScale) {
        wl_surface_set_buffer_scale(session.surface, scale);
        session.bufferScale = scale;
    }
    wl_surface_attach(session.surface, target->buffer, 0, 0);
    wl_surface_damage(session.surface, 0, 0, session.size.width(), session.size.height());
    wl_surface_commit(session.surface);
    target->busy = true;
    if (!m_shown) {
        m_shown = true;
        m_answerTimer.stop();
        if (!m_placed)
            m_pointerTimer.start();
    }
#endif
}

void WaylandMenuOverlay::flush()
{
#ifdef TARN_HAVE_WAYLAND
    if (!m_session)
        return;
    // A full socket (EAGAIN) is flushed with the next batch; only a dead connection counts.
    if (wl_display_flush(m_session->display) < 0 && errno != EAGAIN && m_failure.isEmpty()) {
        m_failure = QStringLiteral("the connection to the compositor broke (%1)")
                        .arg(QString::fromLocal8Bit(strerror(errno)));
        QMetaObject::invokeMethod(this, &WaylandMenuOverlay::settle, Qt::QueuedConnection);
    }
#endif
}

bool WaylandMenuOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_menu && m_session && m_placed) {
        switch (event->type()) {
        case QEvent::ActionChanged:
        case QEvent::ActionAdded:
        case QEvent::ActionRemoved:
            // A language switch while the menu is open: drawn again, with its new texts and size, once
            // the menu has taken the change in.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_session && m_placed) {
                        placeAt(m_anchor);
                        redraw();
                        flush();
                    }
                },
                Qt::QueuedConnection);
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
