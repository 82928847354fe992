#pragma once
// The application object of a test binary. The shared test main makes a QCoreApplication; a
// binary that needs widgets or the web view defines this function itself and makes its own.
#include <QCoreApplication>

#include <memory>

namespace vorlik::test {

std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv);

} // namespace vorlik::test
