// openbox for the tests, and the X server's view of the windows it manages.
#include "tests/support/window_manager.h"

#include <QGuiApplication>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <xcb/xcb.h>

namespace pixmoor::test {

namespace {

// The theme of openbox's own configuration, without its key bindings (which hold Alt+F4).
constexpr const char* kConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy><center>yes</center></placement>
  <theme><name>Clearlooks</name><titleLayout>NLIMC</titleLayout></theme>
  <desktops><number>1</number></desktops>
  <keyboard></keyboard>
  <mouse></mouse>
</openbox_config>
)";

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

std::uint32_t windowOf(const QWidget* w) {
    return w ? std::uint32_t(w->winId()) : 0;
}

// Whether some client owns WM_S0, the selection a window manager of screen 0 holds.
bool selectionOwned(xcb_connection_t* c, xcb_atom_t selection) {
    const Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr),
        &std::free);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

} // namespace

bool WindowManager::available() {
    return QGuiApplication::platformName() == QLatin1String("xcb") && haveProgram("openbox");
}

WindowManager::WindowManager() {
    const std::string rc = config_.file("rc.xml");
    std::ofstream(rc) << kConfig;
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("openbox"),
                   {QStringLiteral("--sm-disable"), QStringLiteral("--config-file"),
                    QString::fromStdString(rc)});
    if (!process_.waitForStarted(10000)) return;
    XServerView view;
    if (!view.ok()) return;
    running_ = QTest::qWaitFor([&] { return view.windowManagerRunning(); }, 10000) && view.sync();
}

WindowManager::~WindowManager() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
        process_.kill();
        process_.waitForFinished(10000);
    }
    // Gone when the selection is free again: the next test starts without a window manager.
    XServerView view;
    if (view.ok()) (void)QTest::qWaitFor([&] { return !view.windowManagerRunning(); }, 10000);
}

XServerView::XServerView() : c_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(c_)) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
}

XServerView::~XServerView() {
    xcb_disconnect(c_);
}

bool XServerView::ok() const {
    return !xcb_connection_has_error(c_);
}

std::uint32_t XServerView::atom(const char* name) {
    const Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, std::uint16_t(std::strlen(name)), name),
                              nullptr),
        &std::free);
    return reply ? reply->atom : std::uint32_t(XCB_ATOM_NONE);
}

std::vector<std::uint32_t> XServerView::cardinals(std::uint32_t window, const char* property,
                                                  std::uint32_t type) {
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c_, xcb_get_property(c_, 0, window, atom(property), type, 0, 4096),
                               nullptr),
        &std::free);
    if (!reply || reply->format != 32) return {};
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return {values, values + xcb_get_property_value_length(reply.get()) / 4};
}

std::vector<std::uint32_t> XServerView::stacking() {
    return cardinals(root_, "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW);
}

bool XServerView::managed(const QWidget* window) {
    const auto list = stacking();
    return std::find(list.begin(), list.end(), windowOf(window)) != list.end();
}

bool XServerView::above(const QWidget* upper, const QWidget* lower) {
    const auto list = stacking();
    const auto u = std::find(list.begin(), list.end(), windowOf(upper));
    const auto l = std::find(list.begin(), list.end(), windowOf(lower));
    return u != list.end() && l != list.end() && u > l;
}

std::uint32_t XServerView::activeWindow() {
    const auto active = cardinals(root_, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW);
    return active.empty() ? 0 : active.front();
}

bool XServerView::isActive(const QWidget* window) {
    return window && activeWindow() == windowOf(window);
}

bool XServerView::minimised(const QWidget* window) {
    const std::uint32_t id = windowOf(window);
    const std::uint32_t wmState = atom("WM_STATE");
    const auto state = cardinals(id, "WM_STATE", wmState);
    const auto net = cardinals(id, "_NET_WM_STATE", XCB_ATOM_ATOM);
    constexpr std::uint32_t kIconicState = 3;
    return !state.empty() && state.front() == kIconicState &&
           std::find(net.begin(), net.end(), atom("_NET_WM_STATE_HIDDEN")) != net.end();
}

QRect XServerView::frame(const QWidget* window) {
    return frame(windowOf(window));
}

QRect XServerView::frame(std::uint32_t id) {
    const Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c_, xcb_get_geometry(c_, id), nullptr), &std::free);
    const Reply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, id, root_, 0, 0),
                                        nullptr),
        &std::free);
    if (!geometry || !origin) return {};
    QRect client(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    const auto extents = cardinals(id, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL);
    if (extents.size() == 4) // left, right, top, bottom
        client.adjust(-int(extents[0]), -int(extents[2]), int(extents[1]), int(extents[3]));
    return client;
}

bool XServerView::windowManagerRunning() {
    return selectionOwned(c_, atom("WM_S0"));
}

bool XServerView::sync() {
    if (!windowManagerRunning()) return false;
    // An unmapped window of this client asks for its frame extents; the window manager sets
    // them after it has handled everything that reached the server before the request. A window
    // manager that is still starting may drop the request, so it is repeated now and then.
    const xcb_window_t probe = xcb_generate_id(c_);
    const std::uint32_t events[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, probe, root_, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      events);
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = probe;
    request.type = atom("_NET_REQUEST_FRAME_EXTENTS");
    bool answered = false;
    for (int attempt = 0; attempt < 20 && !answered; ++attempt) {
        xcb_send_event(c_, 0, root_,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&request));
        xcb_flush(c_);
        answered = QTest::qWaitFor(
            [&] { return cardinals(probe, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL).size() == 4; },
            1000);
    }
    xcb_destroy_window(c_, probe);
    xcb_flush(c_);
    return answered;
}

} // namespace pixmoor::test
