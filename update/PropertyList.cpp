#include "update/PropertyList.h"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>

namespace vorlik::update {

void PropertyList::Free::operator()(void *node) const { plist_free(static_cast<plist_t>(node)); }

std::optional<PropertyList> PropertyList::parse(const QByteArray &bytes)
{
    if (bytes.isEmpty() || bytes.size() > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), std::uint32_t(bytes.size()), &root);
    if (!root)
        return std::nullopt;
    return PropertyList(root);
}

bool PropertyList::Node::isDictionary() const
{
    return m_node && plist_get_node_type(static_cast<plist_t>(m_node)) == PLIST_DICT;
}

bool PropertyList::Node::isArray() const
{
    return m_node && plist_get_node_type(static_cast<plist_t>(m_node)) == PLIST_ARRAY;
}

bool PropertyList::Node::isString() const
{
    return m_node && plist_get_node_type(static_cast<plist_t>(m_node)) == PLIST_STRING;
}

std::optional<QString> PropertyList::Node::string() const
{
    if (!isString())
        return std::nullopt;
    char *text = nullptr;
    plist_get_string_val(static_cast<plist_t>(m_node), &text);
    if (!text)
        return std::nullopt;
    QString value = QString::fromUtf8(text);
    std::free(text); // libplist 2.2 has no plist_mem_free
    return value;
}

PropertyList::Node PropertyList::Node::value(const char *key) const
{
    if (!isDictionary())
        return Node(nullptr);
    return Node(plist_dict_get_item(static_cast<plist_t>(m_node), key));
}

std::uint32_t PropertyList::Node::size() const
{
    return isArray() ? plist_array_get_size(static_cast<plist_t>(m_node)) : 0;
}

PropertyList::Node PropertyList::Node::at(std::uint32_t index) const
{
    if (index >= size())
        return Node(nullptr);
    return Node(plist_array_get_item(static_cast<plist_t>(m_node), index));
}

} // namespace vorlik::update
