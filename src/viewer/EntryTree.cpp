#include "viewer/EntryTree.h"

#include "base/ShownText.h"

#include <QHash>
#include <QList>

#include <algorithm>
#include <utility>

EntryTree::EntryTree(int count, const std::function<Source(int)>& source)
{
    m_nodes.reserve(size_t(count) + size_t(count) / 8 + 1);
    m_nodes.push_back(Node{{}, -1, 0, {}, -1, true});
    m_nodeOfSource.assign(size_t(count), -1);
    // A folder node by its parent node and its own part of the name.
    QHash<std::pair<int, QStringView>, int> folders;
    for (int i = 0; i < count; ++i) {
        const Source entry = source(i);
        const QList<QStringView> parts = entry.name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (entry.whole || parts.isEmpty()) {
            m_nodeOfSource[size_t(i)] = addNode(0, entry.name, i, entry.folder);
            continue;
        }
        int parentNode = 0;
        const qsizetype folderParts = entry.folder ? parts.size() : parts.size() - 1;
        const qsizetype split = std::min(folderParts, kFolderDepth);
        for (qsizetype k = 0; k < split; ++k) {
            const std::pair<int, QStringView> key{parentNode, parts[k]};
            const auto found = folders.constFind(key);
            if (found != folders.cend()) {
                parentNode = *found;
                continue;
            }
            parentNode = addNode(parentNode, parts[k], -1, true);
            folders.insert(key, parentNode);
        }
        if (split < folderParts) // too deep: the rest of the name stands whole below the last folder
            m_nodeOfSource[size_t(i)] =
                addNode(parentNode, entry.name.mid(parts[split].data() - entry.name.data()), i, entry.folder);
        else if (!entry.folder)
            m_nodeOfSource[size_t(i)] = addNode(parentNode, parts.last(), i, false);
        else if (m_nodes[size_t(parentNode)].source < 0) { // the folder's own entry
            m_nodes[size_t(parentNode)].source = i;
            m_nodeOfSource[size_t(i)] = parentNode;
        } else // a second entry of the same folder
            m_nodeOfSource[size_t(i)] = addNode(m_nodes[size_t(parentNode)].parent, parts.last(), i, true);
    }
}

int EntryTree::addNode(int parent, QStringView name, int source, bool folder)
{
    const int node = int(m_nodes.size());
    Node added;
    added.name = shownText(name.toString());
    added.parent = parent;
    added.row = int(m_nodes[size_t(parent)].children.size());
    added.source = source;
    added.folder = folder;
    m_nodes.push_back(std::move(added));
    m_nodes[size_t(parent)].children.push_back(node);
    return node;
}

qsizetype EntryTree::nameCharacters() const
{
    qsizetype characters = 0;
    for (const Node& node : m_nodes)
        characters += node.name.size();
    return characters;
}

std::vector<bool> EntryTree::shownFor(QStringView text) const
{
    if (text.isEmpty())
        return std::vector<bool>(m_nodes.size(), true);
    // A node comes after its parent: what lies under a match is found going forwards, what holds
    // one going backwards.
    std::vector<bool> holds(m_nodes.size(), false); // it, or a node below it, matches
    std::vector<bool> under(m_nodes.size(), false); // a node above it matches
    for (size_t node = 1; node < m_nodes.size(); ++node) {
        holds[node] = m_nodes[node].name.contains(text, Qt::CaseInsensitive);
        const auto parent = size_t(m_nodes[node].parent);
        under[node] = parent > 0 && (under[parent] || holds[parent]);
    }
    std::vector<bool> shown(m_nodes.size(), true);
    for (size_t node = m_nodes.size() - 1; node > 0; --node) {
        shown[node] = holds[node] || under[node];
        if (holds[node])
            holds[size_t(m_nodes[node].parent)] = true;
    }
    return shown;
}
