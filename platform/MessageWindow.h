#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace morvane {

// A posted message: 12 bytes on the wire, each field 32-bit little-endian.
struct WindowMessage
{
    std::uint32_t Msg = 0;
    std::uint32_t WParam = 0;
    std::uint32_t LParam = 0;
};

// A window handle for messages between processes. Its handle is a random nonzero 32-bit
// number; it owns the Unix datagram socket R/wnd-<8 lower-case hex digits>. A reader
// thread drains the socket into a queue; the main thread calls the handler one message
// at a time and never re-entrantly: messages arriving while the handler runs (for example
// while it shows a modal box) wait until it returns. Create and destroy on the main thread.
class MessageWindow : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(const WindowMessage&)>;

    // Throws std::system_error when the socket cannot be made, or when its path would not
    // fit the 108-byte socket path limit.
    explicit MessageWindow(QObject* parent = nullptr);
    ~MessageWindow() override; // stops and joins the reader, removes the socket

    // Install before the handle is published, so no message is missed.
    void SetHandler(Handler handler);
    // Told, on the main thread, of the first message the handler failed on (it threw) and
    // of the first failure of the reader; every failure is logged, and the window goes on
    // receiving and handling messages after each.
    using TroubleHandler = std::function<void(const std::string& what)>;
    void SetTroubleHandler(TroubleHandler handler);
    std::uint32_t Handle() const { return m_handle; }
    // Messages received but not handled yet. Main thread.
    std::size_t Pending() const;

    // Removes the sockets that windows of dead processes left in the runtime folder (a
    // crash skips the destructor): only names this class makes, only sockets of the
    // current user that nobody receives on any more. Returns how many went. Any thread;
    // never throws.
    static int RemoveDeadSockets();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::uint32_t m_handle = 0;
};

// Posts a message to the window with that handle and returns at once. False for handle 0,
// for a window that does not exist or whose process died; never waits for the receiver.
// Any thread.
bool PostMessage(std::uint32_t handle, std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam);

// True when a window with that handle exists now: its socket is there and a live process
// receives on it. Sends nothing. Any thread.
bool WindowExists(std::uint32_t handle);

} // namespace morvane
