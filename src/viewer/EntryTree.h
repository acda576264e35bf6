#pragma once

#include <QString>
#include <QStringView>

#include <functional>
#include <vector>

// The entries of a package as a tree made from their names: the folders the names hold become
// nodes of their own, each node's children in archive order. Every node keeps only its own part of
// a name ("b" of "a/b/c.txt"), made harmless to show, and a folder is found by its parent and that
// part: a name of a thousand levels costs the tree what its characters cost, never a copy of its
// path at every level. A name is split into at most kFolderDepth folders, the rest of it standing
// whole below the last: a view that lays out or filters a tree level by level (Qt's do, one call
// deeper for each level) then never goes thousands of levels deep. A name that could step out of
// its folder (".." components, an absolute path) is never split: it stands whole at the top. Two
// entries of the same name stay two nodes.
class EntryTree
{
public:
    static constexpr qsizetype kFolderDepth = 127;

    struct Node
    {
        QString name; // shown, harmless
        int parent = -1;
        int row = 0; // under its parent
        std::vector<int> children;
        int source = -1; // the entry it shows, or -1 for a folder made from names
        bool folder = false;
    };

    // What an entry gives the tree.
    struct Source
    {
        QStringView name; // "/"-separated, as the archive gives it
        bool folder = false;
        bool whole = false; // shown unsplit, at the top
    };

    // The tree of count entries, source(i) telling entry i; the views it gives need to live only
    // while the tree is built.
    EntryTree(int count, const std::function<Source(int)>& source);

    const Node& node(int index) const { return m_nodes[size_t(index)]; }
    int nodeCount() const { return int(m_nodes.size()); }
    // The node that shows entry i.
    int nodeOfSource(int source) const { return m_nodeOfSource[size_t(source)]; }
    // The characters of the names the nodes keep, all together.
    qsizetype nameCharacters() const;
    // Which nodes a filter by name leaves in view, by node: those whose name holds text (case
    // blind), the folders on their way and everything below them; every node when text is empty.
    // Found in one pass down and one up, so a view asks about a node in constant time however
    // deep it lies.
    std::vector<bool> shownFor(QStringView text) const;

private:
    int addNode(int parent, QStringView name, int source, bool folder);

    std::vector<Node> m_nodes; // m_nodes[0] is the invisible root
    std::vector<int> m_nodeOfSource;
};
