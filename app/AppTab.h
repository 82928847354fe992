#pragma once
// The four tabs of the main window, in the order of the tab bar. A tab's title is its name.
#include <QString>

#include <array>

namespace vorlik::app {

enum class AppTab { analysis, cinema, convert, audioInfo };

inline constexpr std::array<AppTab, 4> allTabs{AppTab::analysis, AppTab::cinema, AppTab::convert,
                                               AppTab::audioInfo};

// "Correction", "Cinema", "Convert", "Analysis".
QString title(AppTab tab);

} // namespace vorlik::app
