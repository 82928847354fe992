#pragma once
namespace vorlik::app {

// The application always shows its light colour scheme, whatever the desktop's theme says.
struct LightPalette {
    static void apply();
};

} // namespace vorlik::app
