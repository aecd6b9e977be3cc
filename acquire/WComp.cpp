// TWindowedComponent: the hidden message window and the dispatch of its messages.
#include "acquire/WComp.h"

TWindowedComponent::TWindowedComponent(QObject* Owner) : QObject(Owner) {}

TWindowedComponent::~TWindowedComponent() {
    DestroyHandle();
}

pixmoor::WindowHandle TWindowedComponent::Handle() {
    HandleNeeded();
    return handle_;
}

void TWindowedComponent::HandleNeeded() {
    if (handle_ != 0) return;
    handle_ = pixmoor::allocateHWnd([this](pixmoor::TMessage& m) { WndProc(m); });
}

void TWindowedComponent::DestroyHandle() {
    if (handle_ == 0) return;
    pixmoor::deallocateHWnd(handle_); // WM_DESTROY reaches WndProc before the window goes
    handle_ = 0;
}

void TWindowedComponent::WndProc(pixmoor::TMessage& Message) {
    const auto it = handlers_.find(Message.Msg);
    if (it != handlers_.end())
        it->second(Message);
    else
        DefaultHandler(Message);
}

void TWindowedComponent::DefaultHandler(pixmoor::TMessage& Message) {
    Message.Result = 0;
}

void TWindowedComponent::declareHandler(unsigned message,
                                        std::function<void(pixmoor::TMessage&)> handler) {
    handlers_[message] = std::move(handler);
}
