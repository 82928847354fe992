#pragma once
// One page of the main window: its view and how to tell it whether its tab is the selected one.
// The pages come from their own subsystems and share no base class; this is all the window
// needs of them.
#include <QPointer>
#include <QWidget>

#include <functional>

namespace vorlik::app {

struct Page {
    QWidget *view = nullptr;
    std::function<void(bool)> setActive;

    // A page whose view has a setActive(bool) of its own.
    template <typename View>
    static Page of(View *view)
    {
        return {view, [guarded = QPointer<View>(view)](bool active) {
                    if (guarded)
                        guarded->setActive(active);
                }};
    }
};

} // namespace vorlik::app
