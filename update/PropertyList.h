#pragma once
// A property list read with libplist (XML or binary), owned, with read-only access to its
// nodes. Used for a bundle's Info.plist and the image tool's attach report.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace vorlik::update {

class PropertyList {
public:
    // A view of one node of the list; valid while the list lives. A null node answers
    // "absent" to everything.
    class Node {
    public:
        bool isNull() const { return m_node == nullptr; }
        bool isDictionary() const;
        bool isArray() const;
        bool isString() const;
        std::optional<QString> string() const; // the text of a string node (none unless UTF-8)
        Node value(const char *key) const;      // a dictionary's member
        std::uint32_t size() const;             // an array's length
        Node at(std::uint32_t index) const;     // an array's element

    private:
        friend class PropertyList;
        explicit Node(void *node) : m_node(node) {}
        void *m_node = nullptr;
    };

    // No value when the bytes are not a property list in a format libplist reads.
    static std::optional<PropertyList> parse(const QByteArray &bytes);

    Node root() const { return Node(m_root.get()); }

private:
    struct Free {
        void operator()(void *node) const;
    };
    explicit PropertyList(void *root) : m_root(root) {}
    std::unique_ptr<void, Free> m_root;
};

} // namespace vorlik::update
