#pragma once

#include <QIcon>
#include <QString>
#include <QTreeWidgetItem>

class QTreeWidget;

// The indexes a node of the group tree carries: its own and its parent's.
struct TGroupIndex {
    qint32 SelfIndex = 0;
    qint32 ParentIndex = 0;
};

// A node of the group tree; its record is made with it and belongs to it.
class TGroupNode : public QTreeWidgetItem {
public:
    static constexpr int NodeType = QTreeWidgetItem::UserType + 1;
    explicit TGroupNode(const TGroupIndex& record) : QTreeWidgetItem(NodeType), Record(record) {}
    TGroupIndex Record;
};

// The node images (il2): 0 the root, 1 a group, 2 a group while it is selected.
QPixmap NodeImage(int index);

// The note group tree: binds one tree view to one group table (SelfIndex, ParentIndex,
// TypeName). The root, index 0, lives only in the tree.
class TCardTree {
public:
    // Create: empties the view and adds the root when rootCaption is not empty.
    TCardTree(QTreeWidget* view, const QString& tableName, const QString& rootCaption);
    TCardTree(const TCardTree&) = delete;
    TCardTree& operator=(const TCardTree&) = delete;

    QString TableName;
    QString RootCaption;
    QTreeWidget* View = nullptr;
    TGroupIndex* LastRecord = nullptr;
    QTreeWidgetItem* RootNode = nullptr;
    // The statement last built.
    QString SqlText;

    // Reads every group row and builds the tree under the root.
    void LoadTree();
    // Reads every group row and brings the tree in line with them in place: the nodes that
    // stay keep their expansion and selection; the result is the tree LoadTree builds.
    void Refresh();
    int MaxIndex() const;
    int SelectedIndex() const;
    // Stores a new group under the selected node and adds its node.
    QTreeWidgetItem* AddGroup(const QString& name);
    // Asks for a name and adds the group; true when one was added.
    bool NewGroup();
    // Stores the new caption of the selected group and shows it.
    bool RenameGroup(const QString& newName);
    // Checks, asks, deletes the selected group's rows and removes its node.
    void DeleteGroup();

    // The selected node, or null.
    QTreeWidgetItem* Selected() const;
    // The node of the group with that index, or null. Nodes are looked up again after every
    // box or dialog: its event loop may have rebuilt the tree.
    QTreeWidgetItem* NodeOfIndex(int selfIndex) const;
    // The record of a node made by this class, or null.
    static TGroupIndex* RecordOf(QTreeWidgetItem* node);
    // A statement that adds a group with the given index, for callers that store many groups
    // in one batch and number them within their own transaction.
    static QString AddGroupStatement(const QString& table, int selfIndex, int parentIndex,
                                     const QString& name);
    // The statement AddGroup runs: the next index is taken from the file by the inserting
    // statement itself, so a group another writer (a sync pass) has just added keeps its own.
    static QString AddGroupAtNextIndexStatement(const QString& table, int parentIndex,
                                                const QString& name);
    // ‘根目录->A->B’ for the node B under A under the root.
    static QString PositionText(QTreeWidgetItem* node);

private:
    QString LoadStatement() const;
    TGroupNode* MakeNode(const TGroupIndex& record, const QString& caption, bool root);
};
