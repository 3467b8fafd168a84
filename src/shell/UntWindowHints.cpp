#include "UntWindowHints.h"

#include <QGuiApplication>
#include <QWidget>
#include <cstdlib>

#ifdef QUILLET_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#endif

void AllowOnlyMoving([[maybe_unused]] QWidget* window) {
#if defined(QUILLET_HAVE_XCB) && QT_CONFIG(xcb)
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !window->windowHandle())
        return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    static const char name[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    if (!atom)
        return;
    // Qt writes functions "all" when a window asks for no buttons at all; a window manager
    // then offers minimising anyway, from the title bar's menu or a key.
    enum : quint32 { FunctionsValid = 1, DecorationsValid = 2 };
    enum : quint32 { FunctionMove = 4 };
    enum : quint32 { DecorationBorder = 2, DecorationTitle = 8 };
    const quint32 hints[5] = {FunctionsValid | DecorationsValid, FunctionMove,
                              DecorationBorder | DecorationTitle, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()),
                        atom->atom, atom->atom, 32, 5, hints);
    xcb_flush(connection);
    free(atom);
#endif
}
