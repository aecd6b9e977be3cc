// TWindowedComponent: a non-visual component that owns a hidden message window and dispatches the
// messages it receives, by number, to the handlers its class and its ancestors declare.
#pragma once

#include "platform/message_window.h"

#include <QObject>
#include <functional>
#include <map>

class TWindowedComponent : public QObject {
    Q_OBJECT
public:
    explicit TWindowedComponent(QObject* Owner = nullptr);
    ~TWindowedComponent() override;

    // The hidden window, created on first use.
    pixmoor::WindowHandle Handle();
    bool HandleAllocated() const { return handle_ != 0; }
    void HandleNeeded();

protected:
    // Every message sent or posted to the hidden window: its handler, or DefaultHandler.
    virtual void WndProc(pixmoor::TMessage& Message);
    // Messages without a handler are passed on; the hidden window's own handling does nothing.
    virtual void DefaultHandler(pixmoor::TMessage& Message);
    // Declares the handler of a message number; a derived class's declaration replaces its
    // ancestor's.
    void declareHandler(unsigned message, std::function<void(pixmoor::TMessage&)> handler);
    // Destroys the hidden window (it receives WM_DESTROY first). A derived class calls it in its
    // destructor so its own WM_DESTROY handler still runs.
    void DestroyHandle();

private:
    pixmoor::WindowHandle handle_ = 0;
    std::map<unsigned, std::function<void(pixmoor::TMessage&)>> handlers_;
};
