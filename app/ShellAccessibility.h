#pragma once
// What assistive tools (a screen reader, through Qt's accessibility bridge) are told about the
// shell beyond Qt's defaults: the tab row is a list of page tabs whose action selects the page
// the way a click does (as check boxes they only ticked the button), the sign-in popover is a
// dialog named "Sign in", and the Preferences window is a window.
class QObject;

namespace vorlik::app {

class ShellAccessibility {
public:
    // Registers the shell's interfaces with Qt; calling it again does nothing.
    static void install();
    // Lets Qt make `object`'s interface again: it keeps the first one it made, which may date
    // from the object's construction, before the object was known for what it is.
    static void refresh(QObject *object);
};

} // namespace vorlik::app
