#include "update/PropertyList.h"

#include <QStringDecoder>

#include <plist/plist.h>

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
    // By pointer and length: plist_get_string_val asserts (and so aborts the program) on a
    // string that holds a zero byte, which a binary list or "&#0;" in XML can carry. The text is
    // kept whole, zero bytes included, so it never compares equal to a shorter one.
    uint64_t length = 0;
    const char *text = plist_get_string_ptr(static_cast<plist_t>(m_node), &length);
    if (!text || length > uint64_t(std::numeric_limits<qsizetype>::max()))
        return std::nullopt;
    // Bytes that are not UTF-8 are no text (a binary list can hold any): read with replacement
    // characters they would name something else, a path that does not exist for one.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString value = decoder.decode(QByteArrayView(text, qsizetype(length)));
    if (decoder.hasError())
        return std::nullopt;
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
