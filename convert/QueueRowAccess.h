#pragma once
// The queue's rows for a screen reader: the list's children are its rows, each named by its
// file and status, described by its failure or note and the actions it offers, and offering
// Retry, Reveal and Remove as its actions, which go the way of the row's keys and buttons.
// (Qt's own list items only know how to be selected.)

namespace vorlik::convert {

class QueueRowAccess {
public:
    // Registers the rows' interfaces with Qt for every list that QueueRowKeys serves; calling it
    // again does nothing.
    static void install();
};

} // namespace vorlik::convert
