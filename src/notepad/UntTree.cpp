#include "UntTree.h"

#include "AddType.h"
#include "UntNoteBin.h"
#include "common/UntListRows.h"
#include "common/UntPublic.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

#include <QHash>
#include <QSet>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <vector>

namespace {

// Repainting stays off while many nodes go in, and comes back however the work ends.
class TRedrawPause {
public:
    explicit TRedrawPause(QWidget* view) : view_(view), was_(view->updatesEnabled()) {
        view_->setUpdatesEnabled(false);
    }
    ~TRedrawPause() { view_->setUpdatesEnabled(was_); }
    TRedrawPause(const TRedrawPause&) = delete;
    TRedrawPause& operator=(const TRedrawPause&) = delete;

private:
    QWidget* view_;
    bool was_;
};

QIcon RootIcon() {
    QIcon icon;
    icon.addPixmap(NodeImage(0), QIcon::Normal);
    icon.addPixmap(NodeImage(0), QIcon::Selected);
    return icon;
}

QIcon GroupIcon() {
    QIcon icon;
    icon.addPixmap(NodeImage(1), QIcon::Normal);
    icon.addPixmap(NodeImage(2), QIcon::Selected);
    return icon;
}

} // namespace

QPixmap NodeImage(int index) {
    static const char* const files[] = {":/notepad/root.png", ":/notepad/group.png",
                                        ":/notepad/group-selected.png"};
    if (index < 0 || index > 2)
        return QPixmap();
    return QPixmap(QString::fromLatin1(files[index]));
}

TCardTree::TCardTree(QTreeWidget* view, const QString& tableName, const QString& rootCaption)
    : TableName(tableName), View(view) {
    View->clear();
    if (!rootCaption.isEmpty()) {
        RootCaption = rootCaption;
        TGroupNode* root = MakeNode(TGroupIndex{}, rootCaption, true);
        View->addTopLevelItem(root);
        RootNode = root;
    }
}

TGroupNode* TCardTree::MakeNode(const TGroupIndex& record, const QString& caption, bool root) {
    auto* node = new TGroupNode(record);
    node->setText(0, caption);
    static const QIcon rootIcon = RootIcon();
    static const QIcon groupIcon = GroupIcon();
    node->setIcon(0, root ? rootIcon : groupIcon);
    // Read-only until the rename command opens the in-place editor.
    node->setFlags(node->flags() & ~Qt::ItemIsEditable);
    return node;
}

TGroupIndex* TCardTree::RecordOf(QTreeWidgetItem* node) {
    if (!node || node->type() != TGroupNode::NodeType)
        return nullptr;
    return &static_cast<TGroupNode*>(node)->Record;
}

QString TCardTree::LoadStatement() const {
    return FormatSql(QStringLiteral("select SelfIndex,ParentIndex,TypeName from %s where "
                                    "SelfIndex <>0 order by SelfIndex asc"),
                     {TableName});
}

namespace {

// Where each row's node goes: the index of its parent's row, or -1 for the root (a parent
// that is not there, or a chain of parents that comes back to the row itself). Parents may
// have any index, larger ones included (a group moved under a newer one elsewhere); of rows
// sharing an index, the first is the one its children hang under.
std::vector<int> ParentRows(const std::vector<TGroupIndex>& records) {
    QHash<qint32, int> rowOf;
    for (int i = 0; i < static_cast<int>(records.size()); ++i)
        if (!rowOf.contains(records[i].SelfIndex))
            rowOf.insert(records[i].SelfIndex, i);
    std::vector<int> parents(records.size(), -1);
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].ParentIndex != 0)
            parents[i] = rowOf.value(records[i].ParentIndex, -1);
    // A row whose chain of parents never reaches the root would be shown nowhere.
    std::vector<char> state(records.size(), 0); // 0 unknown, 1 on the walk, 2 reaches the root
    for (size_t start = 0; start < records.size(); ++start) {
        std::vector<int> walk;
        int at = static_cast<int>(start);
        while (at >= 0 && state[at] == 0) {
            state[at] = 1;
            walk.push_back(at);
            at = parents[at];
        }
        if (at >= 0 && state[at] == 1) // came round: the loop is cut where it was entered
            parents[at] = -1;
        for (int row : walk)
            state[row] = 2;
    }
    return parents;
}

std::vector<TGroupIndex> RecordsOf(const TRows& rows) {
    std::vector<TGroupIndex> records;
    records.reserve(rows.size());
    for (const QStringList& row : rows)
        records.push_back({row.at(0).toInt(), row.at(1).toInt()});
    return records;
}

} // namespace

void TCardTree::LoadTree() {
    SqlText = LoadStatement();
    const TRows rows = DbAccess->ReadTexts(SqlText);
    const std::vector<TGroupIndex> records = RecordsOf(rows);
    const std::vector<int> parents = ParentRows(records);

    // New nodes are linked to each other while still outside the view, then handed to the
    // view in one call per parent that is already in it.
    std::vector<TGroupNode*> nodes;
    nodes.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i)
        nodes.push_back(MakeNode(records[i], rows.at(static_cast<qsizetype>(i)).at(2), false));
    QList<QTreeWidgetItem*> top;
    for (size_t i = 0; i < records.size(); ++i) {
        if (parents[i] >= 0)
            nodes[static_cast<size_t>(parents[i])]->addChild(nodes[i]);
        else
            top.append(nodes[i]);
    }
    LastRecord = nodes.empty() ? nullptr : &nodes.back()->Record;
    {
        TRedrawPause pause(View);
        if (RootNode)
            RootNode->addChildren(top);
        else
            View->addTopLevelItems(top);
    }
    if (RootNode)
        RootNode->setExpanded(true);
}

namespace {

// Puts node among parent's children where ascending indexes put it.
void InsertInOrder(QTreeWidgetItem* parent, QTreeWidgetItem* node) {
    const qint32 index = TCardTree::RecordOf(node)->SelfIndex;
    int low = 0;
    int high = parent->childCount();
    while (low < high) {
        const int middle = (low + high) / 2;
        const TGroupIndex* record = TCardTree::RecordOf(parent->child(middle));
        if (record && record->SelfIndex <= index)
            low = middle + 1;
        else
            high = middle;
    }
    parent->insertChild(low, node);
}

// Moves node under parent; the view forgets which of the nodes it carries were expanded or
// current, so they are told again.
void MoveKeepingState(QTreeWidget* view, QTreeWidgetItem* node, QTreeWidgetItem* parent) {
    QList<QTreeWidgetItem*> expanded;
    bool holdsCurrent = false;
    QList<QTreeWidgetItem*> todo{node};
    while (!todo.isEmpty()) {
        QTreeWidgetItem* item = todo.takeLast();
        if (item->isExpanded())
            expanded << item;
        holdsCurrent = holdsCurrent || item == view->currentItem();
        for (int i = 0; i < item->childCount(); ++i)
            todo << item->child(i);
    }
    QTreeWidgetItem* current = view->currentItem();
    node->parent()->removeChild(node);
    InsertInOrder(parent, node);
    for (QTreeWidgetItem* item : std::as_const(expanded))
        item->setExpanded(true);
    if (holdsCurrent)
        view->setCurrentItem(current);
}

bool HasAncestorIn(QTreeWidgetItem* node, const QSet<QTreeWidgetItem*>& nodes) {
    for (QTreeWidgetItem* up = node->parent(); up; up = up->parent())
        if (nodes.contains(up))
            return true;
    return false;
}

} // namespace

void TCardTree::Refresh() {
    if (!RootNode)
        return LoadTree();
    SqlText = LoadStatement();
    const TRows rows = DbAccess->ReadTexts(SqlText);
    QHash<qint32, TGroupNode*> stale; // every node not yet matched to a row
    bool unique = true;
    for (QTreeWidgetItemIterator it(View); *it; ++it) {
        const TGroupIndex* record = RecordOf(*it);
        if (!record || *it == RootNode)
            continue;
        unique = unique && !stale.contains(record->SelfIndex);
        stale.insert(record->SelfIndex, static_cast<TGroupNode*>(*it));
    }
    // Many new or moved nodes go in faster all at once, and doubled indexes only LoadTree
    // places as it always has. Rows come in ascending index: doubles are neighbours.
    const std::vector<TGroupIndex> records = RecordsOf(rows);
    int moves = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        unique = unique && (i == 0 || records[i - 1].SelfIndex != records[i].SelfIndex);
        const TGroupNode* node = stale.value(records[i].SelfIndex);
        moves += !node || node->Record.ParentIndex != records[i].ParentIndex;
    }
    if (!unique || moves > 500) {
        TRedrawPause pause(View);
        qDeleteAll(RootNode->takeChildren());
        LastRecord = nullptr;
        return LoadTree();
    }

    // Every row's node first, then each under its parent (as LoadTree places it): a parent may
    // come after its child in the rows. A node to go under one of its own descendants (two
    // groups that swapped places) is placed by LoadTree.
    const std::vector<int> parents = ParentRows(records);
    for (size_t i = 0; i < records.size(); ++i) {
        TGroupNode* node = stale.value(records[i].SelfIndex);
        TGroupNode* parent = parents[i] >= 0
                                 ? stale.value(records[static_cast<size_t>(parents[i])].SelfIndex)
                                 : nullptr;
        for (QTreeWidgetItem* up = parent; node && up; up = up->parent())
            if (up == node) {
                TRedrawPause pause(View);
                qDeleteAll(RootNode->takeChildren());
                LastRecord = nullptr;
                return LoadTree();
            }
    }
    TRedrawPause pause(View);
    std::vector<TGroupNode*> nodes(records.size(), nullptr);
    for (size_t i = 0; i < records.size(); ++i) {
        const QString& name = rows.at(static_cast<qsizetype>(i)).at(2);
        TGroupNode* node = stale.take(records[i].SelfIndex);
        if (!node) {
            node = MakeNode(records[i], name, false);
        } else if (node->text(0) != name) {
            node->setText(0, name);
        }
        node->Record.ParentIndex = records[i].ParentIndex;
        nodes[i] = node;
        LastRecord = &node->Record;
    }
    for (size_t i = 0; i < records.size(); ++i) {
        QTreeWidgetItem* parent =
            parents[i] >= 0 ? nodes[static_cast<size_t>(parents[i])] : RootNode;
        TGroupNode* node = nodes[i];
        if (!node->parent() && !node->treeWidget())
            InsertInOrder(parent, node);
        else if (node->parent() != parent)
            MoveKeepingState(View, node, parent);
    }
    // What is left lost its row; its subtree holds no living node any more.
    const QSet<QTreeWidgetItem*> gone(stale.cbegin(), stale.cend());
    for (QTreeWidgetItem* node : gone)
        if (!HasAncestorIn(node, gone))
            delete node;
    if (rows.isEmpty())
        LastRecord = nullptr;
}

int TCardTree::MaxIndex() const {
    qint32 largest = 0;
    for (QTreeWidgetItemIterator it(View); *it; ++it)
        if (const TGroupIndex* record = RecordOf(*it))
            largest = std::max(largest, record->SelfIndex);
    return largest;
}

QTreeWidgetItem* TCardTree::Selected() const {
    const QList<QTreeWidgetItem*> selected = View->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

QTreeWidgetItem* TCardTree::NodeOfIndex(int selfIndex) const {
    for (QTreeWidgetItemIterator it(View); *it; ++it)
        if (const TGroupIndex* record = RecordOf(*it); record && record->SelfIndex == selfIndex)
            return *it;
    return nullptr;
}

int TCardTree::SelectedIndex() const {
    const TGroupIndex* record = RecordOf(Selected());
    return record ? record->SelfIndex : 0;
}

QTreeWidgetItem* TCardTree::AddGroup(const QString& name) {
    QTreeWidgetItem* parent = Selected();
    if (!parent)
        parent = RootNode;
    TGroupIndex record;
    record.ParentIndex = SelectedIndex();
    // The view may not know every group of the file: the index comes from the file.
    SqlText = AddGroupAtNextIndexStatement(TableName, record.ParentIndex, name);
    ExecSql(SqlText);
    record.SelfIndex = GetIntValue(FormatSql(
        QStringLiteral("select SelfIndex from %s where rowid=last_insert_rowid()"), {TableName}));
    TGroupNode* node = MakeNode(record, name, false);
    if (parent) {
        parent->addChild(node);
        parent->setExpanded(true);
    } else {
        View->addTopLevelItem(node);
    }
    LastRecord = &node->Record;
    return node;
}

QString TCardTree::AddGroupStatement(const QString& table, int selfIndex, int parentIndex,
                                     const QString& name) {
    return FormatSql(
        QStringLiteral("insert into %s(SelfIndex,ParentIndex,TypeName) values (%s,%s,'%s')"),
        {table, SqlNum(selfIndex), SqlNum(parentIndex), name});
}

QString TCardTree::AddGroupAtNextIndexStatement(const QString& table, int parentIndex,
                                                const QString& name) {
    return FormatSql(QStringLiteral("insert into %s(SelfIndex,ParentIndex,TypeName) select "
                                    "coalesce(max(SelfIndex),0)+1,%s,'%s' from %s"),
                     {table, SqlNum(parentIndex), name, table});
}

QString TCardTree::PositionText(QTreeWidgetItem* node) {
    if (!node)
        return QString();
    QString text = node->text(0);
    for (QTreeWidgetItem* up = node->parent(); up; up = up->parent())
        text = up->text(0) + QStringLiteral("->") + text;
    return text;
}

bool TCardTree::NewGroup() {
    QTreeWidgetItem* selected = Selected();
    if (!selected)
        return false;
    const int parentIndex = SelectedIndex();
    QString name;
    if (AskGroupName(PositionText(selected), name) != 1)
        return false;
    QTreeWidgetItem* parent = NodeOfIndex(parentIndex);
    if (!parent)
        return false;
    if (Selected() != parent)
        View->setCurrentItem(parent);
    QTreeWidgetItem* node = AddGroup(name);
    View->setCurrentItem(node);
    return true;
}

bool TCardTree::RenameGroup(const QString& newName) {
    SqlText = FormatSql(QStringLiteral("update %s set TypeName='%s' where SelfIndex=%s "),
                        {TableName, newName, SqlNum(SelectedIndex())});
    ExecSql(SqlText);
    if (QTreeWidgetItem* node = Selected())
        node->setText(0, newName);
    return true;
}

void TCardTree::DeleteGroup() {
    QTreeWidgetItem* node = Selected();
    if (!node)
        throw EAppError(QStringLiteral("请选择要删除的分组！"));
    if (node == RootNode)
        throw EAppError(QStringLiteral("不能删除根分组！"));
    if (node->childCount() > 0)
        throw EAppError(QStringLiteral("还有下级分组，不能删除该分组！"));
    const int index = SelectedIndex();
    if (!AskYesNo(QStringLiteral("确定要删除 ") + node->text(0) +
                  QStringLiteral(" 分组吗？\n（可从回收站恢复）")))
        Abort();
    // The question runs its own loop: the group may be gone, or have a sub-group, by now.
    node = NodeOfIndex(index);
    if (!node || node->childCount() > 0)
        Abort();
    const QString n = SqlNum(index);
    // Only what is shown goes: a sub-group a sync pass stored meanwhile is not shown yet.
    if (GetIntValue(FormatSql(QStringLiteral("select count(*) from %s where ParentIndex=%s and "
                                             "SelfIndex<>%s"),
                              {TableName, n, n})) > 0) {
        Refresh();
        throw EAppError(QStringLiteral("还有下级分组，不能删除该分组！"));
    }
    SqlText = FormatSql(QStringLiteral("delete from %s where selfIndex=%s "), {TableName, n}) +
              BatchSeparator +
              FormatSql(QStringLiteral("delete from %s where ParentIndex=%s "), {TableName, n});
    // The group and its note go to the recycle bin on their way out.
    DbAccess->Write(
        [this, index](TConnection& connection) {
            PutGroupInBin(connection, index);
            for (const QString& piece : SplitBatch(SqlText))
                connection.Exec(piece);
        },
        SqlText);
    if (LastRecord == RecordOf(node))
        LastRecord = nullptr;
    delete node;
}
