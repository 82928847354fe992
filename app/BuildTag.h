#pragma once
// The application's version and build, and the server's build once the health probe told it:
// "1.2.24 (27)" or "1.2.24 (27) · Server devserver 1.0", ending in an ellipsis when the
// window is too narrow for it (the whole tag in its tooltip).
#include "analysis/ElidedLabel.h"

#include <optional>

namespace vorlik::app {

class BuildTag : public analysis::ElidedLabel {
    Q_OBJECT
public:
    explicit BuildTag(QWidget *parent = nullptr);

    void setServerBuild(const std::optional<QString> &serverBuild);
    static QString tagText(const std::optional<QString> &serverBuild);
};

} // namespace vorlik::app
